// Deleting one name of a held folder through its handle: the name is looked
// at and opened relative to the folder (platform/held_folder.h), checked
// through the handle to be what was recorded (a file, or a folder) and no
// link, and deleted through that handle. Nothing here takes a path.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"
#include "platform/held_folder.h"

namespace uninst {

struct Deletion {
  enum class Outcome {
    Removed,
    Gone,        // nothing of that name
    WrongKind,   // a folder where a file was recorded, or a file where a folder was
    Link,        // a link stands there, or the name leads out of the folder
    NotEmpty,    // a folder that still holds something
    NotDeleted,  // opening or deleting it failed (error): for a file, the caller may move it aside
    Failed,      // it could not be looked at (error)
  };
  Outcome outcome = Outcome::Removed;
  DWORD error = ERROR_SUCCESS;
};

// Deletes the file name of folder, clearing a read-only attribute first (and
// restoring it when the delete fails). When it stays (NotDeleted), *file
// holds it open with DELETE access where it could be opened.
Deletion deleteFileIn(const win::HeldFolder& folder, const std::wstring& name, win::FileHandle* file);

// Deletes the empty folder name of folder; one that holds anything stays
// (NotEmpty).
Deletion deleteFolderIn(const win::HeldFolder& folder, const std::wstring& name);

// Gives the open file (opened with DELETE access) the name asidePath
// (normalised) in another folder of the same volume, held as the chain holds
// its folders, replacing what that name held. 0 or the error
// (ERROR_NOT_SAME_DEVICE for another volume).
DWORD moveAside(HANDLE file, const std::wstring& asidePath);

}  // namespace uninst
