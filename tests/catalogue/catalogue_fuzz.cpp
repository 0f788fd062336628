// Fuzzes the catalogue reader with arbitrary bytes, then walks every parsed
// entry's pieces, checking the walk's own promises on whatever it accepted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "payload/catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact heap copy: any read past the end is a reported overflow.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(exact.get(), data, size);
  uint32_t chunkSize = 0;
  CatalogueIndex index;
  parseCatalogue(exact.get(), size, &chunkSize, &index);
  for (const auto& item : index) {
    const std::string& name = item.first;
    const CatalogueEntry& entry = item.second;
    if (name.find('\0') != std::string::npos) std::abort();  // names end at their first zero byte
    uint64_t total = 0;
    uint32_t expectedChunk = entry.chunkId;
    bool first = true;
    bool ok = forEachPiece(entry, chunkSize, [&](const StreamPiece& piece) {
      // Consecutive ids, the first at the entry's offset, the rest from byte 0,
      // never a piece past its chunk's end, never the catalogue's id.
      if (piece.chunkId != expectedChunk || piece.chunkId >= kCatalogueResourceId) std::abort();
      if (piece.position != (first ? entry.offset : 0)) std::abort();
      if (uint64_t{piece.position} + piece.length > chunkSize) std::abort();
      first = false;
      ++expectedChunk;
      total += piece.length;
      return true;
    });
    if (ok && total != entry.compressedSize) std::abort();
  }
  return 0;
}
