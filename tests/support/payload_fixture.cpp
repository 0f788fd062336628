#include "tests/support/payload_fixture.h"

#include <zlib.h>

#include "tests/support/test_support.h"

namespace tltest {

namespace {

void putU16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

void putU32(std::string* out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

// Ends an update without writing it when build() gives up half way.
struct ResourceUpdate {
  HANDLE handle;
  explicit ResourceUpdate(HANDLE h) : handle(h) {}
  ResourceUpdate(const ResourceUpdate&) = delete;
  ResourceUpdate& operator=(const ResourceUpdate&) = delete;
  ~ResourceUpdate() {
    if (handle != nullptr) EndUpdateResourceA(handle, TRUE);
  }
  bool put(uint16_t id, const std::string& bytes) {
    return UpdateResourceA(handle, RT_RCDATA, MAKEINTRESOURCEA(id), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                           const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size())) != FALSE;
  }
  bool commit() {
    HANDLE h = handle;
    handle = nullptr;
    return EndUpdateResourceA(h, FALSE) != FALSE;
  }
};

}  // namespace

std::string zlibCompress(const std::string& bytes, int level) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                static_cast<uLong>(bytes.size()), level) != Z_OK) {
    return std::string();
  }
  out.resize(size);
  return out;
}

std::string encodeCatalogue(uint32_t chunkSize, const std::vector<FixtureEntry>& entries) {
  std::string out;
  putU32(&out, chunkSize);
  putU32(&out, static_cast<uint32_t>(entries.size()));
  for (const FixtureEntry& e : entries) {
    putU16(&out, e.chunkId);
    putU16(&out, e.reserved);
    putU32(&out, e.offset);
    putU32(&out, e.compressedSize);
    putU32(&out, e.uncompressedSize);
    putU32(&out, static_cast<uint32_t>(e.name.size()));
    out += e.name;
  }
  return out;
}

PayloadFixture::~PayloadFixture() {
  if (module_ != nullptr) FreeLibrary(module_);
  if (!path_.empty()) DeleteFileA(path_.c_str());
}

const FixtureEntry* PayloadFixture::find(const std::string& name) const {
  for (const FixtureEntry& e : entries_) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

bool PayloadFixture::build(const std::string& dllPath, const std::vector<FixtureFile>& files,
                           const PayloadOptions& options) {
  if (options.chunkSize == 0) {
    error_ = "chunkSize 0 cannot lay out chunks";
    return false;
  }
  entries_.clear();
  stream_.clear();
  for (const FixtureFile& file : files) {
    stream_.append(file.gapBefore, '\x5A');
    const std::string compressed = zlibCompress(file.bytes, options.level);
    FixtureEntry entry;
    entry.chunkId = static_cast<uint16_t>(stream_.size() / options.chunkSize + 1);
    entry.reserved = options.reserved;
    entry.offset = static_cast<uint32_t>(stream_.size() % options.chunkSize);
    entry.compressedSize = static_cast<uint32_t>(compressed.size());
    entry.uncompressedSize = static_cast<uint32_t>(file.bytes.size());
    entry.name = file.name;
    entries_.push_back(entry);
    stream_ += compressed;
  }
  for (const auto& flip : options.xorStreamBytes) {
    if (flip.first < stream_.size()) stream_[flip.first] = static_cast<char>(stream_[flip.first] ^ flip.second);
  }
  if (options.editEntries) options.editEntries(entries_);

  std::string catalogue =
      options.useCustomCatalogue ? options.customCatalogue : encodeCatalogue(options.chunkSize, entries_);
  if (options.catalogueLength < catalogue.size()) catalogue.resize(options.catalogueLength);

  path_ = dllPath;
  if (!CopyFileA(fixturePath("tl_empty_resources.dll").c_str(), dllPath.c_str(), FALSE)) {
    error_ = "cannot copy the empty resource DLL to " + dllPath + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  ResourceUpdate update(BeginUpdateResourceA(dllPath.c_str(), TRUE));
  if (update.handle == nullptr) {
    error_ = "BeginUpdateResourceA failed (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (!options.omitCatalogue && !update.put(65535, catalogue)) {
    error_ = "UpdateResourceA failed for the catalogue";
    return false;
  }
  chunkCount_ = static_cast<uint32_t>((stream_.size() + options.chunkSize - 1) / options.chunkSize);
  for (uint32_t id = 1; id <= chunkCount_; ++id) {
    if (options.missingChunks.count(id)) continue;
    std::string chunk = stream_.substr(static_cast<size_t>(id - 1) * options.chunkSize, options.chunkSize);
    auto cut = options.chunkLengths.find(id);
    if (cut != options.chunkLengths.end() && cut->second < chunk.size()) chunk.resize(cut->second);
    if (!update.put(static_cast<uint16_t>(id), chunk)) {
      error_ = "UpdateResourceA failed for chunk " + std::to_string(id);
      return false;
    }
  }
  if (!update.commit()) {
    error_ = "EndUpdateResourceA failed (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  module_ = LoadLibraryExA(dllPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module_ == nullptr) {
    error_ = "LoadLibraryExA failed (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  return true;
}

}  // namespace tltest
