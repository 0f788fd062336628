#include "platform/file_names.h"

#include <vector>

namespace win {

std::wstring widen(const std::string& ansi) {
  if (ansi.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &w[0], n);
  return w;
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &s[0], n, nullptr, nullptr);
  return s;
}

std::wstring finalPathByHandle(HANDLE h) {
  using GetFinalPathNameByHandleWFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  // Found through GetProcAddress: Windows XP lacks it.
  static const GetFinalPathNameByHandleWFn fn = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<GetFinalPathNameByHandleWFn>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "GetFinalPathNameByHandleW")))
                  : nullptr;
  }();
  if (!fn) return std::wstring();
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD n = fn(h, buffer.data(), static_cast<DWORD>(buffer.size()), 0 /* FILE_NAME_NORMALIZED | VOLUME_NAME_DOS */);
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n + 1);
  }
  return std::wstring();
}

}  // namespace win
