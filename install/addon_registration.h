// Registration of the product's simulator modules in Flight Simulator X's
// add-on file "dll.xml" (user's application-data folder, "Microsoft\FSX\").
// Called by the progress page at the start of a run, on the user-interface
// thread. The line editing itself is in addon_edit.h.
#pragma once

#include <windows.h>

#include <string>

// Why a registration failed. Stable numbers: tests and diagnostics use them.
enum class AddonResult : int {
  Ok = 0,
  NoAppDataFolder = 1,   // SHGetFolderPathA(CSIDL_APPDATA) did not give S_OK
  NoAddonFolder = 2,     // the folder (…\Microsoft\FSX\) does not exist; it is never created
  NoTempFile = 3,        // no private folder or temporary file could be made in the temporary folder
  ReadFailed = 4,        // the add-on file could not be opened or read (locked, a folder, ...)
  FileTooLarge = 5,      // the add-on file is larger than kMaxAddonFileBytes; left alone
  TempWriteFailed = 6,   // writing or flushing the temporary copy failed
  CopyBackFailed = 7,    // the temporary copy could not be written back into the add-on file
  CreateFailed = 8,      // a new add-on file could not be created
  CreateWriteFailed = 9, // writing, flushing or closing a new add-on file failed
  BadArgument = 10,      // a null text
};

struct AddonStatus {
  AddonResult result = AddonResult::Ok;
  DWORD windowsError = 0;  // GetLastError() where the failure started; 0 on success
  bool ok() const { return result == AddonResult::Ok; }
};

// A dll.xml this large is not an add-on list; it is left untouched.
constexpr DWORD kMaxAddonFileBytes = 16u * 1024u * 1024u;

// Makes folder + fileName hold exactly one entry of moduleFile, named
// entryName, with the path productDir + moduleFile (productDir ends with a
// backslash). folder must exist and end with a backslash; it is never
// created. The folder is opened once and held (platform/held_folder.h), and
// the file is opened by its name relative to it, never through a link: one
// that is a link or has a second name is refused (ReadFailed). An existing
// file is edited into a temporary copy (prefix "tl") in a new private folder
// of the temporary folder (platform/private_folder.h), and only once the copy
// is written and flushed are its bytes, read back through the copy's handle,
// written into the file that was read, opened again by its name in the held
// folder and checked to be that same file. On every failure the add-on file
// keeps its bytes; the copy is deleted through its handle and the private
// folder removed, never looked up again by name. A missing file is created
// (only if still new) with the fourteen lines of a new add-on file; if
// writing it fails, the incomplete file is deleted through its handle.
AddonStatus registerAddonWithStatus(const char* folder, const char* fileName, const char* entryName,
                                    const char* productDir, const char* moduleFile);

// registerAddonWithStatus(...).ok().
bool registerAddon(const char* folder, const char* fileName, const char* entryName, const char* productDir,
                   const char* moduleFile);

// The add-on folder: CSIDL_APPDATA, a backslash when missing, "Microsoft\FSX\".
// NoAppDataFolder when the shell gives none; folder is then left unchanged.
AddonStatus fsxConfigFolder(std::string& folder);

// Registers "TowerLink Transponder" (tltrans10.dll) and "TowerLink AI Control"
// (tlaicontrol10.dll) when registerSimulatorModules, then "TowerLink Internal
// Version" (tlmod10.dll) when registerInternalModule, in that order, in the
// add-on folder's "dll.xml". Stops at the first failure; registrations made
// before it stay in the file.
AddonStatus configureFsxWithStatus(bool registerSimulatorModules, bool registerInternalModule,
                                   const char* productDir);

// configureFsxWithStatus(...).ok(). False makes the caller show string 182.
bool configureFsx(bool registerSimulatorModules, bool registerInternalModule, const char* productDir);

// Test seam at the one platform call whose failure a Wine prefix cannot
// produce on demand: the WriteFile that writes the temporary copy or a new
// add-on file (a full disk). Null restores WriteFile. Not for production use.
using AddonWriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
void setAddonWriteFileForTesting(AddonWriteFileFn writeFile);
