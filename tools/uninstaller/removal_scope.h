// What one run of the uninstaller may touch, worked out before anything is
// removed: the record's own folders, and the system's folders (the
// platform's one list, platform/local_paths.h), which are never removed.
#pragma once

#include <string>
#include <vector>

namespace uninst {

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

// True for a network path (normalised) outside a network product folder:
// never touched.
bool isForeignNetworkPath(const RemovalScope& scope, const std::wstring& path);

// True when a file path (normalised) lies below one of the record's own
// folders and not in a system folder that lies inside that folder (a product
// folder chosen as C:\ holds the profiles).
bool isInOwnFolder(const RemovalScope& scope, const std::wstring& path);

// Why a folder (normalised, and canonical) is never removed: a root, a system
// folder or one that holds one, anything in the Windows folder, a UNC path
// outside a UNC product folder. Null when it may be.
const char* refusedFolder(const RemovalScope& scope, const std::wstring& folder, const std::wstring& canonical);

}  // namespace uninst
