// Running the uninstaller from a copy in the temporary folder. The program
// lives in the folder it removes, and a running program's file cannot be
// deleted, so the first process copies itself to %TEMP%, runs the copy with
// "/from <its own path>" and waits for it, passing its exit code on.
//
// The copy undoes the record. When it reaches the DeleteFile of the original,
// that file is still the waiting process's running image: it cannot be
// deleted but it can be renamed, so the copy moves it next to itself as
// "<copy>.old" (removal.h), and the product folder empties. When the copy has
// ended, the first process deletes the copy's file and schedules its own
// renamed image, which it cannot delete while it runs, for deletion at the next
// restart (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT). That call needs no
// shell and no quoting, so paths with "&", "%" or spaces are safe; a
// "cmd /c ping & del" would expand "%" inside quotes.
#pragma once

#include <windows.h>

#include <string>

#include "tools/uninstaller/command_line.h"

namespace uninst {

// The running program's own path, of any length. Empty on failure.
std::string moduleFileName();

// The temporary folder (with its closing backslash). Empty on failure.
std::string temporaryFolder();

// Copies the running program to %TEMP%\tluninstall-<process id>.exe, runs it
// with the record name, the UI option and "/from", waits for it and cleans up
// as described above. Returns true when the copy ran to its end; *exitCode is
// then its exit code. Returns false when the copy could not be made or
// started; *error holds the system's code and nothing is left behind.
bool runFromTemporaryCopy(const CommandLine& args, DWORD* exitCode, DWORD* error);

}  // namespace uninst
