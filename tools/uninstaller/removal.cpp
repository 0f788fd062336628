#include "tools/uninstaller/removal.h"

#include <shlwapi.h>

#include "tools/uninstaller/folder_chain.h"
#include "tools/uninstaller/handle_deletes.h"
#include "tools/uninstaller/removal_plan.h"

namespace uninst {

namespace {

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

// Whether the item at path is this program's running original: by its
// recorded path, else by the file's identity, through the item's handle where
// there is one. Without a handle only the restart-time removal is left, which
// goes by name anyway.
bool isRunningOriginal(const std::wstring& path, const win::FileHandle& file, const RunningOriginal& original) {
  if (!file.valid()) return win::isSameFile(path, original.originalPath);
  std::wstring originalPath;
  if (normalizePath(original.originalPath, &originalPath) == PathProblem::None && samePath(originalPath, path)) {
    return true;
  }
  return win::isSameFile(file.get(), original.originalPath);
}

}  // namespace

Remover::Remover(RemovalScope scope) : scope_(std::move(scope)), chain_(new FolderChain) {}

Remover::~Remover() = default;

void Remover::release() { chain_->release(); }

StepResult Remover::deleteFile(const std::string& params, const RunningOriginal* original) {
  std::wstring path;
  PathProblem problem = normalizePath(widen(params), &path, scope_.localHosts);
  if (problem != PathProblem::None) return failed(params, ERROR_BAD_PATHNAME, pathProblemText(problem));
  const std::string item = narrow(path);
  if (isForeignNetworkPath(scope_, path)) {
    return failed(item, ERROR_ACCESS_DENIED, "a network path outside the product folder is never touched");
  }
  if (!isInOwnFolder(scope_, path)) {
    return failed(item, ERROR_ACCESS_DENIED, "it lies outside the folders of this installation");
  }
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
  return removeHeldFile(path, original);
}

StepResult Remover::removeHeldFile(const std::wstring& path, const RunningOriginal* original) {
  const std::string item = narrow(path);
  win::FileHandle file;
  Deletion d = deleteFileIn(chain_->innermost(), win::leafName(path), &file);
  switch (d.outcome) {
    case Deletion::Outcome::Removed:
      heldFiles_.push_back(parentPath(path));
      return withStatus(StepStatus::Done);
    case Deletion::Outcome::Gone:
      heldFiles_.push_back(parentPath(path));
      return withStatus(StepStatus::AlreadyGone);
    case Deletion::Outcome::WrongKind: return failed(item, ERROR_DIRECTORY, "a folder is recorded as a file");
    case Deletion::Outcome::Link: return failed(item, ERROR_ACCESS_DENIED, "a link stands where the file was installed");
    case Deletion::Outcome::NotDeleted:
      if (original && (d.error == ERROR_ACCESS_DENIED || d.error == ERROR_SHARING_VIOLATION)) {
        return moveOriginalAside(path, *original, &file, d.error);
      }
      break;
    case Deletion::Outcome::NotEmpty:
    case Deletion::Outcome::Failed: break;
  }
  return failed(item, d.error, errorText(d.error));
}

StepResult Remover::moveOriginalAside(const std::wstring& path, const RunningOriginal& original, win::FileHandle* file,
                                      DWORD error) {
  const std::string item = narrow(path);
  const std::wstring name = win::leafName(path);
  // Where the file could not be opened for deletion at all, DELETE alone may
  // still be granted, which is all a rename needs.
  if (!file->valid()) {
    win::openRelative(chain_->innermost().get(), name, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, file);
  }
  if (!isRunningOriginal(path, *file, original)) return failed(item, error, errorText(error));
  // The running original: out of the folder by a rename through its handle
  // (its folder is still held, so the name cannot be redirected meanwhile).
  std::wstring aside;
  if (file->valid() && normalizePath(original.asidePath, &aside) == PathProblem::None) {
    error = moveAside(file->get(), aside);
    if (error == ERROR_SUCCESS) {
      heldFiles_.push_back(parentPath(path));
      return withStatus(StepStatus::Done);
    }
  }
  // Another volume: the rename cannot take it out of the folder now. The
  // restart-time removal is recorded by name: nothing else can be.
  file->reset();
  if (MoveFileExW(toSystemPath(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    return failed(item, error, "in use; it will be removed when Windows restarts");
  }
  return failed(item, error, errorText(error));
}

Remover::Fate Remover::removeFolder(const std::wstring& folder, bool isTop, std::string* why, DWORD* error) {
  FolderChain::Result held = chain_->hold(parentPath(folder));
  switch (held.outcome) {
    case FolderChain::Outcome::Held: break;
    case FolderChain::Outcome::Gone: return Fate::Gone;
    case FolderChain::Outcome::Link:
      *why = "its path goes through a link (" + narrow(held.at) + ")";
      *error = ERROR_ACCESS_DENIED;
      return Fate::Failed;
    case FolderChain::Outcome::Error:
      *error = held.error;
      *why = "cannot open the folder " + narrow(held.at) + ", " + errorText(held.error);
      return Fate::Failed;
  }
  Deletion d = deleteFolderIn(chain_->innermost(), win::leafName(folder));
  *error = d.error;
  switch (d.outcome) {
    case Deletion::Outcome::Removed: return Fate::Removed;
    case Deletion::Outcome::Gone: return Fate::Gone;
    case Deletion::Outcome::Link: return Fate::Link;
    case Deletion::Outcome::NotEmpty: return Fate::Stays;
    case Deletion::Outcome::WrongKind:
      if (!isTop) return Fate::Stays;
      *why = "a file is recorded as a folder";
      return Fate::Failed;
    case Deletion::Outcome::NotDeleted:
    case Deletion::Outcome::Failed: break;
  }
  *why = errorText(d.error);
  return Fate::Failed;
}

StepResult Remover::deleteEmptyFolders(const std::string& params) {
  std::wstring top;
  PathProblem problem = normalizePath(widen(params), &top, scope_.localHosts);
  if (problem != PathProblem::None) return failed(params, ERROR_BAD_PATHNAME, pathProblemText(problem));
  const std::string topItem = narrow(top);
  if (isForeignNetworkPath(scope_, top)) {
    return failed(topItem, ERROR_ACCESS_DENIED, "a network folder outside the product folder is never touched");
  }
  if (const char* why = refusedFolder(scope_, top, canonicalPath(top))) return kept(topItem, why);

  bool haveFailure = false;
  StepResult firstFailure;
  Fate topFate = Fate::Stays;
  std::string topWhy;
  for (const std::wstring& folder : foldersToTry(top, heldFiles_)) {
    const bool isTop = samePath(folder, top);
    std::string why = "it still holds files that were not installed";
    DWORD error = ERROR_SUCCESS;
    Fate fate = removeFolder(folder, isTop, &why, &error);
    if (fate == Fate::Failed && !haveFailure) {
      firstFailure = failed(narrow(folder), error, why);
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
