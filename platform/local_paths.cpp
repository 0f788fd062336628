#include "platform/local_paths.h"

#include <shlobj.h>

#include "platform/handles.h"

namespace win {

namespace {

// Identity of an open file: volume serial and file index.
bool identityOf(HANDLE h, BY_HANDLE_FILE_INFORMATION* info) { return GetFileInformationByHandle(h, info) != FALSE; }

bool identityOf(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
  std::wstring normalized;
  if (normalizePath(path, &normalized) != PathProblem::None) return false;
  // No access rights are asked for, so a running image can still be opened.
  FileHandle h(CreateFileW(toSystemPath(normalized).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return h.valid() && identityOf(h.get(), info);
}

bool sameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Adds a folder named by text, normalised and canonical.
void addFolder(std::vector<std::wstring>* folders, const std::wstring& text) {
  std::wstring normalized;
  if (text.empty() || normalizePath(text, &normalized) != PathProblem::None) return;
  folders->push_back(normalized);
  std::wstring canonical = canonicalPath(normalized);
  if (canonical != normalized) folders->push_back(canonical);
}

// A profile list value, its variables expanded.
void addProfileValue(std::vector<std::wstring>* folders, HKEY key, const wchar_t* value) {
  wchar_t data[MAX_PATH + 1] = {0};
  DWORD size = sizeof(data) - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) return;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return;
  data[size / sizeof(wchar_t)] = L'\0';
  wchar_t expanded[MAX_PATH + 1] = {0};
  DWORD e = ExpandEnvironmentStringsW(data, expanded, MAX_PATH);
  addFolder(folders, e > 0 && e <= MAX_PATH ? std::wstring(expanded) : std::wstring(data));
}

// Every profile of the computer, and the folders that hold them.
void addProfiles(std::vector<std::wstring>* folders) {
  const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  RegKey profiles;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ | KEY_WOW64_64KEY, profiles.receive()) !=
          ERROR_SUCCESS &&
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, profiles.receive()) != ERROR_SUCCESS) {
    return;
  }
  for (const wchar_t* value : {L"ProfilesDirectory", L"Default", L"Public", L"ProgramData", L"AllUsersProfile"}) {
    addProfileValue(folders, profiles.get(), value);
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(profiles.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    RegKey profile;
    if (RegOpenKeyExW(profiles.get(), name, 0, KEY_READ, profile.receive()) == ERROR_SUCCESS) {
      addProfileValue(folders, profile.get(), L"ProfileImagePath");
    }
  }
}

// The folders the system and the shell name.
void addKnownFolders(SystemFolders* system) {
  wchar_t buffer[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    std::wstring windows;
    if (normalizePath(std::wstring(buffer, n), &windows) == PathProblem::None) system->windowsFolder = canonicalPath(windows);
    addFolder(&system->folders, std::wstring(buffer, n));
  }
  n = GetSystemDirectoryW(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) addFolder(&system->folders, std::wstring(buffer, n));
  DWORD t = GetTempPathW(MAX_PATH, buffer);
  if (t > 0 && t < MAX_PATH) addFolder(&system->folders, std::wstring(buffer, t));
  static const int kFolders[] = {CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86,        CSIDL_PROGRAM_FILES_COMMON,
                                 CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_PROGRAMS,         CSIDL_COMMON_PROGRAMS,
                                 CSIDL_STARTMENU,        CSIDL_COMMON_STARTMENU,        CSIDL_PROFILE,
                                 CSIDL_APPDATA,          CSIDL_LOCAL_APPDATA,           CSIDL_COMMON_APPDATA,
                                 CSIDL_PERSONAL,         CSIDL_COMMON_DOCUMENTS,        CSIDL_DESKTOPDIRECTORY,
                                 CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_WINDOWS,          CSIDL_SYSTEM,
                                 CSIDL_SYSTEMX86};
  for (int csidl : kFolders) {
    wchar_t path[MAX_PATH + 1] = {0};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) addFolder(&system->folders, path);
  }
  // A 32-bit program on 64-bit Windows is told "Program Files (x86)" for
  // Program Files; the native one is only in the environment.
  for (const wchar_t* name : {L"ProgramW6432", L"CommonProgramW6432", L"ProgramFiles", L"ProgramData", L"PUBLIC",
                              L"SystemDrive"}) {
    DWORD m = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    if (m > 0 && m < MAX_PATH) addFolder(&system->folders, std::wstring(buffer, m));
  }
}

}  // namespace

std::wstring canonicalPath(const std::wstring& normalized) {
  if (normalized.empty() || isUncPath(normalized)) return normalized;
  std::wstring tail;
  std::wstring p = normalized;
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  while (true) {
    std::wstring system = toSystemPath(p);
    DWORD n = GetLongPathNameW(system.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n >= buffer.size()) {
      buffer.resize(n + 1);
      n = GetLongPathNameW(system.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (n > 0 && n < buffer.size()) {
      std::wstring out;
      if (normalizePath(plainForm(std::wstring(buffer.data(), n)) + tail, &out) == PathProblem::None) return out;
      return normalized;
    }
    if (pathDepth(p) == 0) return normalized;
    tail = L"\\" + leafName(p) + tail;
    p = parentPath(p);
  }
}

bool isSameFile(HANDLE file, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION a, b;
  return identityOf(file, &a) && identityOf(path, &b) && sameIdentity(a, b);
}

bool isSameFile(const std::wstring& a, const std::wstring& b) {
  std::wstring na, nb;
  if (normalizePath(a, &na) == PathProblem::None && normalizePath(b, &nb) == PathProblem::None && samePath(na, nb)) {
    return true;
  }
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return identityOf(a, &ia) && identityOf(b, &ib) && sameIdentity(ia, ib);
}

SystemFolders systemFolders() {
  SystemFolders system;
  addKnownFolders(&system);
  addProfiles(&system.folders);
  // This computer under its own names, for "\\<name>\C$\" forms.
  for (COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
    wchar_t name[256];
    DWORD length = 256;
    if (GetComputerNameExW(format, name, &length) && length > 0) system.localHosts.push_back(std::wstring(name, length));
  }
  return system;
}

}  // namespace win
