#include "install/addon_registration.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "install/addon_edit.h"
#include "platform/file_names.h"
#include "platform/handles.h"
#include "platform/private_folder.h"
#include "wizard/ansi_code_page.h"

namespace {

AddonWriteFileFn g_writeFile = &WriteFile;

const char kAddonFileName[] = "dll.xml";
const char kFsxSubfolder[] = "Microsoft\\FSX\\";
const wchar_t kTempPrefix[] = L"tl";
const wchar_t kPrivateFolderPrefix[] = L"tlsetup";

// Every module the installer registers, in registration order.
struct ModuleRow {
  const char* moduleFile;
  const char* entryName;
};
const ModuleRow kTransponder = {"tltrans10.dll", "TowerLink Transponder"};
const ModuleRow kAiControl = {"tlaicontrol10.dll", "TowerLink AI Control"};
const ModuleRow kInternal = {"tlmod10.dll", "TowerLink Internal Version"};

AddonStatus fail(AddonResult result, DWORD windowsError) {
  AddonStatus s;
  s.result = result;
  s.windowsError = windowsError;
  return s;
}

// Removes a file when it goes out of scope, unless released.
class ScopedFileRemoval {
 public:
  explicit ScopedFileRemoval(std::wstring path) : path_(std::move(path)) {}
  ~ScopedFileRemoval() {
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }
  ScopedFileRemoval(const ScopedFileRemoval&) = delete;
  ScopedFileRemoval& operator=(const ScopedFileRemoval&) = delete;
  void release() { path_.clear(); }

 private:
  std::wstring path_;
};

// Removes an empty folder when it goes out of scope.
class ScopedFolderRemoval {
 public:
  explicit ScopedFolderRemoval(std::wstring folder) : folder_(std::move(folder)) {}
  ~ScopedFolderRemoval() { RemoveDirectoryW(folder_.c_str()); }
  ScopedFolderRemoval(const ScopedFolderRemoval&) = delete;
  ScopedFolderRemoval& operator=(const ScopedFolderRemoval&) = delete;

 private:
  std::wstring folder_;
};

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Reads a whole file. On failure data is unspecified and the status says why.
AddonStatus readWholeFile(const std::string& path, std::string& data) {
  win::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return fail(AddonResult::ReadFailed, GetLastError());
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return fail(AddonResult::ReadFailed, GetLastError());
  if (size.QuadPart > static_cast<LONGLONG>(kMaxAddonFileBytes)) {
    return fail(AddonResult::FileTooLarge, ERROR_FILE_TOO_LARGE);
  }
  data.clear();
  data.reserve(static_cast<size_t>(size.QuadPart));
  // Read to the end rather than trusting the size: the file is shared and
  // may change, and the cap holds either way.
  char buffer[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr)) {
      return fail(AddonResult::ReadFailed, GetLastError());
    }
    if (got == 0) break;
    if (data.size() + got > kMaxAddonFileBytes) return fail(AddonResult::FileTooLarge, ERROR_FILE_TOO_LARGE);
    data.append(buffer, got);
  }
  return AddonStatus();
}

// Writes all of data to an open handle, then flushes and closes it. Success
// means every byte reached the file and the close succeeded.
bool writeAllAndClose(win::FileHandle& file, const std::string& data, DWORD& error) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(data.size() - done > 0x10000 ? 0x10000 : data.size() - done);
    DWORD written = 0;
    if (!g_writeFile(file.get(), data.data() + done, chunk, &written, nullptr)) {
      error = GetLastError();
      return false;
    }
    if (written == 0) {  // a write that makes no progress would loop forever
      error = ERROR_WRITE_FAULT;
      return false;
    }
    done += written;
  }
  if (!FlushFileBuffers(file.get())) {
    error = GetLastError();
    return false;
  }
  if (!file.close()) {
    error = GetLastError();
    return false;
  }
  return true;
}

AddonStatus editExisting(const std::string& filePath, const AddonEntry& entry) {
  // The installer runs elevated, and the temporary folder is the user's: the
  // temporary file goes into a private folder of it (platform/private_folder.h),
  // where nobody without administrator rights can replace it by a link
  // between its creation and the copy back. The folder goes on every path out.
  DWORD folderError = ERROR_SUCCESS;
  const std::wstring tempFolder = win::createPrivateFolder(kPrivateFolderPrefix, &folderError);
  if (tempFolder.empty()) return fail(AddonResult::NoTempFile, folderError);
  ScopedFolderRemoval removeFolder(tempFolder);
  wchar_t tempPath[MAX_PATH];
  if (tempFolder.size() >= MAX_PATH - 14 || GetTempFileNameW(tempFolder.c_str(), kTempPrefix, 0, tempPath) == 0) {
    return fail(AddonResult::NoTempFile, tempFolder.size() >= MAX_PATH - 14 ? ERROR_BUFFER_OVERFLOW : GetLastError());
  }
  // From here the temporary file exists; it goes on every path out.
  ScopedFileRemoval removeTemp(tempPath);

  std::string original;
  AddonStatus read = readWholeFile(filePath, original);
  if (!read.ok()) return read;

  const std::string edited = editAddonFile(original, entry).bytes;

  win::FileHandle temp(CreateFileW(tempPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!temp.valid()) return fail(AddonResult::TempWriteFailed, GetLastError());
  DWORD error = 0;
  if (!writeAllAndClose(temp, edited, error)) return fail(AddonResult::TempWriteFailed, error);

  // Windows' CopyFileA refuses a read-only target; a process with the rights
  // to ignore the attribute (Wine running as root does) must refuse it too,
  // or a file the user protected would be replaced.
  DWORD attributes = GetFileAttributesA(filePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail(AddonResult::CopyBackFailed, GetLastError());
  if (attributes & FILE_ATTRIBUTE_READONLY) return fail(AddonResult::CopyBackFailed, ERROR_ACCESS_DENIED);
  if (!CopyFileW(tempPath, win::widen(filePath).c_str(), FALSE)) return fail(AddonResult::CopyBackFailed, GetLastError());
  return AddonStatus();
}

AddonStatus createNew(const std::string& filePath, const char* fileName, const AddonEntry& entry) {
  win::FileHandle file(CreateFileA(filePath.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return fail(AddonResult::CreateFailed, GetLastError());
  // The file did not exist a moment ago: an incomplete one is removed rather
  // than left for the simulator to choke on.
  ScopedFileRemoval removeIncomplete(win::widen(filePath));
  DWORD error = 0;
  if (!writeAllAndClose(file, newAddonFile(fileName, entry), error)) {
    file.close();  // before the removal, so the name goes at once
    return fail(AddonResult::CreateWriteFailed, error);
  }
  removeIncomplete.release();
  return AddonStatus();
}

}  // namespace

AddonStatus registerAddonWithStatus(const char* folder, const char* fileName, const char* entryName,
                                    const char* productDir, const char* moduleFile) {
  if (!folder || !fileName || !entryName || !productDir || !moduleFile) {
    return fail(AddonResult::BadArgument, ERROR_INVALID_PARAMETER);
  }
  if (PathFileExistsA(folder) != TRUE) return fail(AddonResult::NoAddonFolder, GetLastError());

  AddonEntry entry;
  entry.name = entryName;
  entry.path = std::string(productDir) + moduleFile;
  entry.moduleFile = moduleFile;

  const std::string filePath = std::string(folder) + fileName;
  if (PathFileExistsA(filePath.c_str()) == TRUE) return editExisting(filePath, entry);
  return createNew(filePath, fileName, entry);
}

bool registerAddon(const char* folder, const char* fileName, const char* entryName, const char* productDir,
                   const char* moduleFile) {
  return registerAddonWithStatus(folder, fileName, entryName, productDir, moduleFile).ok();
}

AddonStatus fsxConfigFolder(std::string& folder) {
  char appData[MAX_PATH] = {};
  HRESULT hr = SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, appData);
  if (hr != S_OK) return fail(AddonResult::NoAppDataFolder, static_cast<DWORD>(hr));
  std::string result(appData);
  if (!lastCharIsBackslash(result, ansiLeadBytes())) result += '\\';
  result += kFsxSubfolder;
  folder = std::move(result);
  return AddonStatus();
}

AddonStatus configureFsxWithStatus(bool registerSimulatorModules, bool registerInternalModule,
                                   const char* productDir) {
  if (!productDir) return fail(AddonResult::BadArgument, ERROR_INVALID_PARAMETER);
  std::string folder;
  AddonStatus status = fsxConfigFolder(folder);
  if (!status.ok()) return status;

  ModuleRow modules[3];
  int count = 0;
  if (registerSimulatorModules) {
    modules[count++] = kTransponder;
    modules[count++] = kAiControl;
  }
  if (registerInternalModule) modules[count++] = kInternal;
  for (int i = 0; i < count; ++i) {
    status = registerAddonWithStatus(folder.c_str(), kAddonFileName, modules[i].entryName, productDir,
                                     modules[i].moduleFile);
    if (!status.ok()) return status;
  }
  return AddonStatus();
}

bool configureFsx(bool registerSimulatorModules, bool registerInternalModule, const char* productDir) {
  return configureFsxWithStatus(registerSimulatorModules, registerInternalModule, productDir).ok();
}

void setAddonWriteFileForTesting(AddonWriteFileFn writeFile) {
  g_writeFile = writeFile ? writeFile : &WriteFile;
}
