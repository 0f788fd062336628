// Starting programs from Windows tests: a child process whose handles close
// with the object and which never outlives it, and a program run to its end
// with a time limit.
#pragma once

#include <windows.h>

#include <string>

namespace tltest {

// How a child starts, beyond its command line.
struct StartOptions {
  // The program file, when the command line's first word cannot name it (an
  // unquoted path with spaces, as an UninstallString holds); empty: that word.
  std::string program;
  std::string workingFolder;  // empty: this process's
  // The child starts suspended, joins this job (so it and whatever it starts
  // end together) and then runs.
  HANDLE job = nullptr;
  // Inherited by the child as its standard output and error (a pipe's write
  // end, say); its standard input stays this process's. Null: not redirected.
  HANDLE output = nullptr;
};

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
  // A child started before by this object is ended and let go first.
  bool start(const std::string& commandLine, const std::string& workingFolder = std::string());
  bool start(const std::string& commandLine, const StartOptions& options);
  // Waits up to timeoutMs; true with *exitCode set when it ended.
  bool wait(DWORD timeoutMs, DWORD* exitCode);
  // Ends it now (exit code 99) if it still runs, and waits for the end.
  void terminate();
  DWORD id() const { return info_.dwProcessId; }
  // The process, to wait on (null when none was started or Wine gave none).
  HANDLE handle() const { return info_.hProcess; }
  DWORD error() const { return error_; }

 private:
  void close();

  PROCESS_INFORMATION info_{};
  DWORD error_ = 0;
};

// Runs commandLine to its end, ending it when it overstays timeoutMs. True
// with *exitCode; false, with *why, when it cannot start or did not end.
bool runProgram(const std::string& commandLine, DWORD timeoutMs, DWORD* exitCode, std::string* why);

}  // namespace tltest
