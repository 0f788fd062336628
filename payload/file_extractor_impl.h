// The extractor's concrete class: catalogue index, chunk walk, inflate to disk.
//
// Choices where the payload can be malformed (a payload built by tlpack never is):
//  - init refuses (false, index unchanged) a catalogue whose bytes end before
//    its entries do, and a chunkSize of 0. The catalogue is parsed inside the
//    resource's real length only.
//  - A piece of a stream that is not inside the payload's chunks (offset above
//    chunkSize, a chunk shorter than the piece needs, a missing chunk) gives
//    ResourceNotFound (4): "the bytes are not in the payload's chunks". Nothing
//    is read outside a resource.
//  - A stream that ends before its compressedSize is used, or has not ended when
//    it is used up (compressedSize 0 included), gives InflateFailed (8).
//  - After any failure past opening the output, the partly written output (or
//    the temporary file) is deleted; extractFolder records nothing for it.
//  - The guarded replace moves the temporary file over the target in one step
//    (MoveFileExA with MOVEFILE_REPLACE_EXISTING), so a failed replace leaves the
//    previous copy in place and gives OutputNotCreated (3).
//  - Empty or null texts: an empty name gives NotInCatalogue; an empty selector
//    (or one that normalises to nothing, like "/") NothingSelected; an empty
//    target path or folder, or a target path without a folder, FolderNotCreated;
//    extractFolder without an uninstall record gives OutputNotCreated before
//    anything is written. A folder too long for a temporary name
//    (MAX_PATH - 14) gives FolderNotCreated, a target path of MAX_PATH or more
//    OutputNotCreated.
//  - Working buffers that cannot be allocated (a huge chunkSize) give
//    InflateInitFailed.
//  - Every target folder is opened once, checked through its handle and held
//    until close (platform/held_folder.h): nobody can rename or remove it
//    meanwhile, and every file in it is made, replaced and deleted by a name
//    relative to that handle. A link on the way that its maker could not
//    follow with their own rights gives FolderNotCreated with
//    ERROR_ACCESS_DENIED, and nothing is written there.
//  - An existing target is never written through, since it may be a link or
//    have a second name (a hard link): the new file is made under a temporary
//    name beside it and renamed over that name, which replaces the name
//    alone. A new target is written directly.
//  - The guarded replace reads the existing copy's version from the file it
//    opened (held, shared for reading only), not from its path again.
//  - The inflater and its output buffer are made on the first stream and
//    kept until close; the streams are read in place from the locked
//    resources. Each inflate call gets one chunk-sized window of the buffer
//    (so the calls, and the progress reports after each, are those of a
//    chunk-sized buffer); a file is written 16 windows at a time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "payload/catalogue.h"
#include "payload/file_extractor.h"
#include "platform/held_folder.h"

// Where an extractor's time goes, step by step: QueryPerformanceCounter ticks
// and the number of times each step ran. Filled only while an extractor's
// steps points at one (the benchmarks); the extractions are the same either way.
struct ExtractionSteps {
  enum Step {
    Folder,    // the target folder opened, checked and held (once per folder), or found held
    Create,    // the output file made in the held folder
    Inflate,   // zlib's inflate calls
    Write,     // the inflated bytes handed to the file
    Close,     // the output closed (and a temporary file renamed over its name)
    Status,    // the reports to the status sink (the progress messages)
    kCount
  };
  LONGLONG ticks[kCount] = {};
  uint64_t calls[kCount] = {};
};

class FileExtractorImpl final : public Porter::FileExtractor {
 public:
  FileExtractorImpl() = default;
  ~FileExtractorImpl();  // tests make their own; the process one is never destroyed
  FileExtractorImpl(const FileExtractorImpl&) = delete;
  FileExtractorImpl& operator=(const FileExtractorImpl&) = delete;

  bool init(HMODULE module, Porter::FileExtractorStatus* status) override;
  bool close() override;
  ExtractResult extractFile(const char* name, const char* targetPath, bool replaceIfNewer) override;
  ExtractResult extractFolder(const char* selector, const char* folder, Porter::UninstallerSetup* record,
                              const char* description, const std::vector<std::string>* exclusions) override;
  ExtractResult getFileSizes(const char* name, uint32_t* compressedSize, uint32_t* uncompressedSize) override;
  ExtractResult getFolderSizes(const char* selector, uint32_t* compressedTotal, uint32_t* uncompressedTotal) override;

  // Inflates catalogue file name and hands its bytes, in order, in blocks of at
  // most chunkSize, to consume; nothing is written and nothing reported to the
  // status sink. consume returning false stops with WriteFailed. Ok, or the
  // code of the failure.
  using Consumer = std::function<bool(const uint8_t* data, uint32_t size)>;
  ExtractResult inflateFile(const char* name, const Consumer& consume);

  // Finds, loads and locks RT_RCDATA resource (low 16 bits of id) of the module.
  // Ok with *data and *length set, or ResourceNotFound / ResourceNotLoaded /
  // ResourceNotLocked for the step that failed (outputs untouched).
  ExtractResult loadPayloadResource(uint32_t id, const uint8_t** data, uint32_t* length);

  // Inflates the stream of one entry without writing it anywhere: the same
  // reading and the same checks as an extraction (zlib's header and Adler-32,
  // the stream ending exactly at compressedSize), the same results. Reports to
  // the status sink as an extraction does; payload_check.h gives it none.
  ExtractResult checkStream(const CatalogueEntry& entry) {
    return inflateEntry(entry, [](const uint8_t*, uint32_t) { return true; }, 1);
  }

  // Makes sure folder exists, creating missing levels outermost first, each
  // relative to the one above (platform/held_folder.h, links decided there).
  // False when it cannot (folder empty or longer than MAX_PATH - 14
  // included). Folders it created stay even when it fails.
  static bool ensureDirectory(const std::string& folder);

  // The four product version parts of a file's VS_FIXEDFILEINFO, most
  // significant first. False (parts untouched) when the file has none.
  static bool readProductVersion(const char* path, uint16_t parts[4]);
  // The same for a file already open for reading, from its own bytes.
  static bool readProductVersion(HANDLE file, uint16_t parts[4]);

  // The Windows error captured where the last failing call started (0 when the
  // failure was not a platform call's).
  DWORD lastError() const { return lastError_; }

  uint32_t chunkSize() const { return chunkSize_; }
  const CatalogueIndex& index() const { return index_; }

  // Seam at the resource lookup so tests can watch which chunk ids are opened
  // (and in which order); production always uses FindResourceA.
  using FindResourceFn = HRSRC(WINAPI*)(HMODULE, LPCSTR, LPCSTR);
  FindResourceFn findResource = ::FindResourceA;

  // Seam at the moment between reading the versions of a guarded replace and
  // moving the new copy into place, where tests change the folder's links.
  void (*beforeReplace)(void* context) = nullptr;
  void* beforeReplaceContext = nullptr;

  // What folders and files get at creation (file_extractor.h).
  CreationSecurity creationSecurity;

  // Seam for the benchmarks: null (the default) measures nothing.
  ExtractionSteps* steps = nullptr;

 private:
  // The consumer gets blocks of at most windowsPerBlock * chunkSize bytes.
  ExtractResult inflateEntry(const CatalogueEntry& entry, const Consumer& consume, uint32_t windowsPerBlock);
  // The descriptor a folder or a file made for target gets, or null for the defaults.
  PSECURITY_DESCRIPTOR folderSecurityFor(const std::string& folder) const;
  PSECURITY_DESCRIPTOR fileSecurityFor(const std::string& target) const;
  // The folder opened (made where missing) and held until close; null with
  // *error set when it cannot be.
  const win::HeldFolder* holdFolder(const std::string& folder, DWORD* error);
  // Opens the output for a direct write: a new file. *viaTemporary when the
  // name exists already (it is then replaced by a rename).
  DWORD openDirect(const win::HeldFolder& folder, const std::wstring& name, PSECURITY_DESCRIPTOR security,
                   win::FileHandle* out, bool* viaTemporary);
  ExtractResult fail(ExtractResult code, DWORD error);

  HMODULE module_ = nullptr;
  uint32_t chunkSize_ = 0;
  CatalogueIndex index_;
  Porter::FileExtractorStatus* status_ = nullptr;
  DWORD lastError_ = 0;
  std::map<std::string, win::HeldFolder> held_;  // target folders, held from their first file to close
  // The inflater and its output buffer, made on the first stream and kept
  // until close (a stream then costs no allocation).
  struct Inflater;
  struct InflaterEnd {
    void operator()(Inflater* inflater) const;
  };
  std::unique_ptr<Inflater, InflaterEnd> inflater_;
  std::unique_ptr<uint8_t[]> output_;
  size_t outputSize_ = 0;
};
