#include "tests/hardening/child_process.h"

#include <cstring>

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

  tltest::ChildProcess child;
  tltest::StartOptions options;
  options.workingFolder = workingFolder;
  options.output = writer.get();
  if (!child.start(commandLine, options)) {
    *output = "CreateProcessA failed: " + std::to_string(child.error()) + " for " + commandLine;
    return false;
  }
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
    if (WaitForSingleObject(child.handle(), 20) == WAIT_OBJECT_0) {
      // Whatever it wrote last is still in the pipe.
      while (PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        if (!ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        output->append(buffer, got);
      }
      break;
    }
    if (GetTickCount() - start > timeoutMs) {
      child.terminate();
      *output += "\n[timed out after " + std::to_string(timeoutMs) + " ms]";
      return false;
    }
  }
  if (!child.wait(timeoutMs, exitCode)) {
    child.terminate();
    *output += "\n[did not end]";
    return false;
  }
  return true;
}

bool RunningProgram::start(const std::string& program, const std::string& workingFolder) {
  tltest::StartOptions options;
  options.program = program;
  options.workingFolder = workingFolder;
  if (!child_.start("\"" + program + "\"", options)) {
    error_ = "CreateProcessA failed: " + std::to_string(child_.error()) + " for " + program;
    return false;
  }
  return true;
}

bool RunningProgram::waitForExit(DWORD timeoutMs, DWORD* exitCode) { return child_.wait(timeoutMs, exitCode); }

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
  WindowQuery query{child_.id(), caption, className, nullptr};
  EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&query));
  return query.found;
}

bool copyFile(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE; }

}  // namespace tlharden
