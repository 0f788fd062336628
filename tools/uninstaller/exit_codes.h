// The companion uninstaller's exit codes. The numbers are fixed: scripts and
// the tests rely on them, so a code is never renumbered or reused.
#pragma once

namespace uninst {

enum ExitCode : int {
  kExitOk = 0,              // everything recorded is gone, and so is the record
  kExitUsage = 1,           // no record name, or an argument not understood
  kExitNoRecord = 2,        // no such record (or its key cannot be opened)
  kExitDamagedRecord = 3,   // "PorterEvents" missing or not a number: nothing done
  kExitCancelled = 4,       // the user answered No: nothing done
  kExitIncomplete = 5,      // something could not be removed; the record stays
};

}  // namespace uninst
