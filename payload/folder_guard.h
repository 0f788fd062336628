// The folders the extractor writes into, held and checked.
//
// The installer runs elevated, and a product or simulator folder outside
// Program Files (C:\FS9, C:\TowerLink) may be changed by every user of the
// computer. A standard user could put a junction where a folder below it was
// ("modules" leading to C:\Windows\System32) and have the installer write
// there. So every folder that files go into is, before the first file (and
// again whenever it has become a reparse point since), asked through a handle
// where it really is (GetFinalPathNameByHandleW, Vista and later). Where that
// is not where its name says, and a level of the name is a link (a reparse
// point), it is refused when it leads into a folder of the system: the
// Windows folder, Program Files (either), ProgramData or the folder of the
// users' profiles. A link elsewhere is kept, since simulator folders are
// often moved to another drive that way; so is a substituted or mapped drive.
// The folders are not held open meanwhile: the installer makes again a folder
// that someone removed during the run.
// A symbolic link in place of a single file needs the right to create
// symbolic links, which standard users lack, and is not looked for.
#pragma once

#include <windows.h>

#include <string>
#include <vector>


class FolderGuard {
 public:
  // Whether files may go into folder (which exists); false with the last
  // error set (ERROR_ACCESS_DENIED for a link into a folder of the system).
  bool allows(const std::string& folder);

  // The system's own folders, long names, as allows compares them.
  const std::vector<std::wstring>& systemFolders();

 private:
  std::vector<std::wstring> systemFolders_;
  bool haveSystemFolders_ = false;
};
