#include "pages/registry_text.h"

#include "platform/handles.h"

namespace {

constexpr DWORD kValueBytes = 260;

}  // namespace

bool readRegistryText(HKEY root, const char* subKey, const char* valueName, std::string* out) {
  win::RegKey key;
  if (RegOpenKeyExA(root, subKey, 0, KEY_READ, key.receive()) != ERROR_SUCCESS) return false;
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
