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

bool runsElevated() {
  KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return true;
  const int kTokenElevation = 20;
  DWORD elevated = 0;
  DWORD size = 0;
  if (GetTokenInformation(token.get(), static_cast<TOKEN_INFORMATION_CLASS>(kTokenElevation), &elevated,
                          sizeof(elevated), &size)) {
    return elevated != 0;
  }
  // No elevation on this system: administrator rights are the group's.
  GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size);
  std::vector<BYTE> data(size ? size : 1);
  if (!size || !GetTokenInformation(token.get(), TokenGroups, data.data(), size, &size)) return true;
  const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(data.data());
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if ((groups->Groups[i].Attributes & SE_GROUP_ENABLED) && IsWellKnownSid(groups->Groups[i].Sid, WinBuiltinAdministratorsSid)) {
      return true;
    }
  }
  return false;
}

std::wstring privateAccessList(bool elevated) {
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
  if (!user.empty()) sddl += (elevated ? L"(A;OICI;FRFX;;;" : L"(A;OICI;FA;;;") + user + L")";
  return sddl;
}

std::wstring privateAccessList() { return privateAccessList(runsElevated()); }

DWORD PrivateFolder::create(const wchar_t* prefix) {
  remove();
  const std::wstring temp = temporaryFolder();
  if (temp.empty()) return GetLastError() != ERROR_SUCCESS ? GetLastError() : static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
  DWORD error = temp_.open(temp, false);
  if (error != ERROR_SUCCESS) return error;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(privateAccessList().c_str(), SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    error = GetLastError();
    temp_.release();
    return error;
  }
  error = ERROR_ALREADY_EXISTS;
  for (int attempt = 0; attempt < 8 && error == ERROR_ALREADY_EXISTS; ++attempt) {
    wchar_t digits[20];
    unsigned long long bits = randomBits();
    wsprintfW(digits, L"-%08lx%08lx", static_cast<unsigned long>(bits >> 32),
              static_cast<unsigned long>(bits & 0xFFFFFFFFu));
    const std::wstring name = std::wstring(prefix) + digits;
    // Fails when anything of that name exists: a folder someone made in
    // advance is never used.
    error = temp_.createSubfolder(name, descriptor, &folder_);
    if (error == ERROR_SUCCESS) {
      name_ = name;
      path_ = temp + name + L"\\";
    }
  }
  LocalFree(descriptor);
  if (error != ERROR_SUCCESS) temp_.release();
  return error;
}

DWORD PrivateFolder::remove() {
  if (!temp_.valid()) return ERROR_SUCCESS;
  folder_.release();
  // By its name in the held temporary folder, the name itself: should its
  // owner have put something else there meanwhile, only an empty folder or a
  // link of theirs can go.
  DWORD error = name_.empty() ? static_cast<DWORD>(ERROR_SUCCESS) : temp_.remove(name_);
  temp_.release();
  name_.clear();
  path_.clear();
  return error;
}

std::wstring createPrivateFolder(const wchar_t* prefix, DWORD* error) {
  PrivateFolder folder;
  *error = folder.create(prefix);
  std::wstring path = folder.path();
  // Kept: the caller uses it by its name and removes it itself.
  if (*error == ERROR_SUCCESS) folder.keep();
  return path;
}

}  // namespace win
