#include "platform/image_version.h"

#include <cstring>

namespace win {

namespace {

const uint32_t kRtVersion = 16;
const uint32_t kHighBit = 0x80000000u;
const uint32_t kFixedInfoSignature = 0xFEEF04BDu;
const size_t kFixedInfoSize = 52;

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool has(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
  uint16_t u16(size_t at) const { return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8); }
  uint32_t u32(size_t at) const {
    return static_cast<uint32_t>(data_[at]) | static_cast<uint32_t>(data_[at + 1]) << 8 |
           static_cast<uint32_t>(data_[at + 2]) << 16 | static_cast<uint32_t>(data_[at + 3]) << 24;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

// The file offset of [rva, rva + length) when it lies in one section's file data.
bool mapRva(const Bytes& file, size_t table, size_t sections, uint32_t rva, uint32_t length, uint64_t* offset) {
  for (size_t i = 0; i < sections; ++i) {
    size_t h = table + i * 40;
    uint32_t virtualSize = file.u32(h + 8), address = file.u32(h + 12), rawSize = file.u32(h + 16),
             rawOffset = file.u32(h + 20);
    uint32_t extent = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
    if (rva < address) continue;
    uint64_t within = uint64_t{rva} - address;
    if (within >= extent || within + length > extent) continue;
    *offset = uint64_t{rawOffset} + within;
    return file.has(*offset, length);
  }
  return false;
}

// The first entry of the resource directory at rel (inside the window
// [base, base + window)): its target. False when it has none or lies outside.
bool firstEntry(const Bytes& file, uint64_t base, uint64_t window, uint32_t rel, uint32_t* target) {
  if (rel > window || window - rel < 16 + 8) return false;
  const size_t at = static_cast<size_t>(base + rel);
  if (file.u16(at + 12) + file.u16(at + 14) == 0) return false;
  *target = file.u32(at + 16 + 4);
  return true;
}

}  // namespace

bool imageProductVersion(const uint8_t* data, size_t size, uint16_t parts[4]) {
  Bytes file(data, data == nullptr ? 0 : size);
  if (!file.has(0, 64) || data[0] != 'M' || data[1] != 'Z') return false;
  const uint32_t pe = file.u32(0x3C);
  if (!file.has(pe, 24) || std::memcmp(data + pe, "PE\0\0", 4) != 0) return false;
  const size_t coff = size_t{pe} + 4;
  const size_t sections = file.u16(coff + 2);
  const size_t optionalSize = file.u16(coff + 16);
  const size_t optional = coff + 20;
  if (!file.has(optional, optionalSize) || optionalSize < 2) return false;
  size_t countAt = 0, directoriesAt = 0;
  const uint16_t magic = file.u16(optional);
  if (magic == 0x10B) {
    countAt = 92;
    directoriesAt = 96;
  } else if (magic == 0x20B) {
    countAt = 108;
    directoriesAt = 112;
  } else {
    return false;
  }
  const size_t resources = directoriesAt + 2 * 8;
  if (optionalSize < resources + 8 || file.u32(optional + countAt) < 3) return false;
  const uint32_t resourceRva = file.u32(optional + resources);
  const size_t table = optional + optionalSize;
  if (!file.has(table, uint64_t{sections} * 40)) return false;

  // The resource tree's window: the rest of the section it starts in.
  uint64_t base = 0, window = 0;
  bool found = false;
  for (size_t i = 0; i < sections && !found; ++i) {
    size_t h = table + i * 40;
    uint32_t virtualSize = file.u32(h + 8), address = file.u32(h + 12), rawSize = file.u32(h + 16),
             rawOffset = file.u32(h + 20);
    uint32_t extent = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
    if (resourceRva < address || uint64_t{resourceRva} - address >= extent) continue;
    uint64_t within = uint64_t{resourceRva} - address;
    base = uint64_t{rawOffset} + within;
    if (base >= size) return false;
    window = extent - within;
    if (window > size - base) window = size - base;
    found = true;
  }
  if (!found || !file.has(base, 16)) return false;

  // Root: the RT_VERSION type among the numbered entries.
  const size_t root = static_cast<size_t>(base);
  const size_t named = file.u16(root + 12);
  const size_t count = named + file.u16(root + 14);
  uint32_t versions = 0;
  bool haveType = false;
  for (size_t i = named; i < count && !haveType; ++i) {
    uint64_t entry = 16 + uint64_t{i} * 8;
    if (entry + 8 > window) return false;
    if (file.u32(root + static_cast<size_t>(entry)) != kRtVersion) continue;
    versions = file.u32(root + static_cast<size_t>(entry) + 4);
    haveType = true;
  }
  // The first resource of the type, then its first language, as the loader's
  // search for the version block finds them.
  uint32_t languages = 0, dataEntry = 0;
  if (!haveType || !(versions & kHighBit) || !firstEntry(file, base, window, versions & ~kHighBit, &languages) ||
      !(languages & kHighBit) || !firstEntry(file, base, window, languages & ~kHighBit, &dataEntry) ||
      (dataEntry & kHighBit) || dataEntry > window || window - dataEntry < 16) {
    return false;
  }
  const uint32_t rva = file.u32(static_cast<size_t>(base + dataEntry));
  const uint32_t length = file.u32(static_cast<size_t>(base + dataEntry) + 4);
  uint64_t offset = 0;
  if (!mapRva(file, table, sections, rva, length, &offset)) return false;

  // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding
  // to 32 bits, then the fixed information as its value.
  static const char kKey[] = "VS_VERSION_INFO";
  const size_t block = static_cast<size_t>(offset);
  const size_t keyAt = block + 6;
  const size_t keyBytes = sizeof(kKey) * 2;  // with its closing zero
  if (length < 6 + keyBytes) return false;
  for (size_t i = 0; i < sizeof(kKey); ++i) {
    if (file.u16(keyAt + 2 * i) != static_cast<uint8_t>(kKey[i])) return false;
  }
  const size_t valueAt = block + ((6 + keyBytes + 3) & ~size_t{3});
  if (file.u16(block + 2) < kFixedInfoSize || valueAt + kFixedInfoSize > block + length) return false;
  if (file.u32(valueAt) != kFixedInfoSignature) return false;
  const uint32_t ms = file.u32(valueAt + 16), ls = file.u32(valueAt + 20);
  parts[0] = static_cast<uint16_t>(ms >> 16);
  parts[1] = static_cast<uint16_t>(ms & 0xFFFF);
  parts[2] = static_cast<uint16_t>(ls >> 16);
  parts[3] = static_cast<uint16_t>(ls & 0xFFFF);
  return true;
}

}  // namespace win
