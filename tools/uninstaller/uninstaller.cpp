#include "tools/uninstaller/uninstaller.h"

#include "tools/uninstaller/removal.h"
#include "tools/uninstaller/removal_plan.h"
#include "tools/uninstaller/uninstall_record.h"

namespace uninst {

namespace {

std::string captionOf(const std::string& displayName) { return displayName + " Uninstall"; }

std::string describeFailure(const RecordedEvent& e, const StepResult& r) {
  return r.item.empty() ? e.params + " (" + r.reason + ")" : r.item + " (" + r.reason + ")";
}

// The report for a record that cannot be used at all, and its exit code;
// kExitOk when the record can be used.
int refuseRecord(RecordStatus status, DWORD error, const UninstallRecord& record, const std::string& recordName,
                 Feedback& feedback, RunSummary& out) {
  const std::string caption = captionOf(record.displayName);
  if (status == RecordStatus::NotFound || status == RecordStatus::Unreadable) {
    std::string text = "The uninstall information for \"" + recordName + "\" could not be found";
    if (status == RecordStatus::Unreadable) text += " (error " + std::to_string(static_cast<unsigned long>(error)) + ")";
    text += ".\nIt may already have been removed.";
    out.failures.push_back(text);
    feedback.report(caption, text, true);
    return kExitNoRecord;
  }
  if (status == RecordStatus::NoEventCount) {
    out.failures = record.problems;
    feedback.report(caption,
                    "The uninstall information for " + record.displayName +
                        " is damaged, so nothing was removed:\n" + formatItemList(record.problems, kListedItems),
                    true);
    return kExitDamagedRecord;
  }
  return kExitOk;
}

// Each usable event's kind (and a folder's depth), events of an unknown kind
// named in out; *folders gets the folders the record empties.
std::vector<PlannedEvent> planEvents(const UninstallRecord& record, std::vector<std::string>* folders,
                                     RunSummary& out) {
  std::vector<PlannedEvent> planned(record.events.size());
  for (size_t i = 0; i < record.events.size(); ++i) {
    const RecordedEvent& e = record.events[i];
    if (!e.usable) continue;  // already reported with the record's problems
    planned[i].kind = eventKindFromTag(e.tag);
    if (planned[i].kind == EventKind::Unknown) {
      out.failures.push_back("event " + std::to_string(e.index) + ": the kind \"" + e.tag +
                             "\" is not known; it was skipped");
    } else if (planned[i].kind == EventKind::DeleteEmptyDirs) {
      folders->push_back(e.params);
      std::wstring normalized;
      if (normalizePath(widen(e.params), &normalized) == PathProblem::None) planned[i].depth = pathDepth(normalized);
    }
  }
  return planned;
}

// Carries out the planned events in removal order, each one shown as a step.
void removeEvents(const UninstallRecord& record, const std::vector<PlannedEvent>& planned,
                  const std::vector<std::string>& folders, const CommandLine& args, const std::wstring& asidePath,
                  Feedback& feedback, RunSummary& out) {
  std::vector<size_t> order = removalOrder(planned);
  RunningOriginal original;
  const RunningOriginal* originalPtr = nullptr;
  if (!args.originalPath.empty()) {
    original.originalPath = widen(args.originalPath);
    original.asidePath = asidePath;
    originalPtr = &original;
  }
  // What this record may touch: its own folders, never the system's.
  RemovalScope scope = systemScope();
  addRecordFolders(&scope, folders, record.uninstallString, args.recordName);
  Remover remover(scope);

  feedback.begin(captionOf(record.displayName), order.size());
  for (size_t n = 0; n < order.size(); ++n) {
    const RecordedEvent& e = record.events[order[n]];
    feedback.step(n, e.desc.empty() ? "Removing " + e.params : e.desc);
    StepResult r;
    switch (planned[order[n]].kind) {
      case EventKind::DeleteFile: r = remover.deleteFile(e.params, originalPtr); break;
      case EventKind::DeleteEmptyDirs: r = remover.deleteEmptyFolders(e.params); break;
      case EventKind::DeleteRegTree: r = deleteRegistryTree(e.params); break;
      case EventKind::Unknown: continue;
    }
    if (r.status == StepStatus::Failed) out.failures.push_back(describeFailure(e, r));
    if (r.status == StepStatus::Kept) out.kept.push_back(r.item + " (" + r.reason + ")");
  }
  remover.release();
  feedback.step(order.size(), "Removing the uninstall information");
}

// What the user is told at the end.
std::string closingText(const std::string& displayName, const RunSummary& out) {
  std::string text;
  if (out.failures.empty()) {
    text = displayName + " was successfully removed from your computer.";
  } else {
    text = "Some parts of " + displayName + " could not be removed:\n" + formatItemList(out.failures, kListedItems) +
           "\nClose any program that uses them and run the uninstaller again.";
  }
  if (!out.kept.empty()) {
    text += "\n\nThese folders were left in place:\n" + formatItemList(out.kept, kListedItems);
  }
  return text;
}

}  // namespace

std::string usageText(CommandLineProblem problem, const std::string& offending) {
  std::string why;
  switch (problem) {
    case CommandLineProblem::NoRecordName: why = "No product was named."; break;
    case CommandLineProblem::UnknownOption: why = "The option \"" + offending + "\" is not known."; break;
    case CommandLineProblem::ExtraArgument: why = "Only one product can be named (\"" + offending + "\")."; break;
    case CommandLineProblem::MissingOptionValue: why = "The option \"" + offending + "\" needs a value."; break;
    case CommandLineProblem::BadRecordName: why = "\"" + offending + "\" is not a product name."; break;
    case CommandLineProblem::None: break;
  }
  return why + "\n\nUsage: tluninstall.exe <product> [/S | /passive]\n"
               "Start the uninstaller from the Start menu or from the list of installed programs.";
}

int runUninstall(const CommandLine& args, const std::wstring& asidePath, Feedback& feedback, RunSummary* summary) {
  RunSummary local;
  RunSummary& out = summary ? *summary : local;
  out = RunSummary();

  UninstallRecord record;
  DWORD error = ERROR_SUCCESS;
  RecordStatus status = readUninstallRecord(args.recordName, &record, &error);
  const std::string caption = captionOf(record.displayName);
  if (int refused = refuseRecord(status, error, record, args.recordName, feedback, out)) return refused;
  if (!feedback.confirm(caption, "Are you sure you want to completely remove " + record.displayName +
                                     " and all of its components?")) {
    return kExitCancelled;
  }

  for (const std::string& p : record.problems) out.failures.push_back(p);
  std::vector<std::string> folders;
  std::vector<PlannedEvent> planned = planEvents(record, &folders, out);
  removeEvents(record, planned, folders, args, asidePath, feedback, out);
  if (out.failures.empty()) {
    // Last of all, and only now: with failures the record stays so that the
    // user can run the uninstaller again once the cause is gone.
    DWORD keyError = deleteUninstallRecord(args.recordName);
    if (keyError == ERROR_SUCCESS) {
      out.recordRemoved = true;
    } else {
      out.failures.push_back("the uninstall information (error " + std::to_string(static_cast<unsigned long>(keyError)) +
                             ")");
    }
  }
  feedback.end();
  feedback.report(caption, closingText(record.displayName, out), !out.failures.empty());
  return out.failures.empty() ? kExitOk : kExitIncomplete;
}

}  // namespace uninst
