#include "wizard/strings.h"

#include <vector>

HINSTANCE g_instance = nullptr;

std::string loadResourceString(UINT id) {
  // LoadStringA reports only how much it copied, so a text that fills the
  // buffer to size - 1 may have been cut: double and read again.
  int size = 64;
  for (;;) {
    std::vector<char> buffer(static_cast<size_t>(size));
    int length = LoadStringA(g_instance, id, buffer.data(), size);
    if (length <= 0) return std::string();
    if (length < size - 1) return std::string(buffer.data(), static_cast<size_t>(length));
    if (size > (1 << 20)) return std::string(buffer.data(), static_cast<size_t>(length));  // string-table entries hold at most 65535 chars
    size *= 2;
  }
}
