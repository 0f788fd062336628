#include "pages/registry_text.h"

namespace {

constexpr DWORD kValueBytes = 260;

// Closes the key on every path out.
class OpenKey {
 public:
  OpenKey(HKEY root, const char* subKey) {
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

bool readRegistryText(HKEY root, const char* subKey, const char* valueName, std::string* out) {
  OpenKey key(root, subKey);
  if (key.get() == nullptr) return false;
  // One byte more than the value may hold, so that a value of the full 260
  // bytes without its own zero still gets one.
  char buffer[kValueBytes + 1] = {};
  DWORD size = kValueBytes;
  if (RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  buffer[size <= kValueBytes ? size : kValueBytes] = '\0';
  out->assign(buffer);  // up to the first zero byte
  return true;
}
