#include "pages/simconnect_package.h"

#include <cstring>
#include <memory>
#include <new>

#include "payload/file_extractor_impl.h"
#include "platform/file_names.h"
#include "platform/held_folder.h"

namespace {

// A handle that names exactly one plain file: not a link, no second name.
bool isPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
         info.nNumberOfLinks == 1;
}

bool readAll(HANDLE file, uint8_t* data, DWORD size) {
  while (size > 0) {
    DWORD read = 0;
    if (!ReadFile(file, data, size, &read, nullptr) || read == 0) return false;
    data += read;
    size -= read;
  }
  return true;
}

// The file's bytes from its start against the payload's, block by block.
bool matchesPayload(FileExtractorImpl& extractor, HANDLE file) {
  uint32_t compressed = 0;
  uint32_t size = 0;
  LARGE_INTEGER fileSize;
  if (extractor.getFileSizes(kSimConnectPackageName, &compressed, &size) != ExtractResult::Ok ||
      !GetFileSizeEx(file, &fileSize) || fileSize.QuadPart != static_cast<LONGLONG>(size)) {
    return false;
  }
  std::unique_ptr<uint8_t[]> onDisk(new (std::nothrow) uint8_t[extractor.chunkSize()]);
  if (!onDisk) return false;
  const ExtractResult result = extractor.inflateFile(kSimConnectPackageName, [&](const uint8_t* data, uint32_t n) {
    return readAll(file, onDisk.get(), n) && std::memcmp(onDisk.get(), data, n) == 0;
  });
  return result == ExtractResult::Ok;
}

bool writeAll(HANDLE file, const uint8_t* data, uint32_t size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Puts the payload's bytes under name in the held folder: written into a new
// file beside it (created with security, which may be null) and renamed over
// the name, which replaces the name alone, whatever it held (a file, a link,
// one name of a hard link). A failure leaves the name as it was.
DWORD putPayloadBack(FileExtractorImpl& extractor, const win::HeldFolder& folder, const std::wstring& name,
                     PSECURITY_DESCRIPTOR security) {
  win::FileHandle file;
  std::wstring temporary;
  DWORD error = folder.createTemporary(L"tmp", &file, &temporary, security);
  if (error != ERROR_SUCCESS) return error;
  const ExtractResult result = extractor.inflateFile(
      kSimConnectPackageName, [&](const uint8_t* data, uint32_t n) { return writeAll(file.get(), data, n); });
  error = result != ExtractResult::Ok ? (extractor.lastError() != 0 ? extractor.lastError() : ERROR_WRITE_FAULT)
                                      : folder.moveInto(file.get(), name, true);
  if (error != ERROR_SUCCESS) {
    win::deleteOnClose(file.get());
    return error;
  }
  return file.close() ? 0 : GetLastError();
}

}  // namespace

bool holdPayloadPackage(HMODULE module, const std::string& path, SECURITY_ATTRIBUTES* security,
                        win::FileHandle* held, PackageCheck* report) {
  *report = PackageCheck();
  FileExtractorImpl extractor;
  uint32_t compressed = 0;
  uint32_t size = 0;
  if (!extractor.init(module, nullptr) ||
      extractor.getFileSizes(kSimConnectPackageName, &compressed, &size) != ExtractResult::Ok) {
    report->error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  // The product folder, held: every open and replace below is by a name in
  // it, never by its path again.
  const size_t slash = path.find_last_of('\\');
  win::HeldFolder folder;
  DWORD error = slash == std::string::npos ? static_cast<DWORD>(ERROR_INVALID_NAME)
                                           : folder.open(win::widen(path.substr(0, slash)), false);
  const std::wstring name = slash == std::string::npos ? std::wstring() : win::widen(path.substr(slash + 1));
  if (error != ERROR_SUCCESS) {
    report->error = error;
    return false;
  }
  PSECURITY_DESCRIPTOR descriptor = security != nullptr ? security->lpSecurityDescriptor : nullptr;
  // A second round only when the first put the bytes back; a third would
  // mean someone rewrites the file as fast as we do.
  for (int round = 0; round < 3; ++round) {
    win::FileHandle file;
    if (folder.openFile(name, GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, 1 /* FILE_OPEN */, &file) ==
            ERROR_SUCCESS &&
        isPlainFile(file.get()) && folder.holds(file.get(), name) && matchesPayload(extractor, file.get())) {
      // msiexec reads it from the start.
      SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
      *held = std::move(file);
      return true;
    }
    file.reset();
    report->rewritten = true;
    error = putPayloadBack(extractor, folder, name, descriptor);
    if (error != 0) {
      report->error = error;
      return false;
    }
  }
  report->error = ERROR_SHARING_VIOLATION;
  return false;
}
