#include "install/addon_registration.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "install/addon_edit.h"
#include "platform/ansi_code_page.h"
#include "platform/file_names.h"
#include "platform/handles.h"
#include "platform/held_folder.h"
#include "platform/private_folder.h"
#include "platform/scoped.h"

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

const DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
const ULONG kFileOpen = 1;
const ULONG kFileCreate = 2;

// Reads a whole open file from its start. On failure data is unspecified and
// the status says why.
AddonStatus readWholeFile(HANDLE file, std::string& data) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return fail(AddonResult::ReadFailed, GetLastError());
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
    if (!ReadFile(file, buffer, sizeof(buffer), &got, nullptr)) return fail(AddonResult::ReadFailed, GetLastError());
    if (got == 0) break;
    if (data.size() + got > kMaxAddonFileBytes) return fail(AddonResult::FileTooLarge, ERROR_FILE_TOO_LARGE);
    data.append(buffer, got);
  }
  return AddonStatus();
}

// Writes all of data to an open handle through write, then flushes it.
// Success means every byte reached the file.
bool writeAllAndFlush(HANDLE file, const std::string& data, AddonWriteFileFn write, DWORD& error) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(data.size() - done > 0x10000 ? 0x10000 : data.size() - done);
    DWORD written = 0;
    if (!write(file, data.data() + done, chunk, &written, nullptr)) {
      error = GetLastError();
      return false;
    }
    if (written == 0) {  // a write that makes no progress would loop forever
      error = ERROR_WRITE_FAULT;
      return false;
    }
    done += written;
  }
  if (!FlushFileBuffers(file)) {
    error = GetLastError();
    return false;
  }
  return true;
}

// Whether an open file is a plain file with one name: a link (a reparse
// point) or a second name (a hard link) is never written through.
bool plainFile(HANDLE file) {
  DWORD attributes = 0;
  return win::handleAttributes(file, &attributes) == ERROR_SUCCESS &&
         !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) && win::linkCount(file) == 1;
}

bool sameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

AddonStatus editExisting(const win::HeldFolder& folder, const std::wstring& name, const win::NameInfo& found,
                         const AddonEntry& entry) {
  // The installer runs elevated, and the temporary folder is the user's: the
  // temporary file goes into a private folder of it (platform/private_folder.h),
  // made relative to the held temporary folder and held itself, so nobody
  // without administrator rights can put a link in its place between two
  // steps. The file and the folder go on every path out.
  win::PrivateFolder scratch;
  DWORD error = scratch.create(kPrivateFolderPrefix);
  if (error != ERROR_SUCCESS) return fail(AddonResult::NoTempFile, error);
  win::FileHandle temp;
  std::wstring tempName;
  error = scratch.folder().createTemporary(kTempPrefix, &temp, &tempName);
  if (error != ERROR_SUCCESS) return fail(AddonResult::NoTempFile, error);
  win::DeleteUnlessKept removeTemp(temp);

  // The add-on file is opened once by its name in the held folder, never
  // through a link, and refused when it is one or has a second name.
  win::FileHandle original;
  error = folder.openFile(name, GENERIC_READ | FILE_READ_ATTRIBUTES, kShareReadWrite, kFileOpen, &original);
  if (error != ERROR_SUCCESS) return fail(AddonResult::ReadFailed, error);
  if (found.isLink() || found.links > 1 || !plainFile(original.get()) || !folder.holds(original.get(), name)) {
    return fail(AddonResult::ReadFailed, ERROR_ACCESS_DENIED);
  }
  std::string bytes;
  AddonStatus read = readWholeFile(original.get(), bytes);
  if (!read.ok()) return read;

  const std::string edited = editAddonFile(bytes, entry).bytes;
  if (!writeAllAndFlush(temp.get(), edited, g_writeFile, error)) return fail(AddonResult::TempWriteFailed, error);

  // Windows refuses to write a read-only file; a process with the rights to
  // ignore the attribute (Wine running as root does) must refuse it too, or
  // a file the user protected would be replaced.
  DWORD attributes = 0;
  error = win::handleAttributes(original.get(), &attributes);
  if (error != ERROR_SUCCESS) return fail(AddonResult::CopyBackFailed, error);
  if (attributes & FILE_ATTRIBUTE_READONLY) return fail(AddonResult::CopyBackFailed, ERROR_ACCESS_DENIED);
  // Copied back into the file that was read: the name opened again in the
  // held folder, checked to be that same plain file.
  win::FileHandle target;
  error = folder.openFile(name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, kShareReadWrite, kFileOpen, &target);
  if (error != ERROR_SUCCESS) return fail(AddonResult::CopyBackFailed, error);
  if (!plainFile(target.get()) || !sameFile(original.get(), target.get()) || !folder.holds(target.get(), name)) {
    return fail(AddonResult::CopyBackFailed, ERROR_ACCESS_DENIED);
  }
  std::string verified;
  OVERLAPPED start = {};
  DWORD got = 0;
  verified.resize(edited.size());
  if (!edited.empty() && (!ReadFile(temp.get(), &verified[0], static_cast<DWORD>(verified.size()), &got, &start) ||
                          got != verified.size())) {
    return fail(AddonResult::CopyBackFailed, got != verified.size() ? ERROR_READ_FAULT : GetLastError());
  }
  error = win::setLength(target.get(), 0);
  if (error != ERROR_SUCCESS) return fail(AddonResult::CopyBackFailed, error);
  if (!writeAllAndFlush(target.get(), verified, &WriteFile, error)) return fail(AddonResult::CopyBackFailed, error);
  if (!target.close()) return fail(AddonResult::CopyBackFailed, GetLastError());
  return AddonStatus();
}

AddonStatus createNew(const win::HeldFolder& folder, const std::wstring& name, const char* fileName,
                      const AddonEntry& entry) {
  // Only if nothing of that name exists, so nothing put there meanwhile is
  // written through.
  win::FileHandle file;
  DWORD error = folder.openFile(name, GENERIC_WRITE | DELETE, FILE_SHARE_READ, kFileCreate, &file);
  if (error != ERROR_SUCCESS) return fail(AddonResult::CreateFailed, error);
  // The file did not exist a moment ago: an incomplete one is removed rather
  // than left for the simulator to choke on.
  win::DeleteUnlessKept removeIncomplete(file);
  if (!writeAllAndFlush(file.get(), newAddonFile(fileName, entry), g_writeFile, error)) {
    return fail(AddonResult::CreateWriteFailed, error);
  }
  removeIncomplete.keep();
  if (!file.close()) return fail(AddonResult::CreateWriteFailed, GetLastError());
  return AddonStatus();
}

}  // namespace

AddonStatus registerAddonWithStatus(const char* folder, const char* fileName, const char* entryName,
                                    const char* productDir, const char* moduleFile) {
  if (!folder || !fileName || !entryName || !productDir || !moduleFile) {
    return fail(AddonResult::BadArgument, ERROR_INVALID_PARAMETER);
  }
  // The add-on folder is opened once and held (platform/held_folder.h): a
  // link on the way is followed only where its maker may write.
  win::HeldFolder addonFolder;
  DWORD error = addonFolder.open(win::widen(folder), false);
  if (error != ERROR_SUCCESS) return fail(AddonResult::NoAddonFolder, error);

  AddonEntry entry;
  entry.name = entryName;
  entry.path = std::string(productDir) + moduleFile;
  entry.moduleFile = moduleFile;

  // A file name may name a folder below the add-on folder too.
  std::wstring name = win::widen(fileName);
  const size_t slash = name.find_last_of(L"\\/");
  win::HeldFolder below;
  const win::HeldFolder* fileFolder = &addonFolder;
  if (slash != std::wstring::npos) {
    error = below.openBelow(addonFolder, name.substr(0, slash), false);
    if (error != ERROR_SUCCESS) return fail(AddonResult::CreateFailed, error);
    fileFolder = &below;
    name = name.substr(slash + 1);
  }
  win::NameInfo found;
  error = fileFolder->inspect(name, &found);
  if (error != ERROR_SUCCESS) return fail(AddonResult::ReadFailed, error);
  if (found.exists) return editExisting(*fileFolder, name, found, entry);
  return createNew(*fileFolder, name, fileName, entry);
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
