// Builds catalogue bytes for tests: the layout the installer reads, written
// field by field so a test can bend any of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace catalogue_bytes {

struct Entry {
  uint16_t chunkId = 1;
  uint16_t reserved = 0;
  uint32_t offset = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  std::string name;
  // When set, written as nameLength instead of name.size().
  bool overrideLength = false;
  uint32_t nameLength = 0;
};

inline void putU16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

inline void putU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline std::vector<uint8_t> build(uint32_t chunkSize, const std::vector<Entry>& entries,
                                  int64_t entryCount = -1) {
  std::vector<uint8_t> out;
  putU32(&out, chunkSize);
  putU32(&out, entryCount < 0 ? static_cast<uint32_t>(entries.size()) : static_cast<uint32_t>(entryCount));
  for (const Entry& e : entries) {
    putU16(&out, e.chunkId);
    putU16(&out, e.reserved);
    putU32(&out, e.offset);
    putU32(&out, e.compressedSize);
    putU32(&out, e.uncompressedSize);
    putU32(&out, e.overrideLength ? e.nameLength : static_cast<uint32_t>(e.name.size()));
    out.insert(out.end(), e.name.begin(), e.name.end());
  }
  return out;
}

}  // namespace catalogue_bytes
