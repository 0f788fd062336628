#include "payload/catalogue.h"

namespace {

void putU16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void putU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> writeCatalogue(uint32_t chunkSize, const CatalogueIndex& index) {
  size_t size = kCatalogueHeaderSize;
  for (const auto& [name, entry] : index) size += kCatalogueEntryFixedSize + name.size();
  std::vector<uint8_t> out;
  out.reserve(size);
  putU32(&out, chunkSize);
  putU32(&out, static_cast<uint32_t>(index.size()));
  for (const auto& [name, entry] : index) {
    putU16(&out, entry.chunkId);
    putU16(&out, 0);  // reserved
    putU32(&out, entry.offset);
    putU32(&out, entry.compressedSize);
    putU32(&out, entry.uncompressedSize);
    putU32(&out, static_cast<uint32_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
  }
  return out;
}
