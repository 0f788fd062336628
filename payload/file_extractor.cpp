// The file extractor: reads catalogue and chunks in place from the module's
// locked resources and inflates one file at a time through two chunk-sized
// buffers, so no payload file is ever held whole in memory.
#include "payload/file_extractor_impl.h"

#include <zlib.h>

#include <cstring>
#include <deque>
#include <memory>
#include <new>

#include "platform/file_names.h"
#include "platform/handles.h"
#include "platform/image_version.h"
#include "platform/scoped.h"
#include "system/uninstall_contract.h"
#include "platform/ansi_code_page.h"

#if defined(__i386__) || defined(_M_IX86)
// The inflater is initialised with the structure size of the zlib the
// installer was designed against; on i686 that layout is 56 bytes.
static_assert(sizeof(z_stream) == 56, "z_stream layout differs from the one inflateInit_ is told about");
#endif

namespace {

const char kZlibVersionText[] = "1.2.1";
// Output windows (chunkSize bytes each) written to a file in one call: one
// WriteFile per this many inflate calls that fill a window (a 1 MiB buffer
// for 64 KiB chunks). Under Wine a write costs as much as inflating a chunk;
// most of it is the call, not the bytes.
const uint32_t kWindowsPerWrite = 16;

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

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

// Adds the time from its making to stop() (or its end) to one step of steps,
// when steps is set.
class StepTimer {
 public:
  StepTimer(ExtractionSteps* steps, ExtractionSteps::Step step) : steps_(steps), step_(step) {
    if (steps_ != nullptr) QueryPerformanceCounter(&start_);
  }
  StepTimer(const StepTimer&) = delete;
  StepTimer& operator=(const StepTimer&) = delete;
  ~StepTimer() { stop(); }
  void stop() {
    if (steps_ == nullptr) return;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    steps_->ticks[step_] += end.QuadPart - start_.QuadPart;
    ++steps_->calls[step_];
    steps_ = nullptr;
  }

 private:
  ExtractionSteps* steps_;
  ExtractionSteps::Step step_;
  LARGE_INTEGER start_ = {};
};

}  // namespace

// The inflater of an extractor: made on its first stream and reset for every
// other (inflateReset keeps its state and window, so a stream costs no
// allocation), ended with the extractor or its close.
struct FileExtractorImpl::Inflater {
  z_stream stream;
  Inflater() { std::memset(&stream, 0, sizeof(stream)); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() { inflateEnd(&stream); }
};

void FileExtractorImpl::InflaterEnd::operator()(Inflater* inflater) const { delete inflater; }

FileExtractorImpl::~FileExtractorImpl() = default;

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
  held_.clear();
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  if (loadPayloadResource(kCatalogueResourceId, &data, &length) != ExtractResult::Ok) return false;
  // Parsed apart first: a catalogue cut short adds nothing to the index. The
  // index's nodes come from the throwing allocator: without memory for them
  // the program ends, as it does wherever else a small allocation fails.
  uint32_t chunkSize = 0;
  CatalogueIndex parsed;
  if (parseCatalogue(data, length, &chunkSize, &parsed) != CatalogueParse::Ok || chunkSize == 0) {
    lastError_ = ERROR_INVALID_DATA;
    return false;
  }
  chunkSize_ = chunkSize;
  index_.insert(parsed.begin(), parsed.end());  // a name already indexed keeps its first entry
  return true;
}

bool FileExtractorImpl::close() {
  index_.clear();
  held_.clear();
  inflater_.reset();
  output_.reset();
  outputSize_ = 0;
  return true;
}

bool FileExtractorImpl::ensureDirectory(const std::string& folder) {
  // Room for a file name of the length GetTempFileName makes ("\xxxx.tmp").
  if (folder.empty() || folder.size() > MAX_PATH - 14) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  win::HeldFolder held;
  DWORD error = held.open(win::widen(folder), true);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

// Each folder is opened once per run and held until close. A folder below
// one already held is opened relative to it, so what happened to the path
// above it since does not matter; the rest is opened from its root.
const win::HeldFolder* FileExtractorImpl::holdFolder(const std::string& folder, DWORD* error) {
  auto found = held_.find(folder);
  if (found != held_.end()) return &found->second;
  if (folder.empty() || folder.size() > MAX_PATH - 14) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return nullptr;
  }
  win::HeldFolder held;
  const win::HeldFolder* base = nullptr;
  std::string above = folder;
  while (base == nullptr) {
    above = parentPath(above, ansiLeadBytes());
    if (above.empty()) break;
    auto heldAbove = held_.find(above);
    if (heldAbove != held_.end()) base = &heldAbove->second;
  }
  PSECURITY_DESCRIPTOR security = folderSecurityFor(folder);
  *error = base != nullptr ? held.openBelow(*base, win::widen(folder.substr(above.size() + 1)), true, security)
                           : held.open(win::widen(folder), true, security);
  if (*error != ERROR_SUCCESS) return nullptr;
  // A map node is small: without memory for it the program ends, as it does
  // wherever else a small allocation fails.
  return &held_.emplace(folder, std::move(held)).first->second;
}

namespace {

// A whole file read through its handle (at most 64 MiB: a module is far
// smaller) into a buffer of its own, length bytes; null when it cannot be
// read or there is no memory for it.
std::unique_ptr<uint8_t[]> readWhole(HANDLE file, size_t* length) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart > (64 << 20)) return nullptr;
  *length = static_cast<size_t>(size.QuadPart);
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[*length]);
  if (!bytes) return nullptr;
  size_t done = 0;
  while (done < *length) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(done);
    DWORD got = 0;
    if (!ReadFile(file, bytes.get() + done, static_cast<DWORD>(*length - done), &got, &at) || got == 0) {
      return nullptr;
    }
    done += got;
  }
  return bytes;
}

}  // namespace

bool FileExtractorImpl::readProductVersion(HANDLE file, uint16_t parts[4]) {
  size_t length = 0;
  const std::unique_ptr<uint8_t[]> bytes = readWhole(file, &length);
  return bytes && win::imageProductVersion(bytes.get(), length, parts);
}

bool FileExtractorImpl::readProductVersion(const char* path, uint16_t parts[4]) {
  win::FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
  return file.valid() && readProductVersion(file.get(), parts);
}

ExtractResult FileExtractorImpl::inflateEntry(const CatalogueEntry& entry, const Consumer& consume,
                                             uint32_t windowsPerBlock) {
  // The output buffer holds windowsPerBlock windows of chunkSize bytes. Every
  // inflate call is given one window, whatever the buffer's size, so the calls
  // (and the reports after each) are those of a chunk-sized buffer; the
  // consumer gets the buffer when it is full and at the stream's end.
  const size_t blockSize = static_cast<size_t>(chunkSize_) * windowsPerBlock;
  if (windowsPerBlock == 0 || blockSize / windowsPerBlock != chunkSize_ || blockSize > 0xFFFFFFFFu) {
    return fail(ExtractResult::InflateInitFailed, ERROR_NOT_ENOUGH_MEMORY);
  }
  if (outputSize_ < blockSize) {
    output_.reset();
    outputSize_ = 0;
    output_.reset(new (std::nothrow) uint8_t[blockSize]);
    if (!output_) return fail(ExtractResult::InflateInitFailed, ERROR_NOT_ENOUGH_MEMORY);
    outputSize_ = blockSize;
  }
  if (!inflater_) {
    std::unique_ptr<Inflater, InflaterEnd> made(new (std::nothrow) Inflater());
    if (!made) return fail(ExtractResult::InflateInitFailed, ERROR_NOT_ENOUGH_MEMORY);
    // A failed init leaves no state: ending it then does nothing.
    if (inflateInit_(&made->stream, kZlibVersionText, static_cast<int>(sizeof(z_stream))) != Z_OK) {
      return fail(ExtractResult::InflateInitFailed, 0);
    }
    inflater_ = std::move(made);
  } else if (inflateReset(&inflater_->stream) != Z_OK) {
    return fail(ExtractResult::InflateInitFailed, 0);
  }
  z_stream& z = inflater_->stream;
  uint8_t* const block = output_.get();
  size_t filled = 0;  // bytes of whole windows in the block, not yet consumed
  z.next_in = Z_NULL;
  z.avail_in = 0;
  z.next_out = block;
  z.avail_out = chunkSize_;

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

    // Read in place: inflate only reads its input, and the resource stays
    // mapped, unchanged, as long as the module is loaded.
    z.next_in = const_cast<Bytef*>(chunk + piece.position);
    z.avail_in = piece.length;
    // A call that fills the output window may leave output pending inside the
    // inflater even when this piece's input is used up: call again then.
    bool outputFull = false;
    while (z.avail_in > 0 || outputFull) {
      StepTimer inflating(steps, ExtractionSteps::Inflate);
      int rc = inflate(&z, Z_NO_FLUSH);
      inflating.stop();
      if (rc == Z_BUF_ERROR && z.avail_in == 0) break;  // nothing was pending: needs the next piece
      if (rc != Z_OK && rc != Z_STREAM_END) {
        result = fail(ExtractResult::InflateFailed, 0);
        return false;
      }
      outputFull = z.avail_out == 0;
      if (outputFull || rc == Z_STREAM_END) {
        filled += chunkSize_ - z.avail_out;
        if (rc == Z_STREAM_END || filled == blockSize) {
          StepTimer writing(steps, ExtractionSteps::Write);
          if (!consume(block, static_cast<uint32_t>(filled))) {
            result = fail(ExtractResult::WriteFailed, GetLastError());
            return false;
          }
          filled = 0;
        }
        z.next_out = block + filled;
        z.avail_out = chunkSize_;
      }
      if (status_ != nullptr) {
        StepTimer reporting(steps, ExtractionSteps::Status);
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

PSECURITY_DESCRIPTOR FileExtractorImpl::folderSecurityFor(const std::string& folder) const {
  const std::string& secured = creationSecurity.folder;
  const bool inSecured = !secured.empty() && (folder + "\\").compare(0, secured.size(), secured) == 0;
  SECURITY_ATTRIBUTES* attributes = inSecured ? creationSecurity.folderSecurity : nullptr;
  return attributes != nullptr ? attributes->lpSecurityDescriptor : nullptr;
}

PSECURITY_DESCRIPTOR FileExtractorImpl::fileSecurityFor(const std::string& target) const {
  if (creationSecurity.fileSecurity == nullptr) return nullptr;
  for (const std::string& secured : creationSecurity.files) {
    if (secured == target) return creationSecurity.fileSecurity->lpSecurityDescriptor;
  }
  return nullptr;
}

DWORD FileExtractorImpl::openDirect(const win::HeldFolder& folder, const std::wstring& name,
                                    PSECURITY_DESCRIPTOR security, win::FileHandle* out, bool* viaTemporary) {
  *viaTemporary = false;
  DWORD error =
      folder.openFile(name, GENERIC_WRITE | DELETE, FILE_SHARE_READ, 2 /* FILE_CREATE */, out, nullptr, security);
  if (error != ERROR_FILE_EXISTS) return error;
  // An existing name is never written through: it may be a link (Windows
  // shows it; Wine shows a Unix link to a file nowhere) or one of two names
  // of a file elsewhere. The new file is made beside it and renamed over the
  // name, which replaces the name alone, whatever it held.
  win::NameInfo info;
  error = folder.inspect(name, &info);
  if (error != ERROR_SUCCESS) return error;
  if (info.exists && (info.attributes & FILE_ATTRIBUTE_DIRECTORY) && !info.isLink()) return ERROR_ACCESS_DENIED;
  *viaTemporary = true;
  return ERROR_SUCCESS;
}

ExtractResult FileExtractorImpl::inflateFile(const char* name, const Consumer& consume) {
  lastError_ = 0;
  const char* nameText = orEmpty(name);
  if (*nameText == '\0') return ExtractResult::NotInCatalogue;
  auto found = index_.find(normalizePath(nameText));
  if (found == index_.end()) return ExtractResult::NotInCatalogue;
  return inflateEntry(found->second, consume, 1);
}

ExtractResult FileExtractorImpl::extractFile(const char* name, const char* targetPath, bool replaceIfNewer) {
  lastError_ = 0;
  const char* nameText = orEmpty(name);
  const std::string finalPath = orEmpty(targetPath);
  if (status_ != nullptr) {
    StepTimer reporting(steps, ExtractionSteps::Status);
    status_->fileStarted(nameText, finalPath.c_str());
  }

  if (*nameText == '\0') return ExtractResult::NotInCatalogue;
  auto found = index_.find(normalizePath(nameText));
  if (found == index_.end()) return ExtractResult::NotInCatalogue;
  const CatalogueEntry entry = found->second;

  const std::string folderPath = parentPath(finalPath, ansiLeadBytes());
  DWORD error = ERROR_SUCCESS;
  StepTimer holding(steps, ExtractionSteps::Folder);
  const win::HeldFolder* folder = holdFolder(folderPath, &error);
  holding.stop();
  if (folder == nullptr) return fail(ExtractResult::FolderNotCreated, error);
  if (finalPath.size() >= MAX_PATH) return fail(ExtractResult::OutputNotCreated, ERROR_FILENAME_EXCED_RANGE);
  const std::wstring fileName = win::widen(finalPath.substr(folderPath.size() + 1));
  if (fileName.empty()) return fail(ExtractResult::OutputNotCreated, ERROR_INVALID_NAME);

  // A file made with a list of its own keeps it through the rename that
  // replaces an existing name (the list given at creation is the file's).
  PSECURITY_DESCRIPTOR security = fileSecurityFor(finalPath);
  win::FileHandle output;
  bool viaTemporary = replaceIfNewer;
  StepTimer creating(steps, ExtractionSteps::Create);
  if (!replaceIfNewer) {
    error = openDirect(*folder, fileName, security, &output, &viaTemporary);
    if (error != ERROR_SUCCESS) return fail(ExtractResult::OutputNotCreated, error);
  }
  if (viaTemporary) {
    std::wstring temporaryName;
    error = folder->createTemporary(L"tmp", &output, &temporaryName, security);
    if (error != ERROR_SUCCESS) return fail(ExtractResult::OutputNotCreated, error);
  }
  creating.stop();
  win::DeleteUnlessKept removeOnFailure(output);
  ExtractResult inflated = inflateEntry(
      entry, [&output](const uint8_t* data, uint32_t size) { return writeAll(output.get(), data, size); },
      kWindowsPerWrite);
  if (inflated != ExtractResult::Ok) return inflated;

  bool replace = viaTemporary;
  if (replaceIfNewer) {
    // The existing copy as it is now, held and shared for reading only while
    // its version is read; a link or a second name has no version worth keeping.
    uint16_t existing[4];
    uint16_t fresh[4];
    bool haveExisting = false;
    win::NameInfo info;
    if (folder->inspect(fileName, &info) == ERROR_SUCCESS && info.exists && !info.isLink() && info.links == 1) {
      win::FileHandle old;
      DWORD attributes = 0;
      if (folder->openFile(fileName, GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, 1 /* FILE_OPEN */, &old) ==
              ERROR_SUCCESS &&
          win::handleAttributes(old.get(), &attributes) == ERROR_SUCCESS &&
          !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && win::linkCount(old.get()) == 1) {
        haveExisting = readProductVersion(old.get(), existing);
      }
    }
    replace = !haveExisting || !readProductVersion(output.get(), fresh) || packVersion(fresh) > packVersion(existing);
    if (beforeReplace != nullptr) beforeReplace(beforeReplaceContext);
  }
  StepTimer closing(steps, ExtractionSteps::Close);
  if (replace) {
    // One step, and a name in the held folder: what the name held (a file, a
    // link, one name of a hard link) is replaced, nothing it leads to; a
    // replace that fails leaves the previous copy where it was.
    error = folder->moveInto(output.get(), fileName, true);
    if (error != ERROR_SUCCESS) return fail(ExtractResult::OutputNotCreated, error);  // the temporary file goes
  } else if (viaTemporary) {
    win::deleteOnClose(output.get());
  }
  removeOnFailure.keep();
  if (!output.close()) return fail(ExtractResult::WriteFailed, GetLastError());
  closing.stop();

  if (status_ != nullptr) {
    StepTimer reporting(steps, ExtractionSteps::Status);
    status_->fileFinished();
  }
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
    record->addEvent(record::kTagDeleteFile, target.c_str(), desc);
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
