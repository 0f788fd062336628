#include "tools/uninstaller/relaunch.h"

#include <vector>

#include "platform/handles.h"

namespace uninst {

std::string moduleFileName() {
  std::vector<char> buffer(MAX_PATH);
  while (buffer.size() <= 65536) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    // A full buffer means the name was cut short.
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
  return std::string();
}

std::string temporaryFolder() {
  std::vector<char> buffer(MAX_PATH + 1);
  DWORD n = GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n > buffer.size()) {
    buffer.resize(n + 1);
    n = GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (n == 0 || n > buffer.size()) return std::string();
  std::string folder(buffer.data(), n);
  if (folder.back() != '\\') folder.push_back('\\');
  return folder;
}

namespace {

// The copy's image is released a moment after its process ends, so the
// delete is retried briefly before it is left to the next restart.
void removeFinishedCopy(const std::string& copy) {
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (DeleteFileA(copy.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
    Sleep(50);
  }
  MoveFileExA(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

bool runFromTemporaryCopy(const CommandLine& args, DWORD* exitCode, DWORD* error) {
  *exitCode = 0;
  *error = ERROR_SUCCESS;
  std::string self = moduleFileName();
  std::string temp = temporaryFolder();
  if (self.empty() || temp.empty()) {
    *error = GetLastError();
    return false;
  }
  std::string copy = temp + "tluninstall-" + std::to_string(GetCurrentProcessId()) + ".exe";
  if (!CopyFileA(self.c_str(), copy.c_str(), FALSE)) {
    *error = GetLastError();
    return false;
  }
  // This process waits while the copy removes the product folder; its current
  // folder must not be in there, or the folder could not be removed.
  SetCurrentDirectoryA(temp.c_str());

  std::string commandText = quoteArgument(copy) + " " + buildCopyArguments(args, self);
  std::vector<char> command(commandText.begin(), commandText.end());
  command.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, temp.c_str(), &startup,
                      &info)) {
    *error = GetLastError();
    DeleteFileA(copy.c_str());
    return false;
  }
  win::KernelHandle process(info.hProcess);
  win::KernelHandle thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) code = static_cast<DWORD>(-1);
  *exitCode = code;
  process.reset();
  thread.reset();

  removeFinishedCopy(copy);
  std::string aside = asidePathFor(copy);
  if (GetFileAttributesA(aside.c_str()) != INVALID_FILE_ATTRIBUTES) {
    // Our own image, renamed by the copy: it goes at the next restart.
    MoveFileExA(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  return true;
}

}  // namespace uninst
