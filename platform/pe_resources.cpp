#include "platform/pe_resources.h"

#include <algorithm>
#include <cstring>

namespace pe {

namespace {

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;

}  // namespace

HeaderFault PeImage::open() {
  const Bytes& file = file_;
  if (!file.has(0, kDosHeaderSize) || file.at(0)[0] != 'M' || file.at(0)[1] != 'Z') return HeaderFault::NoMz;
  const uint32_t pe = file.u32(0x3C);
  if (!file.has(pe, 24)) return HeaderFault::PeHeaderCut;
  if (std::memcmp(file.at(pe), "PE\0\0", 4) != 0) return HeaderFault::NoPeSignature;
  coff_ = size_t{pe} + 4;
  sectionCount_ = file.u16(coff_ + 2);
  const size_t optionalSize = file.u16(coff_ + 16);
  const size_t optional = coff_ + 20;
  if (!file.has(optional, std::max<size_t>(optionalSize, 2))) return HeaderFault::OptionalHeaderCut;
  size_t countAt = 0, directoriesAt = 0;
  magic_ = file.u16(optional);
  if (magic_ == 0x10B) {  // PE32
    countAt = 92;
    directoriesAt = 96;
  } else if (magic_ == 0x20B) {  // PE32+
    countAt = 108;
    directoriesAt = 112;
  } else {
    return HeaderFault::UnknownMagic;
  }
  const size_t resources = directoriesAt + 2 * 8;  // data directory 2: resources
  if (optionalSize < resources + 8 || file.u32(optional + countAt) < 3) return HeaderFault::NoResourceDirectory;
  resourceRva_ = file.u32(optional + resources);
  resourceSize_ = file.u32(optional + resources + 4);
  table_ = optional + optionalSize;
  if (!file.has(table_, uint64_t{sectionCount_} * kSectionHeaderSize)) return HeaderFault::SectionTableCut;
  return HeaderFault::None;
}

Section PeImage::section(size_t i) const {
  Section s;
  s.header = table_ + i * kSectionHeaderSize;
  const uint32_t virtualSize = file_.u32(s.header + 8);
  s.address = file_.u32(s.header + 12);
  s.rawSize = file_.u32(s.header + 16);
  s.rawOffset = file_.u32(s.header + 20);
  // Beyond its virtual size a section's file bytes are not loaded.
  s.extent = virtualSize != 0 ? std::min(virtualSize, s.rawSize) : s.rawSize;
  return s;
}

bool PeImage::sectionOf(uint32_t rva, Section* out) const {
  for (size_t i = 0; i < sectionCount_; ++i) {
    Section s = section(i);
    if (rva >= s.address && uint64_t{rva} - s.address < s.extent) {
      *out = s;
      return true;
    }
  }
  return false;
}

Mapping PeImage::map(uint32_t rva, uint32_t length, uint64_t* offset) const {
  for (size_t i = 0; i < sectionCount_; ++i) {
    const Section s = section(i);
    if (rva < s.address) continue;
    const uint64_t within = uint64_t{rva} - s.address;
    if (within >= s.extent || within + length > s.extent) continue;
    *offset = uint64_t{s.rawOffset} + within;
    return file_.has(*offset, length) ? Mapping::Inside : Mapping::PastEnd;
  }
  return Mapping::Outside;
}

TreeFault ResourceTree::open() {
  // The tree's window: the rest of the section it starts in, as far as the
  // file goes.
  const uint32_t rva = image_.resourceRva();
  if (!image_.sectionOf(rva, &home_)) return TreeFault::OutsideSections;
  const uint64_t within = uint64_t{rva} - home_.address;
  const uint64_t base = uint64_t{home_.rawOffset} + within;
  if (base >= file_.size()) return TreeFault::PastEnd;
  base_ = static_cast<size_t>(base);
  window_ = static_cast<size_t>(std::min<uint64_t>(home_.extent - within, file_.size() - base));
  return inside(0, kDirectoryHeaderSize) ? TreeFault::None : TreeFault::RootOutside;
}

bool ResourceTree::directory(uint32_t at, Directory* out) const {
  if (!inside(at, kDirectoryHeaderSize)) return false;
  const size_t named = file_.u16(base_ + at + 12);
  out->at = at;
  out->claimed = named + file_.u16(base_ + at + 14);
  out->count = std::min(out->claimed, (window_ - at - kDirectoryHeaderSize) / kDirectoryEntrySize);
  out->named = std::min(named, out->count);
  return true;
}

bool ResourceTree::subdirectory(const Directory& d, uint32_t id, Directory* out) const {
  for (size_t i = d.named; i < d.count; ++i) {
    if (entryName(d, i) != id) continue;
    const uint32_t target = entryTarget(d, i);
    return (target & kHighBit) != 0 && directory(target & ~kHighBit, out);
  }
  return false;
}

bool ResourceTree::data(uint32_t at, uint32_t* rva, uint32_t* length) const {
  if ((at & kHighBit) != 0 || !inside(at, kDataEntrySize)) return false;
  *rva = file_.u32(base_ + at);
  *length = file_.u32(base_ + at + 4);
  return true;
}

}  // namespace pe
