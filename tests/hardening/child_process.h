// Starting programs for the hardening tests: a child with its output captured,
// or a GUI program left running, each with every handle closed on the way out.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"
#include "tests/support/child_process.h"

namespace tlharden {

using Handle = win::KernelHandle;

// Runs commandLine in folder workingFolder and waits up to timeoutMs. True
// with *exitCode and everything it wrote to stdout in *output; false (and
// *output says why) when it could not start or did not end in time (it is
// then terminated).
bool runCaptured(const std::string& commandLine, const std::string& workingFolder, DWORD timeoutMs,
                 std::string* output, DWORD* exitCode);

// A GUI program started in workingFolder and left running, ended with the
// object if it still runs.
class RunningProgram {
 public:
  RunningProgram() = default;
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  // False (error() says why) when CreateProcessA fails.
  bool start(const std::string& program, const std::string& workingFolder);
  DWORD processId() const { return child_.id(); }
  // Waits for the end; true with *exitCode when it ended within timeoutMs.
  bool waitForExit(DWORD timeoutMs, DWORD* exitCode);
  // A visible top-level window of this process with that caption and, if
  // className is given, that class; null when there is none.
  HWND findWindow(const char* caption, const char* className = nullptr) const;
  const std::string& error() const { return error_; }

 private:
  tltest::ChildProcess child_;
  std::string error_;
};

// Copies a file, replacing the target; false when it cannot.
bool copyFile(const std::string& from, const std::string& to);

}  // namespace tlharden
