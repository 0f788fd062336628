#include "payload/folder_guard.h"

#include <shlobj.h>

#include "platform/file_names.h"
#include "platform/handles.h"

namespace {

// One spelling for comparing: "\\?\" and "\\?\UNC\" forms made plain, "/"
// as "\", no doubled or closing backslash (a root keeps its own), upper case.
std::wstring comparable(std::wstring p) {
  if (p.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    p = L"\\\\" + p.substr(8);
  } else if (p.compare(0, 4, L"\\\\?\\") == 0) {
    p = p.substr(4);
  }
  std::wstring out;
  for (size_t i = 0; i < p.size(); ++i) {
    wchar_t c = p[i] == L'/' ? L'\\' : p[i];
    if (c == L'\\' && i > 1 && !out.empty() && out.back() == L'\\') continue;
    out.push_back(c);
  }
  while (out.size() > 3 && out.back() == L'\\') out.pop_back();
  if (!out.empty()) CharUpperBuffW(&out[0], static_cast<DWORD>(out.size()));
  return out;
}

bool isSameOrInside(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || folder.back() == L'\\' || path[folder.size()] == L'\\';
}

std::wstring longForm(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD n = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  return (n > 0 && n < buffer.size()) ? std::wstring(buffer.data(), n) : path;
}

// Whether a level of path below its drive or share is a reparse point.
bool passesThroughALink(const std::wstring& comparablePath) {
  std::wstring p = comparablePath;
  while (p.size() > 3) {
    DWORD a = GetFileAttributesW(p.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    size_t slash = p.rfind(L'\\');
    if (slash == std::wstring::npos) break;
    p.resize(slash);
  }
  return false;
}

}  // namespace

const std::vector<std::wstring>& FolderGuard::systemFolders() {
  if (haveSystemFolders_) return systemFolders_;
  haveSystemFolders_ = true;
  auto add = [this](const std::wstring& path) {
    if (path.size() < 3) return;  // never a whole drive
    for (const std::wstring& p : {comparable(path), comparable(longForm(path))}) {
      if (p.size() > 3) systemFolders_.push_back(p);
    }
  };
  wchar_t buffer[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) add(std::wstring(buffer, n));
  for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                    CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_WINDOWS}) {
    wchar_t path[MAX_PATH + 1] = {0};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) add(path);
  }
  // A 32-bit program on 64-bit Windows is told "Program Files (x86)" for
  // Program Files; the native one is only in the environment.
  for (const wchar_t* name : {L"ProgramW6432", L"CommonProgramW6432", L"ProgramData"}) {
    DWORD m = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    if (m > 0 && m < MAX_PATH) add(std::wstring(buffer, m));
  }
  // The folder that holds every user's profile.
  win::RegKey profiles;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, profiles.receive()) == ERROR_SUCCESS ||
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                    KEY_QUERY_VALUE, profiles.receive()) == ERROR_SUCCESS) {
    wchar_t data[MAX_PATH + 1] = {0};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(profiles.get(), L"ProfilesDirectory", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      data[size / sizeof(wchar_t)] = L'\0';
      wchar_t expanded[MAX_PATH + 1] = {0};
      DWORD e = ExpandEnvironmentStringsW(data, expanded, MAX_PATH);
      add(e > 0 && e <= MAX_PATH ? std::wstring(expanded) : std::wstring(data));
    }
  }
  return systemFolders_;
}

bool FolderGuard::allows(const std::string& folder) {
  const std::wstring named = win::widen(folder);
  if (named.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  win::FileHandle handle(CreateFileW(named.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) return false;
  const std::wstring real = comparable(win::finalPathByHandle(handle.get()));
  const std::wstring asNamed = comparable(named);
  if (real.empty() || real == asNamed || real == comparable(longForm(named)) || !passesThroughALink(asNamed)) {
    return true;
  }
  for (const std::wstring& system : systemFolders()) {
    if (isSameOrInside(real, system)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
  }
  return true;
}
