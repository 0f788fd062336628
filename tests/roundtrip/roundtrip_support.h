// Helpers the round-trip tests share: walking the real wizard to the end of a
// run, running the uninstall record's own command silently, the folders and
// keys an installation may touch, and guards that put back what a fault
// scenario changed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_environment.h"
#include "tests/e2e/wizard_session.h"
#include "tests/roundtrip/machine_snapshot.h"

namespace roundtrip {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TowerLink";
constexpr char kVendorKey[] = "Software\\Brightfold Labs";
constexpr DWORD kRunTimeoutMs = 180000;

// Everything the round trip may touch: the scratch folders (simulators and
// other targets), the product folder, the Start menu folder, the add-on
// folder, the vendor key and the uninstall record.
MachineSnapshot takeSnapshot(const std::string& productDir);

// Starts setup.exe (the tree's, or `setup`, a Windows path) and walks welcome
// and licence up to the setup type page. False, with the reason in *why, when
// a page does not come.
bool startToTypePage(e2e::WizardSession* session, std::string* why, const std::string& setup = std::string());

// On the setup type page: picks radio, presses Next, passes the product
// folder page (keeping what it proposes) and, when it appears, the version
// page with its preselection. Returns once the run has been started (the
// Next of the last page before the progress page was pressed).
bool chooseTypeAndStart(e2e::WizardSession* session, int radio, std::string* why);

// Waits until page `expected` is shown or the process ended.
bool waitForRunEnd(e2e::WizardSession* session, int expected, std::string* why);

// On the SimConnect page: runs the package through the page's button and
// goes on to the finished page.
bool passSimConnectPage(e2e::WizardSession* session, std::string* why);

// Presses Finish and waits for the process to end; *exitCode gets its code.
bool finish(e2e::WizardSession* session, DWORD* exitCode, std::string* why);

// Reads "UninstallString" from the record and runs it exactly as stored with
// " /S" added, through CreateProcess with no application name (so the
// system parses the unquoted command as the record's readers do). Waits up
// to timeoutMs. False when the record or value is missing, the process does
// not start or does not end in time (it is then ended by force); otherwise
// *exitCode is the uninstaller's exit code.
bool runRecordedUninstall(DWORD timeoutMs, DWORD* exitCode, std::string* why);

// Files in %TEMP% whose names begin with "tl" (lower case names).
std::vector<std::string> tlTempFiles();

// Removes, on destruction, the "tl" files of %TEMP% that were not there at
// construction (the silent uninstaller's log and its copy), so the prefix is
// left as found; leaked() names those created so far other than them.
class TempFolderGuard {
 public:
  TempFolderGuard();
  ~TempFolderGuard();
  TempFolderGuard(const TempFolderGuard&) = delete;
  TempFolderGuard& operator=(const TempFolderGuard&) = delete;
  // New "tl" files that are not the uninstaller's own ("tluninstall...").
  std::vector<std::string> leaked() const;

 private:
  std::vector<std::string> before_;
  std::vector<std::string> privateBefore_;  // the uninstaller's folders at the start
};

// Sets FILE_ATTRIBUTE_READONLY on a file and clears it on destruction, so
// the guard that restores the file's contents afterwards can write it.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  bool applied() const { return applied_; }

 private:
  std::string path_;
  bool applied_ = false;
};

// Uninstalls the SimConnect sample package with msiexec /x /qn when it is
// installed, on destruction (the PrefixGuard does the same; this one runs
// first so the snapshot-based checks of a later round start clean).
void removeSimConnectPackage();

// The ANSI code page's spelling of U+00E9 (e acute), empty when the code
// page has no such letter.
std::string ansiEAcute();

}  // namespace roundtrip
