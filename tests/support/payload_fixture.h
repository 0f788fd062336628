// Payload fixture DLLs made at run time: a resource-only DLL whose RT_RCDATA
// resources (language neutral) are a catalogue (65535) and chunks 1..N, built
// from (catalogue name -> bytes) with UpdateResourceA and loaded with
// LOAD_LIBRARY_AS_DATAFILE, so the extractor reads them through the same
// resource calls as in setup.exe. Options produce malformed payloads on purpose.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tltest {

struct FixtureFile {
  std::string name;        // stored as given: use catalogue form ("\tl\global\readme.txt")
  std::string bytes;       // the file's content
  uint32_t gapBefore = 0;  // filler bytes in the payload stream before this file's stream
};

// One catalogue entry as written.
struct FixtureEntry {
  uint16_t chunkId = 0;
  uint16_t reserved = 0;
  uint32_t offset = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  std::string name;
};

struct PayloadOptions {
  uint32_t chunkSize = 65536;
  int level = 9;           // zlib level of every stream
  uint16_t reserved = 0;   // the reserved field of every computed entry
  // Changes the computed entries (positions, sizes, names, order, duplicates)
  // before the catalogue is encoded.
  std::function<void(std::vector<FixtureEntry>&)> editEntries;
  // Resource 65535 exactly as given, instead of the encoded catalogue.
  bool useCustomCatalogue = false;
  std::string customCatalogue;
  // Cut the catalogue resource to this many bytes (at least 1: UpdateResource
  // cannot store an empty resource).
  size_t catalogueLength = SIZE_MAX;
  bool omitCatalogue = false;
  std::set<uint32_t> missingChunks;             // chunk ids left out
  std::map<uint32_t, uint32_t> chunkLengths;    // chunk id -> cut to this length (>= 1)
  std::map<size_t, uint8_t> xorStreamBytes;     // payload stream position -> mask
};

// One complete zlib stream of bytes at the given level.
std::string zlibCompress(const std::string& bytes, int level);
// The catalogue layout: chunkSize, entry count, then each entry back to back.
std::string encodeCatalogue(uint32_t chunkSize, const std::vector<FixtureEntry>& entries);

// Lays files out one stream after another (in the order given, each after its
// gap), cuts the payload stream into chunks of chunkSize, writes the DLL and
// loads it. The destructor frees the module and deletes the DLL.
class PayloadFixture {
 public:
  PayloadFixture() = default;
  ~PayloadFixture();
  PayloadFixture(const PayloadFixture&) = delete;
  PayloadFixture& operator=(const PayloadFixture&) = delete;

  // False (with error() saying why) when the DLL cannot be written or loaded.
  bool build(const std::string& dllPath, const std::vector<FixtureFile>& files,
             const PayloadOptions& options = PayloadOptions());

  HMODULE module() const { return module_; }
  const std::string& error() const { return error_; }
  const std::vector<FixtureEntry>& entries() const { return entries_; }  // as written
  const FixtureEntry* find(const std::string& name) const;
  const std::string& stream() const { return stream_; }  // the whole payload stream
  uint32_t chunkCount() const { return chunkCount_; }

 private:
  HMODULE module_ = nullptr;
  std::string path_;
  std::string error_;
  std::vector<FixtureEntry> entries_;
  std::string stream_;
  uint32_t chunkCount_ = 0;
};

}  // namespace tltest
