// Undoing one recorded event on the real machine: delete a file, remove the
// folders the installation emptied, delete a registry key tree. What is
// already gone counts as done.
//
// The uninstaller runs as administrator, but a product or simulator folder
// outside Program Files (C:\TowerLink, C:\FS9) may be writable by every user,
// who could put a junction or symbolic link where a recorded folder was. So
// nothing is removed by a name that passes through a link: every folder from
// the drive root down to the one that holds the item is opened in turn
// (FILE_FLAG_OPEN_REPARSE_POINT, without FILE_SHARE_DELETE, so that it cannot
// be renamed or replaced while it is held), refused when it is a reparse point
// by its attributes or by its handle, and, where GetFinalPathNameByHandleW
// exists (Vista and later), checked through its handle to be the child of the
// folder held above it. The item itself is opened the same way and deleted
// through its handle.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_names.h"

namespace uninst {

enum class StepStatus {
  Done = 0,         // removed now
  AlreadyGone = 1,  // nothing there: counts as done
  Kept = 2,         // left on purpose (a folder still holding files, a system
                    // folder); not an error
  Failed = 3,       // could not be removed, or the record's entry is unusable
                    // or refused: the record stays
};

struct StepResult {
  StepStatus status = StepStatus::Done;
  DWORD error = ERROR_SUCCESS;  // the system's code where a failure started; 0 otherwise
  std::string item;             // the path or key concerned (for Kept and Failed)
  std::string reason;           // a short text for the report (for Kept and Failed)
};

// The running original program, which the copy in its private folder
// replaces: its image cannot be deleted while it runs, but it can be renamed,
// so a DeleteFile of it moves it to asidePath instead (same volume only).
struct RunningOriginal {
  std::wstring originalPath;
  std::wstring asidePath;
};

// ANSI (the system's code page) and UTF-16, both ways (platform/file_names.h).
using win::narrow;
using win::widen;

// What one run may touch, worked out before anything is removed.
struct RemovalScope {
  // Folders whose files DeleteFile may remove (the record's own folders:
  // product folder, Start menu folder, model sets and the simulators' modules
  // folders), normalised, each as recorded and as the file system spells it.
  std::vector<std::wstring> ownFolders;
  // The system's folders, canonical: never removed, nor is a folder holding one.
  std::vector<std::wstring> refused;
  // The Windows folder, canonical: nothing inside it is removed.
  std::wstring windowsFolder;
  // Names of this computer, for "\\<name>\C$\..." forms.
  std::vector<std::wstring> localHosts;
  // The product folder (from the record's UninstallString), normalised; a UNC
  // path is accepted only inside it, and only when it is UNC itself.
  std::wstring productFolder;
};

// The system's folders, this computer's names and the Windows folder, with no
// folders of a record yet.
RemovalScope systemScope();

// Adds the folders of a record: its DeleteEmptyDirs params and its
// UninstallString (for the product folder). A recorded folder that is refused
// (a root, a system folder or one holding it, anything in the Windows folder,
// a UNC folder outside a UNC product folder) is not added, so no file is
// removed through it.
void addRecordFolders(RemovalScope* scope, const std::vector<std::string>& deleteEmptyDirsParams,
                      const std::string& uninstallString, const std::string& recordName);

// A normalised path with its 8.3 names expanded as far as it exists (the rest
// is kept as given). Never touches a UNC path: that would connect to the server.
std::wstring canonicalPath(const std::wstring& normalized);

// The wide path the file calls take for a normalised path: with the "\\?\"
// (or "\\?\UNC\") prefix, so that no limit of length applies and no name is
// reinterpreted.
std::wstring toSystemPath(const std::wstring& normalized);

class FolderChain;

class Remover {
 public:
  explicit Remover(RemovalScope scope);
  ~Remover();
  Remover(const Remover&) = delete;
  Remover& operator=(const Remover&) = delete;

  // Deletes the file named by a DeleteFile event, clearing a read-only
  // attribute first (and restoring it if the delete still fails). Refused
  // (Failed) when the path is not inside one of the scope's own folders, goes
  // through a link, or names a folder or a link. original may be null.
  StepResult deleteFile(const std::string& params, const RunningOriginal* original);

  // Removes what the installation emptied of the folder named by a
  // DeleteEmptyDirs event: each of its subfolders that is empty and that held,
  // itself or in a folder below it, a file of this record which is now gone
  // (deleteFile was called for it), deepest first; then the folder itself if
  // it is empty. Never deletes a file, never enters a link. A folder that
  // stays because it holds other things is Kept; a root, a system folder, a
  // folder holding one and anything in the Windows folder is Kept untouched.
  StepResult deleteEmptyFolders(const std::string& params);

  // Lets go of the folders held open for the last removal.
  void release();

 private:
  RemovalScope scope_;
  std::vector<std::wstring> heldFiles_;  // folders that held a recorded file now gone
  std::unique_ptr<FolderChain> chain_;
};

// Deletes the registry key named by a DeleteRegTree event with its subkeys
// and values; only a key below Software\Brightfold Labs is accepted.
StepResult deleteRegistryTree(const std::string& params);

// True when both paths name the same existing file (same volume and file
// index), or are the same text.
bool isSameFile(const std::wstring& a, const std::wstring& b);

}  // namespace uninst
