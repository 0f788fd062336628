#include "tests/packer/pe_writer.h"

#include <cstring>

namespace tltest {

namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kTextRva = 0x1000, kTextOffset = 0x200;
constexpr uint32_t kRsrcRva = 0x2000, kRsrcOffset = 0x400;

uint32_t alignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

void put16(std::vector<uint8_t>* b, size_t at, uint16_t v) {
  (*b)[at] = static_cast<uint8_t>(v);
  (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void section(std::vector<uint8_t>* b, size_t at, const char* name, uint32_t virtualSize, uint32_t rva, uint32_t rawSize,
             uint32_t rawOffset, uint32_t characteristics) {
  std::memcpy(b->data() + at, name, std::strlen(name));
  put32(b, at + 8, virtualSize);
  put32(b, at + 12, rva);
  put32(b, at + 16, rawSize);
  put32(b, at + 20, rawOffset);
  put32(b, at + 36, characteristics);
}

}  // namespace

PeImage writePe(const std::map<uint16_t, std::vector<uint8_t>>& resources, bool pe32plus) {
  // The resource section: root (one type) -> RT_RCDATA (one entry per id) ->
  // one language directory per id (neutral) -> data entries -> data.
  const uint32_t count = static_cast<uint32_t>(resources.size());
  const uint32_t typeDir = 16 + 8;
  const uint32_t languageDirs = typeDir + 16 + 8 * count;
  const uint32_t dataEntries = languageDirs + 24 * count;
  uint32_t dataStart = dataEntries + 16 * count;
  std::vector<uint8_t> rsrc(dataStart);
  put16(&rsrc, 14, 1);
  put32(&rsrc, 16, 10);  // RT_RCDATA
  put32(&rsrc, 20, 0x80000000u | typeDir);
  put16(&rsrc, typeDir + 14, static_cast<uint16_t>(count));
  PeImage image;
  std::map<uint16_t, uint32_t> dataRel;
  uint32_t i = 0;
  for (const auto& [id, bytes] : resources) {
    uint32_t entry = typeDir + 16 + 8 * i, language = languageDirs + 24 * i, data = dataEntries + 16 * i;
    put32(&rsrc, entry, id);
    put32(&rsrc, entry + 4, 0x80000000u | language);
    put16(&rsrc, language + 14, 1);
    put32(&rsrc, language + 16, 0);  // neutral
    put32(&rsrc, language + 20, data);
    uint32_t at = alignUp(static_cast<uint32_t>(rsrc.size()), 8);
    rsrc.resize(at);
    rsrc.insert(rsrc.end(), bytes.begin(), bytes.end());
    put32(&rsrc, data, kRsrcRva + at);
    put32(&rsrc, data + 4, static_cast<uint32_t>(bytes.size()));
    dataRel[id] = at;
    image.languageEntry[id] = kRsrcOffset + language + 16;
    image.dataEntry[id] = kRsrcOffset + data;
    ++i;
  }
  const uint32_t rsrcSize = static_cast<uint32_t>(rsrc.size());
  const uint32_t rsrcRaw = alignUp(rsrcSize, kFileAlignment);

  std::vector<uint8_t>& f = image.file;
  f.assign(kRsrcOffset + rsrcRaw, 0);
  f[0] = 'M';
  f[1] = 'Z';
  put32(&f, 0x3C, 0x40);
  std::memcpy(f.data() + 0x40, "PE\0\0", 4);
  const size_t coff = 0x44, optional = coff + 20;
  const uint16_t optionalSize = pe32plus ? 240 : 224;
  put16(&f, coff, pe32plus ? 0x8664 : 0x14C);
  put16(&f, coff + 2, 2);
  put16(&f, coff + 16, optionalSize);
  put16(&f, coff + 18, pe32plus ? 0x22 : 0x102);
  put16(&f, optional, pe32plus ? 0x20B : 0x10B);
  put32(&f, optional + 16, kTextRva);  // entry point
  put32(&f, optional + 32, kSectionAlignment);
  put32(&f, optional + 36, kFileAlignment);
  put32(&f, optional + 56, kRsrcRva + alignUp(rsrcSize, kSectionAlignment));  // image size
  put32(&f, optional + 60, kTextOffset);                                      // header size
  put16(&f, optional + 68, 2);                                                // GUI
  const size_t directories = optional + (pe32plus ? 112 : 96);
  put32(&f, directories - 4, 16);
  put32(&f, directories + 16, kRsrcRva);
  put32(&f, directories + 20, rsrcSize);
  image.optionalHeader = optional;
  image.resourceDirectory = directories + 16;
  const size_t table = optional + optionalSize;
  section(&f, table, ".text", 0x10, kTextRva, kFileAlignment, kTextOffset, 0x60000020u);
  section(&f, table + 40, ".rsrc", rsrcSize, kRsrcRva, rsrcRaw, kRsrcOffset, 0x40000040u);
  f[kTextOffset] = 0xC3;  // ret
  std::memcpy(f.data() + kRsrcOffset, rsrc.data(), rsrc.size());
  for (const auto& [id, rel] : dataRel) image.dataOffset[id] = kRsrcOffset + rel;
  return image;
}

}  // namespace tltest
