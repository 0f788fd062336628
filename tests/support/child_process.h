// Starting programs from Windows tests: a child process whose handles close
// with the object and which never outlives it, and a program run to its end
// with a time limit.
#pragma once

#include <windows.h>

#include <string>

namespace tltest {

// A started child process. If it is still running at destruction it is
// terminated, so a failing test never leaves a program behind in the Wine
// session.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts commandLine (program first), in workingFolder unless it is empty.
  // False, with error() holding GetLastError(), when CreateProcessA fails.
  bool start(const std::string& commandLine, const std::string& workingFolder = std::string());
  // Waits up to timeoutMs; true with *exitCode set when it ended.
  bool wait(DWORD timeoutMs, DWORD* exitCode);
  // Ends it now (exit code 99) if it still runs, and waits for the end.
  void terminate();
  DWORD id() const { return info_.dwProcessId; }
  DWORD error() const { return error_; }

 private:
  PROCESS_INFORMATION info_{};
  DWORD error_ = 0;
};

// Runs commandLine to its end, ending it when it overstays timeoutMs. True
// with *exitCode; false, with *why, when it cannot start or did not end.
bool runProgram(const std::string& commandLine, DWORD timeoutMs, DWORD* exitCode, std::string* why);

}  // namespace tltest
