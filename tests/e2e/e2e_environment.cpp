#include "tests/e2e/e2e_environment.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>

#include "tests/e2e/ui_automation.h"
#include "resources/resource_ids.h"
#include "tests/support/child_process.h"

namespace e2e {
namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TowerLink";
constexpr char kVendorKey[] = "Software\\Brightfold Labs";
constexpr char kProductKey[] = "Software\\Brightfold Labs\\TowerLink\\3";
constexpr char kGamesKey[] = "Software\\Microsoft\\Microsoft Games";
constexpr char kSimConnectKey[] = "Software\\Brightfold Labs\\SimConnectSample";
constexpr char kTextAssociationKey[] = "Software\\Classes\\.txt";
constexpr char kSimConnectProductCode[] = "{3F2A6B1C-5D4E-4F60-9A7B-1C2D3E4F5A60}";

struct SimulatorInfo {
  const char* key;
  const char* value;
  const char* folderName;
  bool closingBackslash;  // as the simulator stores it
  const char* aircraftSubfolder;
};
const SimulatorInfo kSimulators[] = {
    {"Software\\Microsoft\\Microsoft Games\\Flight Simulator\\8.0", "EXE Path", "Flight Simulator 2002", false,
     "aircraft\\"},
    {"Software\\Microsoft\\Microsoft Games\\Flight Simulator\\9.0", "EXE Path", "Flight Simulator 9", false,
     "aircraft\\"},
    {"Software\\Microsoft\\Microsoft Games\\Flight Simulator\\10.0", "SetupPath", "Microsoft Flight Simulator X",
     true, "SimObjects\\Airplanes\\"},
};

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string knownFolder(int csidl) {
  char path[MAX_PATH] = {};
  if (SHGetFolderPathA(nullptr, csidl, nullptr, 0, path) != S_OK) return std::string();
  std::string folder = path;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

void collectFiles(const std::string& root, const std::string& relative, std::vector<std::string>* out) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((root + relative + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      collectFiles(root, relative + name + "\\", out);
    } else {
      out->push_back(lower(relative + name));
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

BOOL CALLBACK collectReadmeWindow(HWND window, LPARAM lParam) {
  char caption[256] = {};
  GetWindowTextA(window, caption, sizeof(caption));
  if (lower(caption).find("readme.txt") != std::string::npos) {
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(window);
  }
  return TRUE;
}

void closeReadmeWindows() {
  std::vector<HWND> windows;
  EnumWindows(collectReadmeWindow, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) PostMessageA(window, WM_CLOSE, 0, 0);
  for (HWND window : windows) ui::waitFor([&] { return !IsWindow(window); }, 5000);
}

}  // namespace

std::string windowsPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (!path.empty() && path[0] == '\\') path = "Z:" + path;
  return path;
}

// TL_E2E_SETUP_EXE points the scenarios at another build of the same
// installer (the signing test runs a signed copy through them).
std::string setupExe() {
  const char* other = std::getenv("TL_E2E_SETUP_EXE");
  return windowsPath(other != nullptr && *other != '\0' ? other : TL_E2E_SETUP);
}
std::string damagedSetupExe() { return windowsPath(TL_E2E_DAMAGED_SETUP); }
std::string sampleTree() { return windowsPath(TL_E2E_SAMPLE_TREE) + "\\"; }
std::string scratchRoot() { return "C:\\tl-e2e\\"; }

std::string foreignDllXmlHead() {
  return "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n\r\n"
         "<SimBase.Document Type=\"Launch\" version=\"1,0\">\r\n"
         "  <Descr>Launch</Descr>\r\n"
         "  <Filename>dll.xml</Filename>\r\n"
         "  <Disabled>False</Disabled>\r\n"
         "  <Launch.ManualLoad>False</Launch.ManualLoad>\r\n"
         "  <Launch.Addon>\r\n"
         "    <Name>Object Placement Tool</Name>\r\n"
         "    <Disabled>False</Disabled>\r\n"
         "    <Path>Modules\\ObjectFlow.dll</Path>\r\n"
         "  </Launch.Addon>\r\n";
}

std::vector<ExpectedFile> expectedFiles(const Choice& choice) {
  const bool product = choice.setupType == 0 || choice.setupType == 1;
  const bool simulators = choice.setupType == 0 || choice.setupType == 2;
  const std::string tree = sampleTree();
  std::vector<ExpectedFile> files;
  for (const std::string& relative : listFiles(tree)) {
    const std::string source = tree + relative;
    if (startsWith(relative, "tl\\tl\\")) {
      if (product) files.push_back({source, choice.productDir + relative.substr(6), IDS_DESC_PROGRAM_FILES});
    } else if (startsWith(relative, "tl\\global\\")) {
      files.push_back({source, choice.productDir + relative.substr(10), IDS_DESC_PROGRAM_FILES});
    }
    if (!simulators) continue;
    for (const InstalledSimulator& sim : choice.simulators) {
      const std::string aircraft = sim.folder + kSimulators[sim.version].aircraftSubfolder;
      if (startsWith(relative, "fs\\aircraft\\towerlink\\")) {
        files.push_back({source, aircraft + relative.substr(12), IDS_DESC_DEFAULT_MODELS});
      } else if (startsWith(relative, "fs\\aircraft\\vip\\")) {
        files.push_back({source, aircraft + relative.substr(12), IDS_DESC_VIP_MODELS});
      } else if (startsWith(relative, "tl\\fs\\") && sim.version == Fsx) {
        const std::string name = relative.substr(6);
        if (name == "tlmod10.dll") {
          if (product) files.push_back({source, choice.productDir + name, IDS_DESC_MODULE});
        } else {
          files.push_back({source, choice.productDir + name, IDS_DESC_FSX_DLLS});
        }
      } else if (startsWith(relative, "fs\\modules\\") && sim.version != Fsx) {
        const std::string name = relative.substr(11);
        const std::string target = sim.folder + "modules\\" + name;
        const char* transponder = sim.version == Fs2002 ? "tltrans8.dll" : "tltrans9.dll";
        const char* module = sim.version == Fs2002 ? "tlmod8.dll" : "tlmod9.dll";
        if (name == transponder) files.push_back({source, target, IDS_DESC_TRANSPONDER});
        if (name == "fsuipc.dll") files.push_back({source, target, 0});
        if (name == module && product) files.push_back({source, target, IDS_DESC_MODULE});
        if (name == "tlmpjoin9.dll" && sim.version == Fs2004) files.push_back({source, target, IDS_DESC_AUTOJOIN});
      }
    }
  }
  return files;
}

std::map<std::string, UINT> expectedFolderEvents(const Choice& choice) {
  std::map<std::string, UINT> events;
  if (choice.setupType == 0 || choice.setupType == 1) events[choice.productDir] = IDS_DESC_PROGRAM_FILES;
  if (choice.setupType == 0 || choice.setupType == 2) {
    for (const InstalledSimulator& sim : choice.simulators) {
      const std::string aircraft = sim.folder + kSimulators[sim.version].aircraftSubfolder;
      events[aircraft + "towerlink"] = IDS_DESC_DEFAULT_MODELS;
      events[aircraft + "vip"] = IDS_DESC_VIP_MODELS;
    }
  }
  return events;
}

bool readString(HKEY root, const std::string& key, const std::string& value, std::string* out, DWORD* type,
                DWORD* bytes) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  DWORD kind = 0;
  bool ok = RegQueryValueExA(handle, value.c_str(), nullptr, &kind, nullptr, &size) == ERROR_SUCCESS;
  std::string data(size, '\0');
  if (ok && size > 0) {
    ok = RegQueryValueExA(handle, value.c_str(), nullptr, &kind, reinterpret_cast<BYTE*>(&data[0]), &size) ==
         ERROR_SUCCESS;
  }
  RegCloseKey(handle);
  if (!ok) return false;
  if (type != nullptr) *type = kind;
  if (bytes != nullptr) *bytes = size;
  data.resize(size);
  if (!data.empty() && data.back() == '\0') data.pop_back();
  *out = data;
  return true;
}

bool readDword(HKEY root, const std::string& key, const std::string& value, DWORD* out) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  DWORD size = sizeof(*out);
  DWORD kind = 0;
  const bool ok = RegQueryValueExA(handle, value.c_str(), nullptr, &kind, reinterpret_cast<BYTE*>(out), &size) ==
                      ERROR_SUCCESS &&
                  kind == REG_DWORD;
  RegCloseKey(handle);
  return ok;
}

bool keyExists(HKEY root, const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::vector<std::string> listFiles(const std::string& folder) {
  std::vector<std::string> files;
  std::string root = folder;
  if (!root.empty() && root.back() != '\\') root += '\\';
  collectFiles(root, "", &files);
  std::sort(files.begin(), files.end());
  return files;
}

std::string programFilesFolder() { return knownFolder(CSIDL_PROGRAM_FILES); }
std::string startMenuFolder() { return knownFolder(CSIDL_COMMON_PROGRAMS) + "TowerLink\\"; }
std::string fsxAddonFolder() { return knownFolder(CSIDL_APPDATA) + "Microsoft\\FSX\\"; }

Shortcut loadShortcut(const std::string& lnkPath) {
  Shortcut shortcut;
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link)))) {
    return shortcut;
  }
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, lnkPath.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(file->Load(wide, STGM_READ))) {
      char buffer[1024] = {};
      shortcut.loaded = true;
      if (link->GetPath(buffer, sizeof(buffer), nullptr, SLGP_RAWPATH) == S_OK) shortcut.path = buffer;
      buffer[0] = '\0';
      if (SUCCEEDED(link->GetArguments(buffer, sizeof(buffer)))) shortcut.arguments = buffer;
      buffer[0] = '\0';
      if (SUCCEEDED(link->GetDescription(buffer, sizeof(buffer)))) shortcut.description = buffer;
      buffer[0] = '\0';
      int index = -1;
      if (SUCCEEDED(link->GetIconLocation(buffer, sizeof(buffer), &index))) {
        shortcut.iconPath = buffer;
        shortcut.iconIndex = index;
      }
    }
    file->Release();
  }
  link->Release();
  return shortcut;
}

std::string setupString(UINT id) {
  static HMODULE module = LoadLibraryExA(setupExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return std::string();
  std::vector<char> buffer(4096);
  for (;;) {
    const int length = LoadStringA(module, id, buffer.data(), static_cast<int>(buffer.size()));
    if (length <= 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size() - 1) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

bool simConnectInstalled() {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSimConnectKey, 0, KEY_READ | view, &handle) == ERROR_SUCCESS) {
      char value[16] = {};
      DWORD size = sizeof(value) - 1;
      const bool found =
          RegQueryValueExA(handle, "Installed", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
              ERROR_SUCCESS &&
          std::string(value) == "1";
      RegCloseKey(handle);
      if (found) return true;
    }
  }
  return false;
}

PrefixGuard::PrefixGuard() {
  gamesKeyExisted_ = keyExists(HKEY_LOCAL_MACHINE, kGamesKey);
  vendorKeyExisted_ = keyExists(HKEY_LOCAL_MACHINE, kVendorKey);
  fsxFolderExisted_ = folderExists(fsxAddonFolder());
  dllXmlExisted_ = readFile(fsxAddonFolder() + "dll.xml", &dllXml_);
}

bool PrefixGuard::clean(std::string* why) const {
  struct Check {
    bool dirty;
    const char* what;
  };
  const Check checks[] = {
      {keyExists(HKEY_LOCAL_MACHINE, kUninstallKey), "the uninstall key exists"},
      {keyExists(HKEY_LOCAL_MACHINE, kProductKey), "the product key exists"},
      {keyExists(HKEY_LOCAL_MACHINE, kSimulators[0].key) || keyExists(HKEY_LOCAL_MACHINE, kSimulators[1].key) ||
           keyExists(HKEY_LOCAL_MACHINE, kSimulators[2].key),
       "a Flight Simulator key exists"},
      {folderExists(scratchRoot()), "the scratch folder exists"},
      {folderExists(startMenuFolder()), "the Start menu folder exists"},
      {folderExists(programFilesFolder() + "TowerLink"), "the default product folder exists"},
      {simConnectInstalled(), "the SimConnect package is installed"},
  };
  for (const Check& check : checks) {
    if (check.dirty) {
      *why = check.what;
      return false;
    }
  }
  return true;
}

PrefixGuard::~PrefixGuard() {
  closeReadmeWindows();
  if (simConnectInstalled()) {
    char systemDir[MAX_PATH] = {};
    GetSystemDirectoryA(systemDir, MAX_PATH);
    const std::string msiexec = std::string(systemDir) + "\\msiexec.exe";
    DWORD exitCode = 0;
    std::string why;
    tltest::runProgram("\"" + msiexec + "\" /x " + kSimConnectProductCode + " /qn", ui::scaled(120000), &exitCode,
                       &why);
  }
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kUninstallKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
  if (vendorKeyExisted_) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\TowerLink");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\TowerLink");
  } else {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kVendorKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kVendorKey);
  }
  if (gamesKeyExisted_) {
    for (const SimulatorInfo& sim : kSimulators) RegDeleteKeyA(HKEY_LOCAL_MACHINE, sim.key);
  } else {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kGamesKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kGamesKey);
  }
  // A process that has just ended may still hold a folder for a moment.
  if (!ui::waitFor([] { return removeTree(scratchRoot()); }, 5000)) {
    std::fprintf(stderr, "could not remove %s\n", scratchRoot().c_str());
  }
  removeTree(programFilesFolder() + "TowerLink");
  removeTree(startMenuFolder());
  removeTree(knownFolder(CSIDL_PROGRAMS) + "TowerLink");
  if (textAssociationAdded_) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTextAssociationKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTextAssociationKey);
  }
  if (!fsxFolderExisted_) {
    removeTree(fsxAddonFolder());
  } else if (dllXmlExisted_) {
    writeFile(fsxAddonFolder() + "dll.xml", dllXml_);
  } else {
    DeleteFileA((fsxAddonFolder() + "dll.xml").c_str());
  }
}

InstalledSimulator PrefixGuard::installSimulator(Simulator version, const std::string& folderName) {
  const SimulatorInfo& info = kSimulators[version];
  InstalledSimulator sim{version, scratchRoot() + (folderName.empty() ? info.folderName : folderName) + "\\"};
  makeFolders(sim.folder + info.aircraftSubfolder + "Cessna");
  writeFile(sim.folder + info.aircraftSubfolder + "Cessna\\aircraft.cfg", "[fltsim.0]\r\ntitle=Cessna\r\n");
  if (version != Fsx) {
    makeFolders(sim.folder + "modules");
    writeFile(sim.folder + "modules\\foreign.dll", "a module of another add-on");
  }
  std::string stored = sim.folder;
  if (!info.closingBackslash) stored.pop_back();
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, info.key, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS) {
    RegSetValueExA(key, info.value, 0, REG_SZ, reinterpret_cast<const BYTE*>(stored.c_str()),
                   static_cast<DWORD>(stored.size() + 1));
    RegCloseKey(key);
  }
  return sim;
}

void PrefixGuard::prepareFsxAddonFolder(const std::string* dllXml) {
  makeFolders(fsxAddonFolder());
  if (dllXml != nullptr) writeFile(fsxAddonFolder() + "dll.xml", *dllXml);
}

void PrefixGuard::presetProductDir(const std::string& folder) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS) {
    RegSetValueExA(key, "TLDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
  }
}

void PrefixGuard::associateTextFiles() {
  if (keyExists(HKEY_CLASSES_ROOT, ".txt")) return;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTextAssociationKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS) {
    static const char kClass[] = "txtfile";
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kClass), sizeof(kClass));
    RegCloseKey(key);
    textAssociationAdded_ = true;
  }
}

std::string addonEntry(const std::string& name, const std::string& path) {
  return "  <Launch.Addon>\r\n    <Name>" + name + "</Name>\r\n    <Disabled>False</Disabled>\r\n" +
         "    <ManualLoad>False</ManualLoad>\r\n    <Path>" + path + "</Path>\r\n  </Launch.Addon>\r\n";
}

std::string newDllXml(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n\r\n"
      "<SimBase.Document Type=\"Launch\" version=\"1,0\">\r\n"
      "  <Descr>Launch</Descr>\r\n"
      "  <Filename>dll.xml</Filename>\r\n"
      "  <Disabled>False</Disabled>\r\n"
      "  <Launch.ManualLoad>False</Launch.ManualLoad>\r\n";
  for (const auto& entry : entries) text += addonEntry(entry.first, entry.second);
  return text + "</SimBase.Document>\r\n";
}

}  // namespace e2e
