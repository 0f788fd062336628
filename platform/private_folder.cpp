#include "platform/private_folder.h"

#include <sddl.h>

#include <vector>

#include "platform/handles.h"

namespace win {

namespace {

std::wstring temporaryFolder() {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n > buffer.size()) {
    buffer.resize(n + 1);
    n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (n == 0 || n > buffer.size()) return std::wstring();
  std::wstring folder(buffer.data(), n);
  if (folder.back() != L'\\') folder.push_back(L'\\');
  return folder;
}

// 64 bits from the system's generator (RtlGenRandom, advapi32 since XP);
// without it, from clocks and ids, which only a name clash would reveal:
// the folder is never reused, so a guessed name gains nothing.
unsigned long long randomBits() {
  using RtlGenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
  unsigned long long value = 0;
  HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
  auto generate = advapi ? reinterpret_cast<RtlGenRandomFn>(
                               reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")))
                         : nullptr;
  if (generate && generate(&value, sizeof(value))) return value;
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  value = static_cast<unsigned long long>(counter.QuadPart) * 0x9E3779B97F4A7C15ull;
  value ^= (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^ GetTickCount();
  return value;
}

}  // namespace

std::wstring privateAccessList() {
  std::wstring user;
  KernelHandle token;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) {
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> data(size ? size : 1);
    LPWSTR text = nullptr;
    if (size && GetTokenInformation(token.get(), TokenUser, data.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(data.data())->User.Sid, &text)) {
      user = text;
      LocalFree(text);
    }
  }
  std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  if (!user.empty()) sddl += L"(A;OICI;FRFX;;;" + user + L")";
  return sddl;
}

std::wstring createPrivateFolder(const wchar_t* prefix, DWORD* error) {
  *error = ERROR_SUCCESS;
  const std::wstring temp = temporaryFolder();
  if (temp.empty()) {
    *error = GetLastError();
    return std::wstring();
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(privateAccessList().c_str(), SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    *error = GetLastError();
    return std::wstring();
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  std::wstring folder;
  for (int attempt = 0; attempt < 8 && folder.empty(); ++attempt) {
    wchar_t digits[20];
    unsigned long long bits = randomBits();
    wsprintfW(digits, L"-%08lx%08lx", static_cast<unsigned long>(bits >> 32),
              static_cast<unsigned long>(bits & 0xFFFFFFFFu));
    std::wstring candidate = temp + prefix + digits;
    // Fails when anything of that name exists: a folder someone made in
    // advance is never used.
    if (CreateDirectoryW(candidate.c_str(), &attributes)) {
      folder = candidate + L"\\";
    } else {
      *error = GetLastError();
      if (*error != ERROR_ALREADY_EXISTS) break;
    }
  }
  LocalFree(descriptor);
  if (!folder.empty()) *error = ERROR_SUCCESS;
  return folder;
}

}  // namespace win
