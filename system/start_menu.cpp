// The Start menu folder "TowerLink" with its four shortcuts, made by the
// shell's link object, and the five uninstall events that remove them.
//
// The programs folder may be the user's own (where there is no all-users
// one), which that user can change while this elevated program writes. So
// the folder is held (platform/held_folder.h, links decided there) and each
// shortcut's bytes, saved by the link object into memory, are written to a
// new file of a random name in it and renamed over the shortcut's name: the
// name alone is replaced, never what a link there leads to.
#include "system/start_menu.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "resources/resource_ids.h"
#include "platform/file_names.h"
#include "platform/handles.h"
#include "platform/held_folder.h"
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

// The Start menu folder below programs ("...\Programs\TowerLink\"), made
// when missing and held; the programs folder itself must exist. Sets the
// error and returns false when it cannot be.
bool holdStartMenuFolder(const std::string& programs, const std::string& name, win::HeldFolder* out) {
  win::HeldFolder parent;
  DWORD error = parent.open(win::widen(programs), false);
  if (error == 0) error = out->openBelow(parent, win::widen(name), true);
  if (error != 0) SetLastError(error);
  return error == 0;
}

// What the link object holds, as its file would hold it.
HRESULT saveToMemory(IShellLinkA* link, std::string* bytes) {
  win::ComRef<IPersistStream> persist;
  HRESULT hr = link->QueryInterface(IID_IPersistStream, persist.receive());
  if (FAILED(hr)) return hr;
  win::ComRef<IStream> stream;
  hr = CreateStreamOnHGlobal(nullptr, TRUE, reinterpret_cast<IStream**>(stream.receive()));
  if (FAILED(hr)) return hr;
  hr = persist->Save(stream.get(), TRUE);
  if (FAILED(hr)) return hr;
  HGLOBAL memory = nullptr;
  hr = GetHGlobalFromStream(stream.get(), &memory);
  if (FAILED(hr)) return hr;
  ULARGE_INTEGER end = {};
  hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &end);
  if (FAILED(hr)) return hr;
  const void* data = GlobalLock(memory);
  if (data == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  bytes->assign(static_cast<const char*>(data), static_cast<size_t>(end.QuadPart));
  GlobalUnlock(memory);
  return S_OK;
}

// Writes bytes as the file name in the held folder: a new file, renamed over
// the name. Returns 0 or the error; nothing is left behind on failure.
DWORD writeShortcut(const win::HeldFolder& folder, const std::wstring& name, const std::string& bytes) {
  win::FileHandle file;
  std::wstring temporary;
  DWORD error = folder.createTemporary(L"tl", &file, &temporary);
  if (error != 0) return error;
  DWORD written = 0;
  if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
    error = GetLastError();
  } else if (written != bytes.size()) {
    error = ERROR_WRITE_FAULT;
  } else {
    error = folder.moveInto(file.get(), name, true);
  }
  if (error != 0) win::deleteOnClose(file.get());
  return error;
}

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

  std::string programs;
  if (!findProgramsFolder(&programs)) return false;
  std::string folder = programs;
  if (!lastCharIsBackslash(folder, ansiLeadBytes())) folder += '\\';
  folder += loadResourceString(IDS_STARTMENU_FOLDER);
  folder += '\\';

  // An earlier installation's folder is reused; its shortcuts are replaced.
  win::HeldFolder held;
  if (!holdStartMenuFolder(programs, loadResourceString(IDS_STARTMENU_FOLDER), &held)) return false;

  const std::string desc = loadResourceString(IDS_DESC_STARTMENU);
  {
    win::ComRef<IShellLinkA> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.receive());
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
      std::string bytes;
      hr = saveToMemory(link.get(), &bytes);
      if (FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        return false;
      }
      const DWORD error = writeShortcut(held, win::widen(name + kShortcutExtension), bytes);
      if (error != 0) {
        SetLastError(error);
        return false;
      }
      SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, widePath, nullptr);
      if (!record->addEvent(record::kTagDeleteFile, path.c_str(), desc.c_str())) return false;
    }
  }  // the link object released here, before the folder's event

  return record->addEvent(record::kTagDeleteEmptyDirs, folder.c_str(), desc.c_str());
}
