#include "tools/uninstaller/removal.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "tools/uninstaller/removal_plan.h"
#include "platform/handles.h"

namespace uninst {

namespace {

bool isGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

const char* pathProblemText(PathProblem p) {
  switch (p) {
    case PathProblem::Empty: return "the recorded path is empty";
    case PathProblem::NotAbsolute: return "the recorded path is not a full path";
    case PathProblem::DotComponent: return "the recorded path holds \".\" or \"..\"";
    case PathProblem::DevicePath: return "the recorded path is a device path";
    case PathProblem::None: break;
  }
  return "";
}

StepResult failed(const std::string& item, DWORD error, const std::string& reason) {
  StepResult r;
  r.status = StepStatus::Failed;
  r.error = error;
  r.item = item;
  r.reason = reason;
  return r;
}

StepResult kept(const std::string& item, const std::string& reason) {
  StepResult r;
  r.status = StepStatus::Kept;
  r.item = item;
  r.reason = reason;
  return r;
}

StepResult withStatus(StepStatus s) {
  StepResult r;
  r.status = s;
  return r;
}

std::string errorText(DWORD error) {
  return "error " + std::to_string(static_cast<unsigned long>(error));
}

// Identity of an existing file: volume serial and file index.
bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  std::string normalized;
  if (normalizePath(path, &normalized) != PathProblem::None) return false;
  std::wstring w = toSystemPath(normalized);
  if (w.empty()) return false;
  // No access rights are asked for, so a running image can still be opened.
  win::FileHandle h(CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return false;
  return GetFileInformationByHandle(h.get(), info) != FALSE;
}

// One folder of the tree that deleteEmptyFolders walks.
struct FolderNode {
  std::wstring path;
  std::string ansiPath;  // for the report
  size_t parent;         // index of the parent node; the top node points at itself
  bool blocked;          // holds a file, a link or a folder that stays
};

}  // namespace

std::wstring toSystemPath(const std::string& normalized) {
  if (normalized.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, normalized.data(), static_cast<int>(normalized.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, normalized.data(), static_cast<int>(normalized.size()), &w[0], n);
  // Folders are limited to MAX_PATH - 12 characters (room for an 8.3 name)
  // without the prefix; leave a margin for the "\*" of a folder listing.
  if (w.size() < MAX_PATH - 14) return w;
  if (w.size() >= 2 && w[0] == L'\\' && w[1] == L'\\') return L"\\\\?\\UNC\\" + w.substr(2);
  return L"\\\\?\\" + w;
}

bool isSameFile(const std::string& a, const std::string& b) {
  std::string na, nb;
  if (normalizePath(a, &na) == PathProblem::None && normalizePath(b, &nb) == PathProblem::None &&
      samePath(na, nb)) {
    return true;
  }
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!fileIdentity(a, &ia) || !fileIdentity(b, &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

StepResult deleteRecordedFile(const std::string& params, const RunningOriginal* original) {
  std::string path;
  PathProblem problem = normalizePath(params, &path);
  if (problem != PathProblem::None) return failed(params, ERROR_BAD_PATHNAME, pathProblemText(problem));
  std::wstring w = toSystemPath(path);
  if (w.empty()) return failed(path, ERROR_NO_UNICODE_TRANSLATION, "the path cannot be converted");

  DWORD attributes = GetFileAttributesW(w.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (isGone(error)) return withStatus(StepStatus::AlreadyGone);
    return failed(path, error, errorText(error));
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return failed(path, ERROR_DIRECTORY, "a folder is recorded as a file");
  }
  bool cleared = false;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    DWORD plain = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    cleared = SetFileAttributesW(w.c_str(), plain ? plain : FILE_ATTRIBUTE_NORMAL) != FALSE;
  }
  if (DeleteFileW(w.c_str())) return withStatus(StepStatus::Done);
  DWORD error = GetLastError();
  if (isGone(error)) return withStatus(StepStatus::AlreadyGone);

  if (original && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
      isSameFile(path, original->originalPath)) {
    std::string aside;
    std::wstring asideW;
    if (normalizePath(original->asidePath, &aside) == PathProblem::None) asideW = toSystemPath(aside);
    if (!asideW.empty() && MoveFileExW(w.c_str(), asideW.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return withStatus(StepStatus::Done);
    }
    error = GetLastError();
    // Another volume: the rename cannot take it out of the folder now.
    if (MoveFileExW(w.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      return failed(path, error, "in use; it will be removed when Windows restarts");
    }
  }
  if (cleared) SetFileAttributesW(w.c_str(), attributes);
  return failed(path, error, errorText(error));
}

StepResult deleteEmptyFolders(const std::string& params, const std::vector<std::string>& protectedFolders) {
  std::string top;
  PathProblem problem = normalizePath(params, &top);
  if (problem != PathProblem::None) return failed(params, ERROR_BAD_PATHNAME, pathProblemText(problem));
  if (pathDepth(top) == 0) return kept(top, "a drive or share root is never removed");
  for (const std::string& p : protectedFolders) {
    if (isSameOrInside(p, top)) return kept(top, "a system folder is never removed");
  }
  std::wstring topW = toSystemPath(top);
  if (topW.empty()) return failed(top, ERROR_NO_UNICODE_TRANSLATION, "the path cannot be converted");

  DWORD attributes = GetFileAttributesW(topW.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (isGone(error)) return withStatus(StepStatus::AlreadyGone);
    return failed(top, error, errorText(error));
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return failed(top, ERROR_DIRECTORY, "a file is recorded as a folder");
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kept(top, "a link to another folder");

  // Breadth-first listing, then removal from the last node back: every folder
  // comes after its parent in the list, so walking it backwards removes
  // children first. No recursion, so a deep tree cannot exhaust the stack.
  std::vector<FolderNode> nodes;
  nodes.push_back(FolderNode{topW, top, 0, false});
  StepResult firstFailure;
  bool haveFailure = false;
  for (size_t i = 0; i < nodes.size(); ++i) {
    std::wstring pattern = nodes[i].path + L"\\*";
    WIN32_FIND_DATAW found;
    win::FindHandle find(FindFirstFileW(pattern.c_str(), &found));
    if (!find.valid()) {
      DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) continue;  // empty
      nodes[i].blocked = true;
      if (!isGone(error) && !haveFailure) {
        firstFailure = failed(nodes[i].ansiPath, error, "cannot list the folder, " + errorText(error));
        haveFailure = true;
      }
      continue;
    }
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (!folder || link) {
        nodes[i].blocked = true;  // a file, or a link whose target is not ours
        continue;
      }
      std::string ansiName;
      int n = WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr);
      if (n > 1) {
        ansiName.resize(static_cast<size_t>(n - 1));
        WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, &ansiName[0], n, nullptr, nullptr);
      }
      std::wstring childW = nodes[i].path + L"\\" + name;
      // A child path that crosses the classic limit needs the long form.
      if (childW.size() >= MAX_PATH - 14 && childW.compare(0, 4, L"\\\\?\\") != 0) {
        childW = (childW.compare(0, 2, L"\\\\") == 0) ? L"\\\\?\\UNC\\" + childW.substr(2) : L"\\\\?\\" + childW;
      }
      nodes.push_back(FolderNode{childW, nodes[i].ansiPath + "\\" + ansiName, i, false});
    } while (FindNextFileW(find.get(), &found));
  }

  for (size_t i = nodes.size(); i-- > 0;) {
    FolderNode& node = nodes[i];
    if (!node.blocked) {
      BOOL removed = RemoveDirectoryW(node.path.c_str());
      DWORD error = removed ? ERROR_SUCCESS : GetLastError();
      if (!removed && error == ERROR_ACCESS_DENIED) {
        // A read-only folder cannot be removed until the attribute is cleared.
        DWORD a = GetFileAttributesW(node.path.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) &&
            SetFileAttributesW(node.path.c_str(), a & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
          removed = RemoveDirectoryW(node.path.c_str());
          error = removed ? ERROR_SUCCESS : GetLastError();
          if (!removed) SetFileAttributesW(node.path.c_str(), a);
        }
      }
      if (!removed && !isGone(error)) {
        node.blocked = true;
        // Something appeared in it meanwhile: it simply stays.
        if (error != ERROR_DIR_NOT_EMPTY && !haveFailure) {
          firstFailure = failed(node.ansiPath, error, errorText(error));
          haveFailure = true;
        }
      }
    }
    if (node.blocked && i != 0) nodes[node.parent].blocked = true;
  }
  if (haveFailure) return firstFailure;
  if (nodes[0].blocked) return kept(top, "it still holds files that were not installed");
  return withStatus(StepStatus::Done);
}

StepResult deleteRegistryTree(const std::string& params) {
  RegistryPath key;
  switch (parseRegistryPath(params, &key)) {
    case RegistryPathProblem::None: break;
    case RegistryPathProblem::UnknownRoot:
      return failed(params, ERROR_BAD_PATHNAME, "the recorded key has no known root");
    case RegistryPathProblem::NoSubkey:
      return failed(params, ERROR_BAD_PATHNAME, "the recorded key is a whole root");
    case RegistryPathProblem::Protected:
      return failed(params, ERROR_ACCESS_DENIED, "the recorded key is shared by the system");
  }
  HKEY root = HKEY_LOCAL_MACHINE;
  switch (key.root) {
    case RegistryRoot::LocalMachine: root = HKEY_LOCAL_MACHINE; break;
    case RegistryRoot::CurrentUser: root = HKEY_CURRENT_USER; break;
    case RegistryRoot::ClassesRoot: root = HKEY_CLASSES_ROOT; break;
    case RegistryRoot::Users: root = HKEY_USERS; break;
  }
  // SHDeleteKey removes the key with everything below it, like RegDeleteTree,
  // which older 32-bit systems lack.
  LSTATUS status = SHDeleteKeyA(root, key.subkey.c_str());
  if (status == ERROR_SUCCESS) return withStatus(StepStatus::Done);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return withStatus(StepStatus::AlreadyGone);
  return failed(params, static_cast<DWORD>(status), errorText(static_cast<DWORD>(status)));
}

std::vector<std::string> systemFolders() {
  std::vector<std::string> folders;
  auto add = [&folders](const char* text) {
    std::string normalized;
    if (text && *text && normalizePath(text, &normalized) == PathProblem::None) folders.push_back(normalized);
  };
  char buffer[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) add(buffer);
  n = GetSystemDirectoryA(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) add(buffer);
  DWORD t = GetTempPathA(MAX_PATH, buffer);
  if (t > 0 && t < MAX_PATH) add(buffer);
  static const int kFolders[] = {CSIDL_PROGRAM_FILES,   CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                                 CSIDL_PROGRAMS,        CSIDL_COMMON_PROGRAMS,  CSIDL_STARTMENU,
                                 CSIDL_COMMON_STARTMENU, CSIDL_PROFILE,         CSIDL_APPDATA,
                                 CSIDL_LOCAL_APPDATA,   CSIDL_COMMON_APPDATA,   CSIDL_PERSONAL,
                                 CSIDL_COMMON_DOCUMENTS, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY,
                                 CSIDL_WINDOWS,         CSIDL_SYSTEM,           CSIDL_SYSTEMX86};
  for (int csidl : kFolders) {
    char path[MAX_PATH + 1] = {0};
    if (SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path))) add(path);
  }
  return folders;
}

}  // namespace uninst
