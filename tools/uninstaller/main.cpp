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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace uninst;
  const std::string self = moduleFileName();
  CommandLine args;
  std::string offending;
  CommandLineProblem problem = parseCommandLine(GetCommandLineA(), self, &args, &offending);
  UserFeedback feedback(instance, args.ui);
  if (problem != CommandLineProblem::None) {
    feedback.report("TowerLink Uninstall", usageText(problem, offending), true);
    return kExitUsage;
  }

  if (args.originalPath.empty()) {
    // Started as installed: a missing record is reported before anything is
    // copied; otherwise the copy in the temporary folder does the work.
    if (!uninstallRecordExists(args.recordName)) {
      return runUninstall(args, self, feedback, nullptr);
    }
    DWORD exitCode = 0;
    DWORD error = 0;
    if (runFromTemporaryCopy(args, &exitCode, &error)) return static_cast<int>(exitCode);
    // No copy could be run: work from here. Everything but this program's
    // own file can still be removed, and that file is then reported.
  }
  return runUninstall(args, self, feedback, nullptr);
}
