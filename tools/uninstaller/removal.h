// Undoing one recorded event on the real machine: delete a file, remove the
// folders the installation emptied, delete a registry key tree. What is
// already gone counts as done.
//
// The uninstaller runs as administrator, but a product or simulator folder
// outside Program Files (C:\TowerLink, C:\FS9) may be writable by every user,
// who could put a junction or symbolic link where a recorded folder was. So
// nothing is removed by a name that passes through a link: every folder from
// the drive root down to the one that holds the item is opened relative to
// the one above and held (folder_chain.h: never through a link, without
// FILE_SHARE_DELETE so that it cannot be renamed or replaced while it is
// held, and, where GetFinalPathNameByHandleW exists, checked through its
// handle to be the child of the folder held above it). The item itself is
// opened relative to the held folder, checked and deleted through its handle
// (handle_deletes.h).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_names.h"
#include "platform/handles.h"
#include "platform/local_paths.h"
#include "tools/uninstaller/removal_scope.h"

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

// The path forms the file calls take, and the identity of files, are the
// platform's (platform/path_forms.h, platform/local_paths.h).
using win::canonicalPath;
using win::isSameFile;
using win::toSystemPath;

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
  enum class Fate { Removed, Gone, Stays, Link, Failed };
  // A file in the folder the chain holds, once the path passed the scope.
  StepResult removeHeldFile(const std::wstring& path, const RunningOriginal* original);
  // Moves the running original aside after its delete failed with error.
  StepResult moveOriginalAside(const std::wstring& path, const RunningOriginal& original, win::FileHandle* file,
                               DWORD error);
  // One folder that a DeleteEmptyDirs may remove: its fate, and for Failed
  // (and Stays) the reason and code.
  Fate removeFolder(const std::wstring& folder, bool isTop, std::string* why, DWORD* error);

  RemovalScope scope_;
  std::vector<std::wstring> heldFiles_;  // folders that held a recorded file now gone
  std::unique_ptr<FolderChain> chain_;
};

// Deletes the registry key named by a DeleteRegTree event with its subkeys
// and values; only a key below Software\Brightfold Labs is accepted.
StepResult deleteRegistryTree(const std::string& params);

}  // namespace uninst
