#include "tests/support/child_process.h"

#include <vector>

namespace tltest {

ChildProcess::~ChildProcess() { close(); }

void ChildProcess::close() {
  terminate();
  if (info_.hProcess != nullptr) CloseHandle(info_.hProcess);
  if (info_.hThread != nullptr) CloseHandle(info_.hThread);
  info_ = PROCESS_INFORMATION{};
}

bool ChildProcess::start(const std::string& commandLine, const std::string& workingFolder) {
  StartOptions options;
  options.workingFolder = workingFolder;
  return start(commandLine, options);
}

bool ChildProcess::start(const std::string& commandLine, const StartOptions& options) {
  close();
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  if (options.output != nullptr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = options.output;
    startup.hStdError = options.output;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  }
  if (!CreateProcessA(options.program.empty() ? nullptr : options.program.c_str(), line.data(), nullptr, nullptr,
                      options.output != nullptr, options.job != nullptr ? CREATE_SUSPENDED : 0, nullptr,
                      options.workingFolder.empty() ? nullptr : options.workingFolder.c_str(), &startup, &info_)) {
    error_ = GetLastError();
    info_ = PROCESS_INFORMATION{};
    return false;
  }
  // Wine starts a Unix program without a Windows process and fills the
  // handles in with whatever its own stack held: closing those closed one of
  // this process's own handles now and then (its standard output, say), so
  // only handles that are the process reported are kept.
  if (info_.dwProcessId == 0 || GetProcessId(info_.hProcess) != info_.dwProcessId) {
    info_ = PROCESS_INFORMATION{};
    return true;
  }
  if (options.job != nullptr) {
    AssignProcessToJobObject(options.job, info_.hProcess);
    ResumeThread(info_.hThread);
  }
  return true;
}

bool ChildProcess::wait(DWORD timeoutMs, DWORD* exitCode) {
  if (info_.hProcess == nullptr) return false;
  if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(info_.hProcess, exitCode) != FALSE;
}

void ChildProcess::terminate() {
  if (info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 10000);
  }
}

bool runProgram(const std::string& commandLine, DWORD timeoutMs, DWORD* exitCode, std::string* why) {
  ChildProcess child;
  if (!child.start(commandLine)) {
    *why = "cannot start \"" + commandLine + "\": error " + std::to_string(child.error());
    return false;
  }
  if (!child.wait(timeoutMs, exitCode)) {
    child.terminate();
    *why = "\"" + commandLine + "\" did not end within " + std::to_string(timeoutMs / 1000) + " s";
    return false;
  }
  return true;
}

}  // namespace tltest
