#include "tools/uninstaller/handle_deletes.h"

#include "platform/path_forms.h"

namespace uninst {

namespace {

bool isGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

Deletion outcome(Deletion::Outcome o, DWORD error = ERROR_SUCCESS) {
  Deletion d;
  d.outcome = o;
  d.error = error;
  return d;
}

// What the name holds, by its name in the folder (a link by its name alone
// too, which Wine shows only there): Removed when it is of the kind wanted
// (a folder when folder is set) and may be opened for deletion.
Deletion lookAt(const win::HeldFolder& folder, const std::wstring& name, bool wantFolder) {
  win::NameInfo info;
  DWORD error = folder.inspect(name, &info);
  if (error != ERROR_SUCCESS) return outcome(Deletion::Outcome::Failed, error);
  if (!info.exists) return outcome(Deletion::Outcome::Gone);
  if (((info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != wantFolder) {
    return outcome(Deletion::Outcome::WrongKind, ERROR_DIRECTORY);
  }
  if (info.isLink()) return outcome(Deletion::Outcome::Link);
  return outcome(Deletion::Outcome::Removed);
}

}  // namespace

Deletion deleteFileIn(const win::HeldFolder& folder, const std::wstring& name, win::FileHandle* file) {
  file->reset();
  Deletion seen = lookAt(folder, name, false);
  if (seen.outcome != Deletion::Outcome::Removed) return seen;
  DWORD attributes = 0;
  DWORD error = folder.openForDeletion(name, file, &attributes);
  if (error != ERROR_SUCCESS) return outcome(isGone(error) ? Deletion::Outcome::Gone : Deletion::Outcome::NotDeleted, error);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return outcome(Deletion::Outcome::WrongKind, ERROR_DIRECTORY);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return outcome(Deletion::Outcome::Link);
  error = win::deleteClearingReadOnly(file->get(), attributes);
  if (error != ERROR_SUCCESS) return outcome(Deletion::Outcome::NotDeleted, error);
  file->reset();  // the delete happens as the handle closes
  return outcome(Deletion::Outcome::Removed);
}

Deletion deleteFolderIn(const win::HeldFolder& folder, const std::wstring& name) {
  Deletion seen = lookAt(folder, name, true);
  if (seen.outcome != Deletion::Outcome::Removed) return seen;
  win::FileHandle h;
  DWORD attributes = 0;
  DWORD error = folder.openForDeletion(name, &h, &attributes);
  if (error != ERROR_SUCCESS) return outcome(isGone(error) ? Deletion::Outcome::Gone : Deletion::Outcome::Failed, error);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return outcome(Deletion::Outcome::Link);
  }
  error = win::deleteClearingReadOnly(h.get(), attributes);
  if (error == ERROR_SUCCESS) return outcome(Deletion::Outcome::Removed);
  return outcome(error == ERROR_DIR_NOT_EMPTY ? Deletion::Outcome::NotEmpty : Deletion::Outcome::Failed, error);
}

DWORD moveAside(HANDLE file, const std::wstring& asidePath) {
  win::HeldFolder aside;
  DWORD error = aside.open(win::parentPath(asidePath), false, nullptr, win::Links::Refused);
  if (error != ERROR_SUCCESS) return error;
  return aside.moveInto(file, win::leafName(asidePath), true);
}

}  // namespace uninst
