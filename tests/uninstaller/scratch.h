// Sandbox for the uninstaller's Windows tests: a scratch folder under %TEMP%,
// a scratch key under HKLM\Software, records written the way the installer
// writes them, and the real tluninstall.exe run with a time limit. Everything
// is removed again by the destructor, including the restart-time removals the
// uninstaller schedules, so the prefix ends as it began.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace uninst_test {

struct EventSpec {
  std::string tag;
  std::string params;
  std::string desc;
};

// Files through the shared test helpers, which reach paths of any length.
using tltest::directoryExists;
using tltest::fileExists;
using tltest::longPath;
using tltest::makeFolders;
using tltest::readFile;
using tltest::writeFile;
bool keyExists(HKEY root, const std::string& subkey);
// A Unix symbolic link at link (a Windows path) to target, made by the host's
// ln: Wine 8 shows it as a reparse point (attributes 0x410 for a folder) and
// cannot remove it itself, so the Scratch removes it with rm when it ends.
// False outside Wine.
bool makeUnixLink(const std::string& link, const std::string& target);
// Removes such a link (never its target).
void removeUnixLink(const std::string& link);
// Deletes a file or folder tree whatever it holds, never entering a link (a
// Unix link goes with the host's rm); used by clean-up only.
inline void removeTree(const std::string& path) { tltest::removeTree(path, removeUnixLink); }
// Renames a file or folder as the host's mv does, which no Windows share mode
// stops (a folder held open moves all the same). False outside Wine.
bool moveUnix(const std::string& from, const std::string& to);
// A real shell link at linkPath pointing at target, saved through IShellLinkA.
bool makeShortcut(const std::string& linkPath, const std::string& target, const std::string& arguments);
using tltest::tempFolder;
inline std::vector<std::string> privateFolders() { return tltest::uninstallerPrivateFolders(); }
// Waits up to timeoutMs for a top-level window of class cls (null: any) and
// caption; null when none appears.
HWND waitForWindow(const char* cls, const std::string& caption, DWORD timeoutMs = 20000);
// The text of a control of another process's window ("" when unreadable).
std::string windowText(HWND window);

class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& root() const { return root_; }          // scratch folder, closing backslash
  const std::string& recordName() const { return record_; }  // unique record name
  const std::string& keyPath() const { return key_; }        // "Software\TLUninstTest-..." under HKLM
  std::string recordKey() const;                            // the record's key below HKLM

  // Writes the record: DisplayName, DisplayIcon, UninstallString,
  // PorterDescription, PorterEvents and the numbered triples, every text with
  // one terminating zero byte counted.
  bool writeRecord(const std::vector<EventSpec>& events, const std::string& productDir);
  // Raw value writes for damaged records.
  bool setString(const std::string& name, const std::string& text);
  bool setDword(const std::string& name, DWORD value);
  bool deleteValue(const std::string& name);

  // Runs exe with arguments (the program path is put in front, unquoted like
  // the UninstallString), waits up to timeoutMs, ends the whole process tree if
  // it hangs. Returns false on a hang or a failure to start.
  bool run(const std::string& exe, const std::string& arguments, DWORD* exitCode, DWORD timeoutMs = 60000);
  // The same in two halves, for a test that talks to the program's windows
  // while it runs: start() launches, finish() waits as run() does. A program
  // still running when the Scratch ends is ended with it.
  bool start(const std::string& exe, const std::string& arguments);
  bool finish(DWORD* exitCode, DWORD timeoutMs = 60000);

  // The uninstaller as built (or the one named by the environment variable
  // TL_UNINSTALLER_UNDER_TEST, to run these tests against another build),
  // copied to folder + "tluninstall.exe".
  std::string installUninstaller(const std::string& folder);

  // A Unix link that the Scratch removes when it ends (see makeUnixLink).
  bool link(const std::string& link, const std::string& target);

  // The private folders ("%TEMP%\tluninstall-*") that the last run made and
  // left (with a log, or its renamed image awaiting the restart), and the text
  // of its log. The Scratch removes them when it ends.
  const std::vector<std::string>& lastPrivateFolders() const { return lastFolders_; }
  std::string lastLog() const;
  // The restart-time removals added since construction, source paths only.
  std::vector<std::string> newPendingRemovals() const;

 private:
  std::string root_;
  std::string record_;
  std::string key_;
  std::vector<std::string> links_;
  std::vector<std::string> before_;       // private folders when the run started
  std::vector<std::string> lastFolders_;  // made by the last run
  std::vector<std::string> allFolders_;   // made by every run
  win::KernelHandle job_;       // of the running program, if any
  tltest::ChildProcess child_;  // the running program
  bool running_ = false;
  bool vendorExisted_ = false;
  bool pendingExisted_ = false;
  DWORD pendingType_ = REG_MULTI_SZ;
  std::vector<BYTE> pendingData_;
};

}  // namespace uninst_test
