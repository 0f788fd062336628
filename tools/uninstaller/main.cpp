// tluninstall.exe: removes what the installer recorded in its uninstall record.
//   tluninstall.exe <record name> [/S | /quiet | /passive]
// The work is in the library; this file only wires the command line to it.
#include <windows.h>

#include "tools/uninstaller/command_line.h"
#include "tools/uninstaller/exit_codes.h"
#include "tools/uninstaller/feedback.h"
#include "tools/uninstaller/relaunch.h"
#include "tools/uninstaller/uninstall_record.h"
#include "tools/uninstaller/uninstaller.h"
#include "platform/ansi_code_page.h"
#include "platform/held_folder.h"
#include "platform/dll_search.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace uninst;
  // Before anything can load a library: from here on a library loaded by name
  // comes from the system folder only, never from the folder the program was
  // started from (see platform/dll_search.h). The program imports Known DLLs
  // only; comctl32 is loaded by full path (progress_window.cpp).
  hardenDllSearch();
  // Where the system has it, no junction a non-administrator made is followed.
  win::enableRedirectionGuard();

  const std::string self = moduleFileName();
  CommandLine args;
  std::string offending;
  CommandLineProblem problem = parseCommandLine(GetCommandLineA(), self, &args, &offending, ansiLeadBytes());
  // The copy runs from its private folder, where its log goes too.
  const std::wstring ownFolder = args.originalPath.empty() ? std::wstring() : folderOf(moduleFileNameW());
  UserFeedback feedback(instance, args.ui, ownFolder);
  if (problem != CommandLineProblem::None) {
    feedback.report("TowerLink Uninstall", usageText(problem, offending), true);
    return kExitUsage;
  }

  if (args.originalPath.empty()) {
    // Started as installed: a missing record is reported before anything is
    // copied; otherwise the copy in its private folder does the work.
    if (!uninstallRecordExists(args.recordName)) {
      return runUninstall(args, std::wstring(), feedback, nullptr);
    }
    DWORD exitCode = 0;
    DWORD error = 0;
    if (runFromPrivateCopy(args, &exitCode, &error)) return static_cast<int>(exitCode);
    // No copy could be run: work from here. Everything but this program's
    // own file can still be removed, and that file is then reported.
    return runUninstall(args, std::wstring(), feedback, nullptr);
  }
  return runUninstall(args, ownFolder + kAsideName, feedback, nullptr);
}
