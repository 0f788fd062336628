// The Start menu folder "TowerLink" with its four shortcuts, saved through the
// shell's link object, and the five uninstall events that remove them.
#include "system/start_menu.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "resources/resource_ids.h"
#include "platform/handles.h"
#include "system/start_menu_seam.h"
#include "system/uninstall_contract.h"
#include "platform/ansi_code_page.h"
#include "wizard/strings.h"

namespace {

constexpr const char* kShortcutExtension = ".lnk";
// The shell folder buffer and the wide shortcut path buffer, terminator included.
constexpr int kPathChars = MAX_PATH;

ProgramsFolderLookup g_programsFolderLookup = &SHGetFolderPathA;

// The all-users programs folder, else the current user's. False when neither
// can be found; *folder is then unchanged.
bool findProgramsFolder(std::string* folder) {
  for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    char buffer[kPathChars] = {};
    if (SUCCEEDED(g_programsFolderLookup(nullptr, csidl, nullptr, 0, buffer))) {
      buffer[kPathChars - 1] = '\0';  // a lookup that filled the buffer still ends here
      if (buffer[0] != '\0') {
        *folder = buffer;
        return true;
      }
    }
  }
  SetLastError(ERROR_PATH_NOT_FOUND);
  return false;
}

// One shortcut. Every row sets all four properties: the link object is shared,
// so a property left alone would carry the previous row's value (the user
// guide would inherit the uninstaller's argument).
struct ShortcutRow {
  UINT nameId;
  const char* target;
  const char* arguments;
  const char* iconPath;
  int iconIndex;
};

}  // namespace

ProgramsFolderLookup setProgramsFolderLookup(ProgramsFolderLookup lookup) {
  ProgramsFolderLookup previous = g_programsFolderLookup;
  g_programsFolderLookup = lookup ? lookup : &SHGetFolderPathA;
  return previous;
}

bool createStartMenuShortcuts(const char* fsProgram, const char* fsxProgram, const char* uninstaller,
                              const char* guide, const char* iconLibrary, Porter::UninstallerSetup* record) {
  if (!fsProgram || !fsxProgram || !uninstaller || !guide || !iconLibrary || !record) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }

  std::string folder;
  if (!findProgramsFolder(&folder)) return false;
  if (!lastCharIsBackslash(folder, ansiLeadBytes())) folder += '\\';
  folder += loadResourceString(IDS_STARTMENU_FOLDER);
  folder += '\\';

  if (!CreateDirectoryA(folder.c_str(), nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      SetLastError(error);
      return false;
    }
    // An earlier installation's folder is reused; its shortcuts are overwritten.
  }

  const std::string desc = loadResourceString(IDS_DESC_STARTMENU);
  {
    win::ComRef<IShellLinkA> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.receive());
    if (FAILED(hr)) {
      SetLastError(static_cast<DWORD>(hr));
      return false;
    }
    win::ComRef<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, file.receive());
    if (FAILED(hr)) {
      SetLastError(static_cast<DWORD>(hr));
      return false;
    }

    const ShortcutRow rows[] = {
        {IDS_STARTMENU_FS, fsProgram, "", "", 0},
        {IDS_STARTMENU_FSX, fsxProgram, "", "", 0},
        {IDS_STARTMENU_UNINSTALL, uninstaller, record::kRecordName, iconLibrary, 1},
        {IDS_STARTMENU_GUIDE, guide, "", iconLibrary, 0},
    };
    for (const ShortcutRow& row : rows) {
      const std::string name = loadResourceString(row.nameId);
      // The shell may refuse a property (a target it cannot resolve yet); the
      // programs do not exist before extraction, so these results are not examined.
      link->SetPath(row.target);
      link->SetArguments(row.arguments);
      link->SetDescription(name.c_str());
      link->SetIconLocation(row.iconPath, row.iconIndex);

      const std::string path = folder + name + kShortcutExtension;
      wchar_t widePath[kPathChars];
      // A path that does not fit the wide buffer fails the conversion (0) and
      // is refused, never saved cut short.
      if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, kPathChars) == 0) return false;
      hr = file->Save(widePath, TRUE);
      if (FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        return false;
      }
      if (!record->addEvent(record::kTagDeleteFile, path.c_str(), desc.c_str())) return false;
    }
  }  // both interfaces released here, before the folder's event

  return record->addEvent(record::kTagDeleteEmptyDirs, folder.c_str(), desc.c_str());
}
