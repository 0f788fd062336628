// Undoing one recorded event on the real machine: delete a file, remove a
// folder tree's empty folders, delete a registry key tree. What is already
// gone counts as done.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace uninst {

enum class StepStatus {
  Done = 0,         // removed now
  AlreadyGone = 1,  // nothing there: counts as done
  Kept = 2,         // left on purpose (a folder still holding files, a system
                    // folder); not an error
  Failed = 3,       // could not be removed, or the record's entry is unusable
};

struct StepResult {
  StepStatus status = StepStatus::Done;
  DWORD error = ERROR_SUCCESS;  // the system's code where a failure started; 0 otherwise
  std::string item;             // the path or key concerned (for Kept and Failed)
  std::string reason;           // a short text for the report (for Kept and Failed)
};

// The running original program, which the copy in the temporary folder
// replaces: its image cannot be deleted while it runs, but it can be renamed,
// so a DeleteFile of it moves it to asidePath instead (same volume only).
struct RunningOriginal {
  std::string originalPath;
  std::string asidePath;
};

// Deletes the file named by a DeleteFile event, clearing a read-only attribute
// first (and restoring it if the delete still fails). A folder is never
// deleted here. original may be null.
StepResult deleteRecordedFile(const std::string& params, const RunningOriginal* original);

// Removes the folder named by a DeleteEmptyDirs event and those of its
// subfolders that are empty, deepest first; never deletes a file and never
// follows a junction or symbolic link. A folder that still holds files is
// Kept. A folder that is, or holds, one of protectedFolders is Kept untouched.
StepResult deleteEmptyFolders(const std::string& params, const std::vector<std::string>& protectedFolders);

// Deletes the registry key named by a DeleteRegTree event with its subkeys
// and values.
StepResult deleteRegistryTree(const std::string& params);

// The system's own folders (Windows, system, Program Files, profiles, Start
// menu, temporary folder...), normalised; never removed by deleteEmptyFolders.
std::vector<std::string> systemFolders();

// A normalised ANSI path as the wide path the file calls take: converted from
// the ANSI code page, with the "\\?\" (or "\\?\UNC\") prefix when it is too
// long for the classic limit. Empty if the text cannot be converted.
std::wstring toSystemPath(const std::string& normalized);

// True when both paths name the same existing file (same volume and file
// index), or are the same text.
bool isSameFile(const std::string& a, const std::string& b);

}  // namespace uninst
