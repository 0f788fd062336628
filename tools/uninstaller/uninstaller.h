// One uninstall run: read the record, ask, undo its events in the removal
// order (removal_plan.h), report, and remove the record's own key last.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/uninstaller/command_line.h"
#include "tools/uninstaller/exit_codes.h"

namespace uninst {

// What the user sees of a run; the real one is UserFeedback (feedback.h).
class Feedback {
 public:
  virtual ~Feedback() = default;
  // A Yes/No question; true for Yes.
  virtual bool confirm(const std::string& caption, const std::string& text) = 0;
  virtual void begin(const std::string& title, size_t steps) = 0;
  // Before step done + 1 of the run: caption names what is being undone.
  virtual void step(size_t done, const std::string& caption) = 0;
  virtual void end() = 0;
  // The final word: success, the list of what stayed, or why nothing was done.
  virtual void report(const std::string& caption, const std::string& text, bool problem) = 0;
};

// At most this many items are listed in the final message.
constexpr size_t kListedItems = 20;

struct RunSummary {
  std::vector<std::string> failures;  // could not be removed, or unusable in the record
  std::vector<std::string> kept;      // left on purpose (folders that still hold files)
  bool recordRemoved = false;
};

// Runs the uninstall described by args (whose originalPath, if set, names the
// running original program, see relaunch.h, which is moved to asidePath when
// its DeleteFile comes). The record's key is removed only
// when nothing failed, so that a second run can retry what stayed. Returns the
// exit code; *summary (may be null) holds what happened.
int runUninstall(const CommandLine& args, const std::wstring& asidePath, Feedback& feedback, RunSummary* summary);

// The text of a usage problem for the user.
std::string usageText(CommandLineProblem problem, const std::string& offending);

}  // namespace uninst
