// Running the uninstaller from a copy in a private folder. The program lives
// in the folder it removes, and a running program's file cannot be deleted,
// so the first process copies itself into a fresh folder of the temporary
// folder, runs the copy with "/from <its own path>" and waits for it, passing
// its exit code on.
//
// The temporary folder belongs to the user, also to the part of the user that
// runs without administrator rights, while the copy runs elevated. So the
// copy's folder gets a name nobody can guess, is created only if no such
// folder exists yet, relative to the temporary folder held open, and held
// until it is removed, and gets a protected access list: SYSTEM and the
// administrators have full control, the user may only read. The copy is
// opened again read-only, shared for reading only, and held until its
// process has started. Nobody without administrator rights can put a DLL
// beside the copy, swap the copy between its copying and its start, or
// replace its log.
//
// The copy undoes the record. When it reaches the DeleteFile of the original,
// that file is still the waiting process's running image: it cannot be
// deleted but it can be renamed, so the copy moves it into its folder as
// "tluninstall.old" (removal.h), and the product folder empties. When the copy
// has ended, the first process deletes the copy's file and removes the folder;
// what it cannot remove while it runs (its own renamed image) and the log of a
// /S or /passive run, which is kept for the administrator to read, are
// removed at the next restart (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT),
// together with the folder. That call needs no shell and no quoting, so paths
// with "&", "%" or spaces are safe; a "cmd /c ping & del" would expand "%"
// inside quotes.
#pragma once

#include <windows.h>

#include <string>

#include "platform/private_folder.h"
#include "tools/uninstaller/command_line.h"

namespace uninst {

// The running program's own path, of any length. Empty on failure.
std::string moduleFileName();
std::wstring moduleFileNameW();

// The folder that holds a file path, with its closing backslash (UTF-16, so a
// double-byte character is never taken for a backslash).
std::wstring folderOf(const std::wstring& path);

// Names inside the private folder.
extern const wchar_t kCopyName[];   // L"tluninstall.exe"
extern const wchar_t kAsideName[];  // L"tluninstall.old"
extern const wchar_t kLogName[];    // L"tluninstall.log"

// The access list of the private folder (platform/private_folder.h).
using win::privateAccessList;

// Creates a new private folder "tluninstall-<16 random hex digits>" in the
// temporary folder. Returns it with its closing backslash, or empty with
// *error set.
inline std::wstring createPrivateFolder(DWORD* error) { return win::createPrivateFolder(L"tluninstall", error); }

// Copies the running program into a new private folder, runs it with the
// record name, the UI option and "/from", waits for it and cleans up as
// described above. Returns true when the copy ran to its end; *exitCode is
// then its exit code. Returns false when the copy could not be made or
// started; *error holds the system's code and nothing is left behind.
bool runFromPrivateCopy(const CommandLine& args, DWORD* exitCode, DWORD* error);

}  // namespace uninst
