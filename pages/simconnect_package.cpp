#include "pages/simconnect_package.h"

#include <cstring>
#include <memory>
#include <new>

#include "payload/file_extractor_impl.h"

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

// Puts the payload's bytes at path: through the file itself when it is one
// plain file (held with no sharing while it is rewritten), else under a new
// name in place of the link or second name.
DWORD putPayloadBack(FileExtractorImpl& extractor, const std::string& path, SECURITY_ATTRIBUTES* security) {
  win::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid() || !isPlainFile(file.get())) {
    file.reset();
    // DeleteFile removes a link or one name of a file, never what it leads to.
    if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return GetLastError();
    file.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, security, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return GetLastError();
  }
  if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(file.get())) {
    return GetLastError();
  }
  const ExtractResult result = extractor.inflateFile(
      kSimConnectPackageName, [&](const uint8_t* data, uint32_t n) { return writeAll(file.get(), data, n); });
  if (result != ExtractResult::Ok) return extractor.lastError() != 0 ? extractor.lastError() : ERROR_WRITE_FAULT;
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
  // A second round only when the first put the bytes back; a third would
  // mean someone rewrites the file as fast as we do.
  for (int round = 0; round < 3; ++round) {
    win::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.valid() && isPlainFile(file.get()) && matchesPayload(extractor, file.get())) {
      // msiexec reads it from the start.
      SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
      *held = std::move(file);
      return true;
    }
    file.reset();
    report->rewritten = true;
    const DWORD error = putPayloadBack(extractor, path, security);
    if (error != 0) {
      report->error = error;
      return false;
    }
  }
  report->error = ERROR_SHARING_VIOLATION;
  return false;
}
