#include "tools/uninstaller/removal.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "tools/uninstaller/removal_plan.h"
#include "platform/handles.h"
#include "platform/held_folder.h"

namespace uninst {

namespace {

bool isGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

const char* pathProblemText(PathProblem p) {
  switch (p) {
    case PathProblem::Empty: return "the recorded path is empty";
    case PathProblem::NotAbsolute: return "the recorded path is not a full path";
    case PathProblem::DotComponent: return "the recorded path holds \".\", \"..\" or a name of dots and spaces";
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

std::string errorText(DWORD error) { return "error " + std::to_string(static_cast<unsigned long>(error)); }

// Case-insensitive for every letter the system folds, for two spellings that
// both came from the file system.
bool sameName(std::wstring a, std::wstring b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  CharUpperBuffW(&a[0], static_cast<DWORD>(a.size()));
  CharUpperBuffW(&b[0], static_cast<DWORD>(b.size()));
  return a == b;
}

// "\\?\C:\x" -> "C:\x", "\\?\UNC\s\x" -> "\\s\x", then normalised.
std::wstring plainForm(const std::wstring& path) {
  std::wstring p = path;
  if (p.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    p = L"\\\\" + p.substr(8);
  } else if (p.compare(0, 4, L"\\\\?\\") == 0) {
    p = p.substr(4);
  }
  std::wstring out;
  // Names from the file system can end in a dot only through "\\?\" forms;
  // keep them as they are rather than dropping the dot.
  if (normalizePath(p, &out) != PathProblem::None) return p;
  return out;
}

// The path the system resolves a handle to, in plain form; empty where the
// system lacks GetFinalPathNameByHandleW or cannot say.
std::wstring finalPathOf(HANDLE h) {
  std::wstring final = win::finalPathByHandle(h);
  return final.empty() ? final : plainForm(final);
}

// Whether the object behind h is the child of the folder whose final path is
// parentFinal; true when either is unknown (checked by attributes alone).
bool isChildOf(HANDLE h, const std::wstring& parentFinal) {
  if (parentFinal.empty()) return true;
  std::wstring final = finalPathOf(h);
  if (final.empty()) return true;
  return sameName(parentPath(final), parentFinal) && pathDepth(final) == pathDepth(parentFinal) + 1;
}

// The attributes of an open file or folder, from its handle alone; 0 on
// success (platform/held_folder.h: GetFileInformationByHandle would also ask
// the volume manager for the serial number, about a millisecond under Wine).
DWORD attributesOf(HANDLE h, DWORD* attributes) { return win::handleAttributes(h, attributes); }

// Opens an item inside a held folder to be deleted through its handle.
HANDLE openForDeletion(const std::wstring& systemPath) {
  return CreateFileW(systemPath.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Deletes an item opened with openForDeletion, clearing its read-only
// attribute first and restoring it when the item stays. 0 on success.
DWORD deleteThroughHandle(HANDLE h, DWORD attributes) {
  bool cleared = false;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    cleared = win::setAttributes(h, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) == ERROR_SUCCESS;
  }
  // A folder that is not empty gives ERROR_DIR_NOT_EMPTY and stays.
  DWORD error = win::deleteOnClose(h);
  if (error != ERROR_SUCCESS && cleared) win::setAttributes(h, attributes);
  return error;
}

// Identity of an existing file: volume serial and file index.
bool fileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
  std::wstring normalized;
  if (normalizePath(path, &normalized) != PathProblem::None) return false;
  // No access rights are asked for, so a running image can still be opened.
  win::FileHandle h(CreateFileW(toSystemPath(normalized).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return false;
  return GetFileInformationByHandle(h.get(), info) != FALSE;
}

// Refused for DeleteEmptyDirs and as a folder of the record: a root, a system
// folder or one that holds one, anything in the Windows folder, a UNC path
// outside a UNC product folder. Returns the reason, or null.
const char* refusedFolder(const RemovalScope& scope, const std::wstring& folder, const std::wstring& canonical) {
  if (isUncPath(folder) && !(isUncPath(scope.productFolder) && isSameOrInside(folder, scope.productFolder))) {
    return "a network folder outside the product folder is never touched";
  }
  if (pathDepth(folder) == 0 || pathDepth(canonical) == 0) return "a drive or share root is never removed";
  if (!scope.windowsFolder.empty() &&
      (isSameOrInside(folder, scope.windowsFolder) || isSameOrInside(canonical, scope.windowsFolder))) {
    return "nothing in the Windows folder is removed";
  }
  for (const std::wstring& s : scope.refused) {
    if (isSameOrInside(s, folder) || isSameOrInside(s, canonical)) return "a system folder is never removed";
  }
  return nullptr;
}

}  // namespace

std::wstring toSystemPath(const std::wstring& normalized) {
  if (normalized.empty()) return std::wstring();
  if (isUncPath(normalized)) return L"\\\\?\\UNC\\" + normalized.substr(2);
  return L"\\\\?\\" + normalized;
}

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
    size_t slash = p.rfind(L'\\');
    tail = L"\\" + p.substr(slash + 1) + tail;
    p = parentPath(p);
  }
}

// The folders from a drive root down to one folder, each held open so that it
// cannot be renamed or replaced meanwhile, and each checked to be a plain
// folder that is the child of the one above. Consecutive removals in the same
// folder reuse what is already held.
class FolderChain {
 public:
  enum class Outcome { Held, Gone, Link, Error };
  struct Result {
    Outcome outcome = Outcome::Held;
    DWORD error = ERROR_SUCCESS;
    std::wstring at;  // the folder where a link or an error was found
  };

  Result hold(const std::wstring& folder) {
    std::vector<std::wstring> levels;
    for (std::wstring f = folder;; f = parentPath(f)) {
      levels.insert(levels.begin(), f);
      if (pathDepth(f) == 0) break;
    }
    size_t keep = 0;
    while (keep < levels.size() && keep < held_.size() && held_[keep].path == levels[keep]) ++keep;
    held_.resize(keep);
    for (size_t i = keep; i < levels.size(); ++i) {
      Result r = open(levels[i]);
      if (r.outcome != Outcome::Held) {
        held_.clear();
        return r;
      }
    }
    return Result();
  }

  // The final path of the innermost folder held (empty when unknown).
  const std::wstring& innermostFinal() const {
    static const std::wstring none;
    return held_.empty() ? none : held_.back().final;
  }

  void release() { held_.clear(); }

 private:
  struct Level {
    std::wstring path;
    win::FileHandle handle;
    std::wstring final;
  };

  Result open(const std::wstring& path) {
    Result r;
    r.at = path;
    std::wstring system = toSystemPath(path);
    // Wine shows a Unix symbolic link as a reparse point only here: opened,
    // it is its target.
    DWORD attributes = GetFileAttributesW(system.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      r.error = GetLastError();
      r.outcome = isGone(r.error) ? Outcome::Gone : Outcome::Error;
      return r;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      r.outcome = Outcome::Gone;  // a file where a folder was: nothing recorded can be in there
      return r;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && pathDepth(path) > 0) {
      r.outcome = Outcome::Link;
      return r;
    }
    // Without FILE_SHARE_DELETE: nobody can rename or remove it while held.
    // Someone holding it with delete access already leaves it unpinned; the
    // checks below still apply.
    // Below the drive, by its name relative to the folder held above it
    // (platform/held_folder.h), so nothing done to the path meanwhile counts.
    // FILE_TRAVERSE makes the handle take part in sharing: one with
    // FILE_READ_ATTRIBUTES alone would hold nothing, and the folder could
    // still be renamed.
    const ACCESS_MASK access = FILE_READ_ATTRIBUTES | FILE_TRAVERSE;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    Level level;
    level.path = path;
    DWORD openError = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 2 && !level.handle.valid(); ++attempt) {
      if (held_.empty()) {
        level.handle.reset(CreateFileW(system.c_str(), access, share, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        openError = level.handle.valid() ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
      } else {
        openError = win::openRelative(held_.back().handle.get(), path.substr(path.rfind(L'\\') + 1),
                                      access, share, &level.handle);
      }
      if (openError != ERROR_SHARING_VIOLATION) break;
      share |= FILE_SHARE_DELETE;
    }
    if (!level.handle.valid()) {
      r.error = openError;
      r.outcome = isGone(r.error) ? Outcome::Gone : Outcome::Error;
      return r;
    }
    DWORD held = 0;
    r.error = attributesOf(level.handle.get(), &held);
    if (r.error != ERROR_SUCCESS) {
      r.outcome = Outcome::Error;
      return r;
    }
    if ((held & FILE_ATTRIBUTE_REPARSE_POINT) && pathDepth(path) > 0) {
      r.outcome = Outcome::Link;
      return r;
    }
    if (!(held & FILE_ATTRIBUTE_DIRECTORY)) {
      r.outcome = Outcome::Gone;
      return r;
    }
    level.final = finalPathOf(level.handle.get());
    if (!held_.empty() && !isChildOf(level.handle.get(), held_.back().final)) {
      r.outcome = Outcome::Link;
      return r;
    }
    held_.push_back(std::move(level));
    return r;
  }

  std::vector<Level> held_;
};

RemovalScope systemScope() {
  RemovalScope scope;
  std::vector<std::wstring>& folders = scope.refused;
  auto add = [&folders](const std::wstring& text) {
    std::wstring normalized;
    if (text.empty() || normalizePath(text, &normalized) != PathProblem::None) return;
    folders.push_back(normalized);
    std::wstring canonical = canonicalPath(normalized);
    if (canonical != normalized) folders.push_back(canonical);
  };
  wchar_t buffer[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    std::wstring windows;
    if (normalizePath(std::wstring(buffer, n), &windows) == PathProblem::None) scope.windowsFolder = canonicalPath(windows);
    add(std::wstring(buffer, n));
  }
  n = GetSystemDirectoryW(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) add(std::wstring(buffer, n));
  DWORD t = GetTempPathW(MAX_PATH, buffer);
  if (t > 0 && t < MAX_PATH) add(std::wstring(buffer, t));
  static const int kFolders[] = {CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86,        CSIDL_PROGRAM_FILES_COMMON,
                                 CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_PROGRAMS,         CSIDL_COMMON_PROGRAMS,
                                 CSIDL_STARTMENU,        CSIDL_COMMON_STARTMENU,        CSIDL_PROFILE,
                                 CSIDL_APPDATA,          CSIDL_LOCAL_APPDATA,           CSIDL_COMMON_APPDATA,
                                 CSIDL_PERSONAL,         CSIDL_COMMON_DOCUMENTS,        CSIDL_DESKTOPDIRECTORY,
                                 CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_WINDOWS,          CSIDL_SYSTEM,
                                 CSIDL_SYSTEMX86};
  for (int csidl : kFolders) {
    wchar_t path[MAX_PATH + 1] = {0};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) add(path);
  }
  // A 32-bit program on 64-bit Windows is told "Program Files (x86)" for
  // Program Files; the native one is only in the environment.
  for (const wchar_t* name : {L"ProgramW6432", L"CommonProgramW6432", L"ProgramFiles", L"ProgramData", L"PUBLIC",
                              L"SystemDrive"}) {
    DWORD m = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    if (m > 0 && m < MAX_PATH) add(std::wstring(buffer, m));
  }
  // Every profile of the computer, and the folders that hold them.
  win::RegKey profiles;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                    KEY_READ | KEY_WOW64_64KEY, profiles.receive()) == ERROR_SUCCESS ||
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0, KEY_READ,
                    profiles.receive()) == ERROR_SUCCESS) {
    auto addValue = [&add](HKEY key, const wchar_t* value) {
      wchar_t data[MAX_PATH + 1] = {0};
      DWORD size = sizeof(data) - sizeof(wchar_t);
      DWORD type = 0;
      if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) return;
      if (type != REG_SZ && type != REG_EXPAND_SZ) return;
      data[size / sizeof(wchar_t)] = L'\0';
      wchar_t expanded[MAX_PATH + 1] = {0};
      DWORD e = ExpandEnvironmentStringsW(data, expanded, MAX_PATH);
      add(e > 0 && e <= MAX_PATH ? std::wstring(expanded) : std::wstring(data));
    };
    for (const wchar_t* value : {L"ProfilesDirectory", L"Default", L"Public", L"ProgramData", L"AllUsersProfile"}) {
      addValue(profiles.get(), value);
    }
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD length = 256;
      if (RegEnumKeyExW(profiles.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      win::RegKey profile;
      if (RegOpenKeyExW(profiles.get(), name, 0, KEY_READ, profile.receive()) == ERROR_SUCCESS) {
        addValue(profile.get(), L"ProfileImagePath");
      }
    }
  }
  // This computer under its own names, for "\\<name>\C$\" forms.
  for (COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
    wchar_t name[256];
    DWORD length = 256;
    if (GetComputerNameExW(format, name, &length) && length > 0) scope.localHosts.push_back(std::wstring(name, length));
  }
  return scope;
}

void addRecordFolders(RemovalScope* scope, const std::vector<std::string>& deleteEmptyDirsParams,
                      const std::string& uninstallString, const std::string& recordName) {
  std::wstring product;
  std::wstring productText = productFolderOf(widen(uninstallString), widen(recordName));
  if (normalizePath(productText, &product, scope->localHosts) == PathProblem::None) scope->productFolder = product;
  std::vector<std::wstring> folders;
  if (!product.empty()) folders.push_back(product);
  for (const std::string& params : deleteEmptyDirsParams) {
    std::wstring f;
    if (normalizePath(widen(params), &f, scope->localHosts) == PathProblem::None) folders.push_back(f);
  }
  for (const std::wstring& f : recordFolders(folders)) {
    // A root or a system folder may be the product folder (Change... makes
    // the chosen folder itself the product folder), so only the Windows
    // folder and foreign network folders are refused here; the files of
    // system folders inside a record's folder are refused in deleteFile.
    std::wstring canonical = canonicalPath(f);
    if (isUncPath(f) && !(isUncPath(scope->productFolder) && isSameOrInside(f, scope->productFolder))) continue;
    if (!scope->windowsFolder.empty() &&
        (isSameOrInside(f, scope->windowsFolder) || isSameOrInside(canonical, scope->windowsFolder))) {
      continue;
    }
    scope->ownFolders.push_back(f);
    if (canonical != f) scope->ownFolders.push_back(canonical);
  }
}

bool isSameFile(const std::wstring& a, const std::wstring& b) {
  std::wstring na, nb;
  if (normalizePath(a, &na) == PathProblem::None && normalizePath(b, &nb) == PathProblem::None && samePath(na, nb)) {
    return true;
  }
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!fileIdentity(a, &ia) || !fileIdentity(b, &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

Remover::Remover(RemovalScope scope) : scope_(std::move(scope)), chain_(new FolderChain) {}

Remover::~Remover() = default;

void Remover::release() { chain_->release(); }

StepResult Remover::deleteFile(const std::string& params, const RunningOriginal* original) {
  std::wstring path;
  PathProblem problem = normalizePath(widen(params), &path, scope_.localHosts);
  if (problem != PathProblem::None) return failed(params, ERROR_BAD_PATHNAME, pathProblemText(problem));
  const std::string item = narrow(path);
  if (isUncPath(path) && !(isUncPath(scope_.productFolder) && isSameOrInside(path, scope_.productFolder))) {
    return failed(item, ERROR_ACCESS_DENIED, "a network path outside the product folder is never touched");
  }
  bool inside = false;
  for (const std::wstring& own : scope_.ownFolders) {
    if (!isSameOrInside(path, own) || samePath(path, own)) continue;
    // Not in a system folder that lies inside the record's folder (a product
    // folder chosen as C:\ holds the profiles).
    bool system = false;
    for (const std::wstring& s : scope_.refused) {
      system = system || (isSameOrInside(s, own) && !samePath(s, own) && isSameOrInside(path, s));
    }
    inside = inside || !system;
  }
  if (!inside) return failed(item, ERROR_ACCESS_DENIED, "it lies outside the folders of this installation");

  const std::wstring folder = parentPath(path);
  FolderChain::Result held = chain_->hold(folder);
  switch (held.outcome) {
    case FolderChain::Outcome::Held: break;
    case FolderChain::Outcome::Gone:
      heldFiles_.push_back(folder);
      return withStatus(StepStatus::AlreadyGone);
    case FolderChain::Outcome::Link:
      return failed(item, ERROR_ACCESS_DENIED, "its path goes through a link (" + narrow(held.at) + ")");
    case FolderChain::Outcome::Error:
      return failed(narrow(held.at), held.error, "cannot open the folder, " + errorText(held.error));
  }

  const std::wstring system = toSystemPath(path);
  DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (isGone(error)) {
      heldFiles_.push_back(folder);
      return withStatus(StepStatus::AlreadyGone);
    }
    return failed(item, error, errorText(error));
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return failed(item, ERROR_DIRECTORY, "a folder is recorded as a file");
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return failed(item, ERROR_ACCESS_DENIED, "a link stands where the file was installed");
  }

  DWORD error = ERROR_SUCCESS;
  {
    win::FileHandle h(openForDeletion(system));
    if (!h.valid()) {
      error = GetLastError();
      if (isGone(error)) {
        heldFiles_.push_back(folder);
        return withStatus(StepStatus::AlreadyGone);
      }
    } else {
      DWORD opened = 0;
      DWORD queried = attributesOf(h.get(), &opened);
      if (queried != ERROR_SUCCESS) return failed(item, queried, errorText(queried));
      if (opened & FILE_ATTRIBUTE_DIRECTORY) {
        return failed(item, ERROR_DIRECTORY, "a folder is recorded as a file");
      }
      if ((opened & FILE_ATTRIBUTE_REPARSE_POINT) || !isChildOf(h.get(), chain_->innermostFinal())) {
        return failed(item, ERROR_ACCESS_DENIED, "a link stands where the file was installed");
      }
      error = deleteThroughHandle(h.get(), opened);
      if (error == ERROR_SUCCESS) {
        heldFiles_.push_back(folder);
        return withStatus(StepStatus::Done);
      }
    }
  }

  if (original && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
      isSameFile(path, original->originalPath)) {
    // The running original: out of the folder by a rename (its parent is
    // still held, so the name cannot be redirected meanwhile).
    std::wstring aside;
    if (normalizePath(original->asidePath, &aside) == PathProblem::None &&
        MoveFileExW(system.c_str(), toSystemPath(aside).c_str(), MOVEFILE_REPLACE_EXISTING)) {
      heldFiles_.push_back(folder);
      return withStatus(StepStatus::Done);
    }
    error = GetLastError();
    // Another volume: the rename cannot take it out of the folder now.
    if (MoveFileExW(system.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      return failed(item, error, "in use; it will be removed when Windows restarts");
    }
  }
  return failed(item, error, errorText(error));
}

StepResult Remover::deleteEmptyFolders(const std::string& params) {
  std::wstring top;
  PathProblem problem = normalizePath(widen(params), &top, scope_.localHosts);
  if (problem != PathProblem::None) return failed(params, ERROR_BAD_PATHNAME, pathProblemText(problem));
  const std::string topItem = narrow(top);
  if (isUncPath(top) && !(isUncPath(scope_.productFolder) && isSameOrInside(top, scope_.productFolder))) {
    return failed(topItem, ERROR_ACCESS_DENIED, "a network folder outside the product folder is never touched");
  }
  if (const char* why = refusedFolder(scope_, top, canonicalPath(top))) return kept(topItem, why);

  enum class Fate { Removed, Gone, Stays, Link, Failed };
  bool haveFailure = false;
  StepResult firstFailure;
  Fate topFate = Fate::Stays;
  std::string topWhy;
  for (const std::wstring& folder : foldersToTry(top, heldFiles_)) {
    const bool isTop = samePath(folder, top);
    const std::string item = narrow(folder);
    Fate fate = Fate::Stays;
    std::string why = "it still holds files that were not installed";
    DWORD error = ERROR_SUCCESS;
    FolderChain::Result held = chain_->hold(parentPath(folder));
    if (held.outcome == FolderChain::Outcome::Gone) {
      fate = Fate::Gone;
    } else if (held.outcome == FolderChain::Outcome::Link) {
      fate = Fate::Failed;
      why = "its path goes through a link (" + narrow(held.at) + ")";
      error = ERROR_ACCESS_DENIED;
    } else if (held.outcome == FolderChain::Outcome::Error) {
      fate = Fate::Failed;
      error = held.error;
      why = "cannot open the folder " + narrow(held.at) + ", " + errorText(error);
    } else {
      const std::wstring system = toSystemPath(folder);
      DWORD attributes = GetFileAttributesW(system.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
        fate = isGone(error) ? Fate::Gone : Fate::Failed;
        why = errorText(error);
      } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        fate = isTop ? Fate::Failed : Fate::Stays;
        error = ERROR_DIRECTORY;
        why = isTop ? "a file is recorded as a folder" : why;
      } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        fate = Fate::Link;
      } else {
        win::FileHandle h(openForDeletion(system));
        DWORD opened = 0;
        if (!h.valid()) {
          error = GetLastError();
          fate = isGone(error) ? Fate::Gone : Fate::Failed;
          why = errorText(error);
        } else if ((error = attributesOf(h.get(), &opened)) != ERROR_SUCCESS) {
          fate = Fate::Failed;
          why = errorText(error);
        } else if ((opened & FILE_ATTRIBUTE_REPARSE_POINT) || !(opened & FILE_ATTRIBUTE_DIRECTORY) ||
                   !isChildOf(h.get(), chain_->innermostFinal())) {
          fate = Fate::Link;
        } else {
          error = deleteThroughHandle(h.get(), opened);
          if (error == ERROR_SUCCESS) {
            fate = Fate::Removed;
          } else if (error == ERROR_DIR_NOT_EMPTY) {
            fate = Fate::Stays;
          } else {
            fate = Fate::Failed;
            why = errorText(error);
          }
        }
      }
    }
    if (fate == Fate::Failed && !haveFailure) {
      firstFailure = failed(item, error, why);
      haveFailure = true;
    }
    if (isTop) {
      topFate = fate;
      topWhy = why;
    }
  }
  // The folder above is held no longer than needed: the next event may be
  // the removal of that very folder.
  chain_->release();
  if (haveFailure) return firstFailure;
  switch (topFate) {
    case Fate::Removed: return withStatus(StepStatus::Done);
    case Fate::Gone: return withStatus(StepStatus::AlreadyGone);
    case Fate::Link: return kept(topItem, "a link to another folder");
    case Fate::Stays:
    case Fate::Failed: break;
  }
  return kept(topItem, topWhy);
}

StepResult deleteRegistryTree(const std::string& params) {
  RegistryPath key;
  switch (parseRegistryPath(widen(params), &key)) {
    case RegistryPathProblem::None: break;
    case RegistryPathProblem::UnknownRoot:
      return failed(params, ERROR_BAD_PATHNAME, "the recorded key has no known root");
    case RegistryPathProblem::NoSubkey:
      return failed(params, ERROR_BAD_PATHNAME, "the recorded key is a whole root");
    case RegistryPathProblem::Protected:
      return failed(params, ERROR_ACCESS_DENIED, "the recorded key is not one of Brightfold Labs' own keys");
  }
  HKEY root = key.root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  // SHDeleteKey removes the key with everything below it, like RegDeleteTree,
  // which older 32-bit systems lack.
  LSTATUS status = SHDeleteKeyW(root, key.subkey.c_str());
  if (status == ERROR_SUCCESS) return withStatus(StepStatus::Done);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return withStatus(StepStatus::AlreadyGone);
  return failed(params, static_cast<DWORD>(status), errorText(static_cast<DWORD>(status)));
}

}  // namespace uninst
