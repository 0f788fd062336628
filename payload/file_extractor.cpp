// The file extractor: reads catalogue and chunks in place from the module's
// locked resources and inflates one file at a time through two chunk-sized
// buffers, so no payload file is ever held whole in memory.
#include "payload/file_extractor_impl.h"

#include <zlib.h>

#include <cstring>
#include <deque>
#include <memory>
#include <new>

#include "platform/handles.h"
#include "wizard/ansi_code_page.h"

#if defined(__i386__) || defined(_M_IX86)
// The inflater is initialised with the structure size of the zlib the
// installer was designed against; on i686 that layout is 56 bytes.
static_assert(sizeof(z_stream) == 56, "z_stream layout differs from the one inflateInit_ is told about");
#endif

namespace {

const char kZlibVersionText[] = "1.2.1";
const char kDeleteFileTag[] = "DeleteFile";

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

// Deletes a file that a failed extraction left behind, unless released.
class RemoveOnFailure {
 public:
  RemoveOnFailure() = default;
  RemoveOnFailure(const RemoveOnFailure&) = delete;
  RemoveOnFailure& operator=(const RemoveOnFailure&) = delete;
  ~RemoveOnFailure() {
    if (!path_.empty()) DeleteFileA(path_.c_str());
  }
  void arm(const std::string& path) { path_ = path; }
  void release() { path_.clear(); }

 private:
  std::string path_;
};

// An inflate stream ended on every way out.
class InflateStream {
 public:
  InflateStream() { std::memset(&stream_, 0, sizeof(stream_)); }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  ~InflateStream() {
    if (active_) inflateEnd(&stream_);
  }
  bool init(uint8_t* output, uint32_t outputSize) {
    stream_.zalloc = Z_NULL;
    stream_.zfree = Z_NULL;
    stream_.opaque = Z_NULL;
    stream_.next_in = Z_NULL;
    stream_.avail_in = 0;
    stream_.next_out = output;
    stream_.avail_out = outputSize;
    active_ = inflateInit_(&stream_, kZlibVersionText, static_cast<int>(sizeof(z_stream))) == Z_OK;
    return active_;
  }
  z_stream& get() { return stream_; }

 private:
  z_stream stream_;
  bool active_ = false;
};

uint64_t packVersion(const uint16_t parts[4]) {
  return (static_cast<uint64_t>(parts[0]) << 48) | (static_cast<uint64_t>(parts[1]) << 32) |
         (static_cast<uint64_t>(parts[2]) << 16) | static_cast<uint64_t>(parts[3]);
}

bool writeAll(HANDLE file, const uint8_t* data, uint32_t size) {
  DWORD written = 0;
  if (!WriteFile(file, data, size, &written, nullptr)) return false;
  // A short write reports success (Wine does so when the disk fills up in
  // mid-block): name the cause, or the caller would capture a stale error.
  if (written != size) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  return true;
}

}  // namespace

ExtractResult FileExtractorImpl::fail(ExtractResult code, DWORD error) {
  lastError_ = error;
  return code;
}

ExtractResult FileExtractorImpl::loadPayloadResource(uint32_t id, const uint8_t** data, uint32_t* length) {
  HRSRC info = findResource(module_, MAKEINTRESOURCEA(id & 0xFFFF), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (info == nullptr) return fail(ExtractResult::ResourceNotFound, GetLastError());
  HGLOBAL loaded = LoadResource(module_, info);
  if (loaded == nullptr) return fail(ExtractResult::ResourceNotLoaded, GetLastError());
  const void* locked = LockResource(loaded);
  if (locked == nullptr) return fail(ExtractResult::ResourceNotLocked, GetLastError());
  *data = static_cast<const uint8_t*>(locked);
  *length = SizeofResource(module_, info);
  return ExtractResult::Ok;
}

bool FileExtractorImpl::init(HMODULE module, Porter::FileExtractorStatus* status) {
  module_ = module;
  status_ = status;
  lastError_ = 0;
  readyFolders_.clear();
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  if (loadPayloadResource(kCatalogueResourceId, &data, &length) != ExtractResult::Ok) return false;
  try {
    // Parsed apart first: a catalogue cut short adds nothing to the index.
    uint32_t chunkSize = 0;
    CatalogueIndex parsed;
    if (parseCatalogue(data, length, &chunkSize, &parsed) != CatalogueParse::Ok || chunkSize == 0) {
      lastError_ = ERROR_INVALID_DATA;
      return false;
    }
    chunkSize_ = chunkSize;
    index_.insert(parsed.begin(), parsed.end());  // a name already indexed keeps its first entry
  } catch (const std::bad_alloc&) {
    lastError_ = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  return true;
}

bool FileExtractorImpl::close() {
  index_.clear();
  readyFolders_.clear();
  return true;
}

FileExtractorImpl::CreateDirectoryFn FileExtractorImpl::createDirectory = ::CreateDirectoryA;
FileExtractorImpl::CreateFileFn FileExtractorImpl::createFile = ::CreateFileA;

bool FileExtractorImpl::ensureDirectory(const std::string& folder, SECURITY_ATTRIBUTES* security) {
  // GetTempFileNameA needs room for "\xxxx.tmp" and a MAX_PATH buffer.
  if (folder.empty() || folder.size() > MAX_PATH - 14) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  char probe[MAX_PATH];
  if (GetTempFileNameA(folder.c_str(), "", 0, probe) != 0) {
    DeleteFileA(probe);
    return true;
  }
  // Walk up until one level can be created, then create the rest outermost first.
  std::deque<std::string> pending;
  std::string current = folder;
  while (!current.empty()) {
    if (createDirectory(current.c_str(), security)) break;
    pending.push_front(current);
    current = parentPath(current, ansiLeadBytes());
  }
  if (current.empty()) return false;
  for (const std::string& level : pending) {
    if (!createDirectory(level.c_str(), security)) return false;
  }
  return true;
}

// A folder that ensureDirectory accepted earlier in this run is only checked
// for still being a folder: its probe makes and deletes a temporary file, and
// under Wine each new name costs a scan of the whole folder, which doubled the
// file creations of a run whose folders hold hundreds of files. A folder that
// has gone meanwhile takes the full path again.
bool FileExtractorImpl::folderReady(const std::string& folder) {
  if (readyFolders_.count(folder) != 0) {
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    // A folder that has become a link since is checked again (folder_guard.h).
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      return true;
    }
    readyFolders_.erase(folder);
  }
  // Levels still to be made go into a folder that is checked first, so that
  // none is made where a link leads; one made earlier in this run already was.
  std::string existing = folder;
  for (DWORD a = GetFileAttributesA(existing.c_str());
       !existing.empty() && (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0);
       a = GetFileAttributesA(existing.c_str())) {
    existing = parentPath(existing, ansiLeadBytes());
  }
  if (!existing.empty() && existing != folder && readyFolders_.count(existing) == 0 && !guard_.allows(existing)) {
    return false;
  }
  const std::string& secured = creationSecurity.folder;
  const bool inSecured = !secured.empty() && (folder + "\\").compare(0, secured.size(), secured) == 0;
  if (!ensureDirectory(folder, inSecured ? creationSecurity.folderSecurity : nullptr)) return false;
  if (!guard_.allows(folder)) return false;
  try {
    readyFolders_.insert(folder);
  } catch (const std::bad_alloc&) {
    // Not remembered: the next file probes again.
  }
  return true;
}

bool FileExtractorImpl::readProductVersion(const char* path, uint16_t parts[4]) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return false;
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]);
  if (!block) return false;
  if (!GetFileVersionInfoA(path, 0, size, block.get())) return false;
  void* value = nullptr;
  UINT valueLength = 0;
  if (!VerQueryValueA(block.get(), "\\", &value, &valueLength) || value == nullptr ||
      valueLength < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  parts[0] = HIWORD(info->dwProductVersionMS);
  parts[1] = LOWORD(info->dwProductVersionMS);
  parts[2] = HIWORD(info->dwProductVersionLS);
  parts[3] = LOWORD(info->dwProductVersionLS);
  return true;
}

ExtractResult FileExtractorImpl::inflateEntry(const CatalogueEntry& entry, const Consumer& consume) {
  std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[chunkSize_]);
  std::unique_ptr<uint8_t[]> inflated(new (std::nothrow) uint8_t[chunkSize_]);
  if (!input || !inflated) return fail(ExtractResult::InflateInitFailed, ERROR_NOT_ENOUGH_MEMORY);
  InflateStream inflater;
  if (!inflater.init(inflated.get(), chunkSize_)) return fail(ExtractResult::InflateInitFailed, 0);
  z_stream& z = inflater.get();

  ExtractResult result = ExtractResult::Ok;
  uint32_t remaining = entry.compressedSize;
  bool ended = false;

  auto inflatePiece = [&](const StreamPiece& piece) -> bool {
    const uint8_t* chunk = nullptr;
    uint32_t chunkLength = 0;
    result = loadPayloadResource(piece.chunkId, &chunk, &chunkLength);
    if (result != ExtractResult::Ok) return false;
    // The catalogue carries no lengths: a piece past the chunk's real end is
    // not in the payload, and is never read.
    if (piece.position > chunkLength || chunkLength - piece.position < piece.length) {
      result = fail(ExtractResult::ResourceNotFound, ERROR_INVALID_DATA);
      return false;
    }
    const uint32_t handedOver = entry.compressedSize - remaining + piece.length;
    remaining -= piece.length;
    if (piece.length == 0) return true;

    std::memcpy(input.get(), chunk + piece.position, piece.length);
    z.next_in = input.get();
    z.avail_in = piece.length;
    // A call that fills the output buffer may leave output pending inside the
    // inflater even when this piece's input is used up: call again then.
    bool outputFull = false;
    while (z.avail_in > 0 || outputFull) {
      int rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_BUF_ERROR && z.avail_in == 0) break;  // nothing was pending: needs the next piece
      if (rc != Z_OK && rc != Z_STREAM_END) {
        result = fail(ExtractResult::InflateFailed, 0);
        return false;
      }
      outputFull = z.avail_out == 0;
      if (outputFull || rc == Z_STREAM_END) {
        if (!consume(inflated.get(), chunkSize_ - z.avail_out)) {
          result = fail(ExtractResult::WriteFailed, GetLastError());
          return false;
        }
        z.next_out = inflated.get();
        z.avail_out = chunkSize_;
      }
      if (status_ != nullptr) {
        status_->fileProgress(handedOver, entry.compressedSize, static_cast<uint32_t>(z.total_out),
                              entry.uncompressedSize);
      }
      if (rc == Z_STREAM_END) {
        // Bytes left after the stream's end mean the entry and the stream disagree.
        if (z.avail_in > 0 || remaining > 0) {
          result = fail(ExtractResult::InflateFailed, 0);
          return false;
        }
        ended = true;
        break;
      }
    }
    return true;
  };

  if (!forEachPiece(entry, chunkSize_, inflatePiece)) {
    // Either a piece failed (result says how) or the entry's position lies
    // outside the chunks altogether (offset above chunkSize).
    return result != ExtractResult::Ok ? result : fail(ExtractResult::ResourceNotFound, ERROR_INVALID_DATA);
  }
  // compressedSize used up but no stream end: the file would be short.
  if (!ended) return fail(ExtractResult::InflateFailed, 0);
  return ExtractResult::Ok;
}

ExtractResult FileExtractorImpl::inflateFile(const char* name, const Consumer& consume) {
  lastError_ = 0;
  const char* nameText = orEmpty(name);
  if (*nameText == '\0') return ExtractResult::NotInCatalogue;
  auto found = index_.find(normalizePath(nameText));
  if (found == index_.end()) return ExtractResult::NotInCatalogue;
  return inflateEntry(found->second, consume);
}

ExtractResult FileExtractorImpl::extractFile(const char* name, const char* targetPath, bool replaceIfNewer) {
  lastError_ = 0;
  const char* nameText = orEmpty(name);
  const std::string finalPath = orEmpty(targetPath);
  if (status_ != nullptr) status_->fileStarted(nameText, finalPath.c_str());

  if (*nameText == '\0') return ExtractResult::NotInCatalogue;
  auto found = index_.find(normalizePath(nameText));
  if (found == index_.end()) return ExtractResult::NotInCatalogue;
  const CatalogueEntry entry = found->second;

  const std::string folder = parentPath(finalPath, ansiLeadBytes());
  if (!folderReady(folder)) return fail(ExtractResult::FolderNotCreated, GetLastError());
  if (finalPath.size() >= MAX_PATH) return fail(ExtractResult::OutputNotCreated, ERROR_FILENAME_EXCED_RANGE);

  // Declared before the output handle so the file is closed before it is deleted.
  RemoveOnFailure removeOnFailure;
  std::string outputPath = finalPath;
  if (replaceIfNewer) {
    char temporary[MAX_PATH];  // ensureDirectory has checked that folder leaves room
    if (GetTempFileNameA(folder.c_str(), "tmp", 0, temporary) == 0) {
      return fail(ExtractResult::OutputNotCreated, GetLastError());
    }
    outputPath = temporary;
    removeOnFailure.arm(outputPath);  // the empty temporary file exists from here on
  }

  {
    SECURITY_ATTRIBUTES* security = nullptr;
    for (const std::string& secured : creationSecurity.files) {
      if (secured == finalPath) security = creationSecurity.fileSecurity;
    }
    // A new name, so that the list given here is the file's.
    if (security != nullptr) DeleteFileA(outputPath.c_str());
    win::FileHandle output(createFile(outputPath.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security,
                                      security != nullptr ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!output.valid()) return fail(ExtractResult::OutputNotCreated, GetLastError());
    removeOnFailure.arm(outputPath);
    ExtractResult inflated =
        inflateEntry(entry, [&output](const uint8_t* data, uint32_t size) { return writeAll(output.get(), data, size); });
    if (inflated != ExtractResult::Ok) return inflated;
    if (!output.close()) return fail(ExtractResult::WriteFailed, GetLastError());
  }

  if (replaceIfNewer) {
    uint16_t existing[4];
    uint16_t fresh[4];
    const bool replace = !readProductVersion(finalPath.c_str(), existing) ||
                         !readProductVersion(outputPath.c_str(), fresh) || packVersion(fresh) > packVersion(existing);
    // One step: a replace that fails leaves the previous copy where it was.
    if (replace && !MoveFileExA(outputPath.c_str(), finalPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return fail(ExtractResult::OutputNotCreated, GetLastError());  // the temporary file goes
    }
    removeOnFailure.release();
    if (!replace) DeleteFileA(outputPath.c_str());
  } else {
    removeOnFailure.release();
  }

  if (status_ != nullptr) status_->fileFinished();
  return ExtractResult::Ok;
}

ExtractResult FileExtractorImpl::extractFolder(const char* selector, const char* folder,
                                               Porter::UninstallerSetup* record, const char* description,
                                               const std::vector<std::string>* exclusions) {
  lastError_ = 0;
  const std::string normalisedSelector = normalizePath(orEmpty(selector));
  if (normalisedSelector.empty()) return ExtractResult::NothingSelected;
  // Without a record nothing written could be removed again: refuse up front.
  if (record == nullptr) return ExtractResult::OutputNotCreated;
  const std::string targetFolder = orEmpty(folder);
  if (targetFolder.empty()) return ExtractResult::FolderNotCreated;
  const char* desc = orEmpty(description);

  std::vector<std::string> excluded;
  if (exclusions != nullptr) {
    for (const std::string& exclusion : *exclusions) excluded.push_back(normalizePath(exclusion));
  }
  std::vector<std::string> selected;
  forEachSelected(index_, normalisedSelector,
                  [&](const std::string& key, const CatalogueEntry&) { selected.push_back(key); });

  size_t extracted = 0;
  for (const std::string& key : selected) {
    bool skip = false;
    for (const std::string& exclusion : excluded) {
      if (hasPrefix(key, exclusion)) {
        skip = true;
        break;
      }
    }
    if (skip) continue;
    const std::string target = buildTargetPath(targetFolder, normalisedSelector, key, ansiLeadBytes());
    ExtractResult result = extractFile(key.c_str(), target.c_str(), false);
    if (result != ExtractResult::Ok) return result;
    ++extracted;
    record->addEvent(kDeleteFileTag, target.c_str(), desc);
  }
  return extracted > 0 ? ExtractResult::Ok : ExtractResult::NothingSelected;
}

ExtractResult FileExtractorImpl::getFileSizes(const char* name, uint32_t* compressedSize,
                                              uint32_t* uncompressedSize) {
  const char* nameText = orEmpty(name);
  if (*nameText == '\0') return ExtractResult::NotInCatalogue;
  auto found = index_.find(normalizePath(nameText));
  if (found == index_.end()) return ExtractResult::NotInCatalogue;
  if (compressedSize != nullptr) *compressedSize = found->second.compressedSize;
  if (uncompressedSize != nullptr) *uncompressedSize = found->second.uncompressedSize;
  return ExtractResult::Ok;
}

ExtractResult FileExtractorImpl::getFolderSizes(const char* selector, uint32_t* compressedTotal,
                                                uint32_t* uncompressedTotal) {
  const std::string normalisedSelector = normalizePath(orEmpty(selector));
  std::vector<std::string> selected;
  forEachSelected(index_, normalisedSelector,
                  [&](const std::string& key, const CatalogueEntry&) { selected.push_back(key); });
  if (selected.empty()) return ExtractResult::NothingSelected;
  uint32_t compressed = 0;
  uint32_t uncompressed = 0;
  for (const std::string& key : selected) {
    uint32_t c = 0;
    uint32_t u = 0;
    ExtractResult result = getFileSizes(key.c_str(), &c, &u);
    if (result != ExtractResult::Ok) return result;
    compressed += c;  // 32-bit sums, as the progress total expects
    uncompressed += u;
  }
  if (compressedTotal != nullptr) *compressedTotal = compressed;
  if (uncompressedTotal != nullptr) *uncompressedTotal = uncompressed;
  return ExtractResult::Ok;
}

namespace {
FileExtractorImpl* processExtractor() {
  // Created on first use and never freed: the worker asks for it once per run.
  static FileExtractorImpl* instance = nullptr;
  if (instance == nullptr) instance = new (std::nothrow) FileExtractorImpl();
  return instance;
}
}  // namespace

Porter::FileExtractor* getFileExtractor() { return processExtractor(); }

void setCreationSecurity(const CreationSecurity& security) {
  FileExtractorImpl* extractor = processExtractor();
  if (extractor != nullptr) extractor->creationSecurity = security;
}
