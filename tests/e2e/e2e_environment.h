// The machine as an installation finds and leaves it, inside the test prefix:
// Flight Simulator versions installed the way Flight Simulator leaves them
// (registry values and folders), what setup.exe is expected to write for a
// scenario, readers for what it did write, and a guard that puts the prefix
// back as it was found.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace e2e {

// A Unix path as Wine sees it (drive Z: is the Unix root); a Windows path
// keeps its drive, forward slashes become backslashes either way.
std::string windowsPath(std::string path);

// Paths of this build tree, as Windows paths (drive Z: is the Unix root).
std::string setupExe();          // the tree's setup.exe (sample payload), or TL_E2E_SETUP_EXE
std::string damagedSetupExe();   // an installer whose payload lacks the VIP model set
std::string sampleTree();        // the sample product tree setup.exe carries
std::string scratchRoot();       // C:\tl-e2e: simulator folders and other targets

// Flight Simulator versions a scenario can install.
enum Simulator { Fs2002 = 0, Fs2004 = 1, Fsx = 2 };

// A Flight Simulator installation as the simulator leaves it: its registry
// value under HKLM (2002/2004 "EXE Path" without a closing backslash, X
// "SetupPath" with one) and its folder with the subfolders the installer
// writes into, holding one foreign file each that must survive.
struct InstalledSimulator {
  Simulator version;
  std::string folder;  // with a closing backslash
};

// One expected output file: where it comes from in the sample tree, where it
// must land, and the uninstall event that must record it (tag empty: none).
struct ExpectedFile {
  std::string source;
  std::string target;
  UINT descId = 0;  // 0: the file is not recorded (fsuipc.dll)
};

struct Choice {
  int setupType = 0;  // SameComputer, ProductOnly, SimulatorOnly
  std::string productDir;
  std::vector<InstalledSimulator> simulators;  // those the installation is for
};

// Every file the installation of choice writes, from the sample tree.
std::vector<ExpectedFile> expectedFiles(const Choice& choice);
// The "DeleteEmptyDirs" events the worker records for choice, params -> desc id.
std::map<std::string, UINT> expectedFolderEvents(const Choice& choice);

// Registry access in the view setup.exe uses.
bool readString(HKEY root, const std::string& key, const std::string& value, std::string* out,
                DWORD* type = nullptr, DWORD* bytes = nullptr);
bool readDword(HKEY root, const std::string& key, const std::string& value, DWORD* out);
bool keyExists(HKEY root, const std::string& key);

// Files and folders (tests/support).
using tltest::fileExists;
using tltest::makeFolders;
using tltest::readFile;
using tltest::removeTree;
using tltest::writeFile;
inline bool folderExists(const std::string& path) { return tltest::directoryExists(path); }
// Every file below folder, as paths relative to it (backslashes, lower case).
std::vector<std::string> listFiles(const std::string& folder);

// Known folders.
std::string programFilesFolder();  // with a closing backslash
std::string startMenuFolder();     // all users' programs + "TowerLink\"
std::string fsxAddonFolder();      // APPDATA\Microsoft\FSX\ (closing backslash)

// A user's own add-on list up to its closing line: another product's entry,
// which every run must keep. The whole file is this plus
// "</SimBase.Document>\r\n".
std::string foreignDllXmlHead();

// A shortcut loaded back through IShellLinkA / IPersistFile.
struct Shortcut {
  bool loaded = false;
  std::string path, arguments, description, iconPath;
  int iconIndex = -1;
};
Shortcut loadShortcut(const std::string& lnkPath);

// Strings of setup.exe's own string table.
std::string setupString(UINT id);

// The sample SimConnect package: installed by msiexec when its registry
// value exists (either registry view).
bool simConnectInstalled();

// Records what the prefix holds that a scenario may change and puts it back
// on destruction: simulator keys and folders, the product key, the uninstall
// key, the Start menu folder, the add-on folder and its dll.xml, the default
// product folder, the SimConnect package, notepad windows opened on readme.
class PrefixGuard {
 public:
  PrefixGuard();
  ~PrefixGuard();
  PrefixGuard(const PrefixGuard&) = delete;
  PrefixGuard& operator=(const PrefixGuard&) = delete;

  // False, with the reason in *why, when an earlier run left something behind.
  bool clean(std::string* why) const;

  // folderName: its folder under the scratch root, instead of the usual one.
  InstalledSimulator installSimulator(Simulator version, const std::string& folderName = std::string());
  // Creates APPDATA\Microsoft\FSX\, with dll.xml when contents is not null.
  void prepareFsxAddonFolder(const std::string* dllXml);
  // Stores "TLDir" as an earlier installation would have.
  void presetProductDir(const std::string& folder);
  // Makes ".txt" open with notepad, as on a desktop (a fresh Wine prefix has
  // the txtfile class but no ".txt" key, and ShellExecuteEx would report
  // "no association" in a box of its own).
  void associateTextFiles();

 private:
  bool gamesKeyExisted_ = false;
  bool vendorKeyExisted_ = false;
  bool fsxFolderExisted_ = false;
  bool dllXmlExisted_ = false;
  bool textAssociationAdded_ = false;
  std::string dllXml_;
};

// Text of the add-on file that a new installation writes: the fourteen lines
// of a new file, then the further entries before the closing line.
std::string newDllXml(const std::vector<std::pair<std::string, std::string>>& entries);
std::string addonEntry(const std::string& name, const std::string& path);

}  // namespace e2e
