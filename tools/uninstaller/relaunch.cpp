#include "tools/uninstaller/relaunch.h"

#include <vector>

#include "platform/handles.h"
#include "platform/held_folder.h"
#include "platform/ansi_code_page.h"

namespace uninst {

const wchar_t kCopyName[] = L"tluninstall.exe";
const wchar_t kAsideName[] = L"tluninstall.old";
const wchar_t kLogName[] = L"tluninstall.log";

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

std::wstring moduleFileNameW() {
  std::vector<wchar_t> buffer(MAX_PATH);
  while (buffer.size() <= 65536) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
  return std::wstring();
}

std::wstring folderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

namespace {

std::wstring systemFolderW() {
  wchar_t buffer[MAX_PATH + 1];
  UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? std::wstring(buffer, n) : std::wstring();
}

// The copy's image is released a moment after its process ends, so the
// delete is retried briefly before it is left to the next restart.
bool removeFinishedCopy(const std::wstring& copy) {
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (DeleteFileW(copy.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    Sleep(50);
  }
  MoveFileExW(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return false;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The copy, once written, is opened again read-only, shared for reading
// only, by its name in the held folder, and held until its process has
// started: nobody can change or replace it between its making and its start.
DWORD holdCopy(const win::PrivateFolder& privateFolder, win::FileHandle* heldCopy) {
  DWORD error = privateFolder.folder().openFile(kCopyName, GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                                1 /* FILE_OPEN */, heldCopy);
  DWORD attributes = 0;
  if (error == ERROR_SUCCESS && (win::handleAttributes(heldCopy->get(), &attributes) != ERROR_SUCCESS ||
                                 (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || win::linkCount(heldCopy->get()) != 1 ||
                                 !privateFolder.folder().holds(heldCopy->get(), kCopyName))) {
    error = ERROR_ACCESS_DENIED;
  }
  return error;
}

// The copy's command line: the copy quoted, then the arguments it is given.
std::vector<wchar_t> copyCommandLine(const std::wstring& copy, const CommandLine& args, const std::string& selfAnsi) {
  std::string copyAnsi;
  int n = WideCharToMultiByte(CP_ACP, 0, copy.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (n > 1) {
    copyAnsi.resize(static_cast<size_t>(n - 1));
    WideCharToMultiByte(CP_ACP, 0, copy.c_str(), -1, &copyAnsi[0], n, nullptr, nullptr);
  }
  const std::string commandText = quoteArgument(copyAnsi, ansiLeadBytes()) + " " + buildCopyArguments(args, selfAnsi, ansiLeadBytes());
  std::vector<wchar_t> command;
  n = MultiByteToWideChar(CP_ACP, 0, commandText.c_str(), -1, nullptr, 0);
  command.resize(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, commandText.c_str(), -1, command.data(), n);
  return command;
}

// After the copy's end: the copy, our own image it renamed aside, its log and
// the private folder removed now, or at the next restart when they cannot be.
void removeLeftovers(win::PrivateFolder* privateFolder, const std::wstring& folder, const std::wstring& copy) {
  bool later = !removeFinishedCopy(copy);
  const std::wstring aside = folder + kAsideName;
  const std::wstring log = folder + kLogName;
  if (exists(aside)) {
    // Our own image, renamed by the copy: it goes at the next restart.
    MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    later = true;
  }
  if (exists(log)) {
    MoveFileExW(log.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    later = true;
  }
  // The folder after its files: the restart removes them in this order.
  const std::wstring bare = folder.substr(0, folder.size() - 1);
  if (privateFolder->remove() != ERROR_SUCCESS && later) MoveFileExW(bare.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

bool runFromPrivateCopy(const CommandLine& args, DWORD* exitCode, DWORD* error) {
  *exitCode = 0;
  *error = ERROR_SUCCESS;
  const std::wstring self = moduleFileNameW();
  const std::string selfAnsi = moduleFileName();
  const std::wstring system = systemFolderW();
  if (self.empty() || selfAnsi.empty() || system.empty()) {
    *error = GetLastError();
    return false;
  }
  // Held from its creation to its removal (platform/private_folder.h).
  win::PrivateFolder privateFolder;
  *error = privateFolder.create(L"tluninstall");
  if (*error != ERROR_SUCCESS) return false;
  const std::wstring folder = privateFolder.path();
  const std::wstring copy = folder + kCopyName;
  if (!CopyFileW(self.c_str(), copy.c_str(), TRUE)) {
    *error = GetLastError();
    return false;
  }
  win::FileHandle heldCopy;
  *error = holdCopy(privateFolder, &heldCopy);
  if (*error != ERROR_SUCCESS) {
    heldCopy.reset();
    DeleteFileW(copy.c_str());
    return false;
  }
  // This process waits while the copy removes the product folder; its current
  // folder must be neither in there nor in the copy's folder, which goes too.
  SetCurrentDirectoryW(system.c_str());

  std::vector<wchar_t> command = copyCommandLine(copy, args, selfAnsi);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  const BOOL started = CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      system.c_str(), &startup, &info);
  if (!started) *error = GetLastError();
  heldCopy.reset();
  if (!started) {
    DeleteFileW(copy.c_str());
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

  removeLeftovers(&privateFolder, folder, copy);
  return true;
}

}  // namespace uninst
