#include "tests/hardening/child_process.h"

#include <cstring>
#include <vector>

namespace tlharden {

bool runCaptured(const std::string& commandLine, const std::string& workingFolder, DWORD timeoutMs,
                 std::string* output, DWORD* exitCode) {
  output->clear();
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    *output = "CreatePipe failed: " + std::to_string(GetLastError());
    return false;
  }
  Handle reader(readEnd);
  Handle writer(writeEnd);
  SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer.get();
  startup.hStdError = writer.get();
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, workingFolder.c_str(), &startup,
                      &info)) {
    *output = "CreateProcessA failed: " + std::to_string(GetLastError()) + " for " + commandLine;
    return false;
  }
  Handle process(info.hProcess);
  Handle thread(info.hThread);
  writer.reset();  // the child holds the only write end now: reading ends with it

  const DWORD start = GetTickCount();
  char buffer[4096];
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr)) break;  // closed: child ended
    if (available > 0) {
      DWORD got = 0;
      if (!ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      output->append(buffer, got);
      continue;
    }
    if (WaitForSingleObject(process.get(), 20) == WAIT_OBJECT_0) {
      // Whatever it wrote last is still in the pipe.
      while (PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        if (!ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        output->append(buffer, got);
      }
      break;
    }
    if (GetTickCount() - start > timeoutMs) {
      TerminateProcess(process.get(), 1);
      *output += "\n[timed out after " + std::to_string(timeoutMs) + " ms]";
      return false;
    }
  }
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    *output += "\n[did not end]";
    return false;
  }
  GetExitCodeProcess(process.get(), exitCode);
  return true;
}

RunningProgram::~RunningProgram() {
  if (process_.valid() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
  }
}

bool RunningProgram::start(const std::string& program, const std::string& workingFolder) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::string commandLine = "\"" + program + "\"";
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, workingFolder.c_str(),
                      &startup, &info)) {
    error_ = "CreateProcessA failed: " + std::to_string(GetLastError()) + " for " + program;
    return false;
  }
  process_.reset(info.hProcess);
  CloseHandle(info.hThread);
  processId_ = info.dwProcessId;
  return true;
}

bool RunningProgram::waitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!process_.valid() || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process_.get(), exitCode) != FALSE;
}

namespace {

struct WindowQuery {
  DWORD processId;
  const char* caption;
  const char* className;
  HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter) {
  WindowQuery* query = reinterpret_cast<WindowQuery*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != query->processId || !IsWindowVisible(window)) return TRUE;
  char text[256] = "";
  GetWindowTextA(window, text, sizeof text);
  if (std::strcmp(text, query->caption) != 0) return TRUE;
  if (query->className != nullptr) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, query->className) != 0) return TRUE;
  }
  query->found = window;
  return FALSE;
}

}  // namespace

HWND RunningProgram::findWindow(const char* caption, const char* className) const {
  WindowQuery query{processId_, caption, className, nullptr};
  EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&query));
  return query.found;
}

bool copyFile(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE; }

}  // namespace tlharden
