#include "tools/packer/pe_resources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tlpack {

namespace {

constexpr uint32_t kRtRcdata = 10;
constexpr uint32_t kHighBit = 0x80000000u;  // a string name, or a subdirectory
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;

std::string n(uint64_t v) { return std::to_string(v); }

std::string hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool has(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
  // Callers check has() first.
  uint16_t u16(size_t at) const { return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8); }
  uint32_t u32(size_t at) const {
    return static_cast<uint32_t>(data_[at]) | static_cast<uint32_t>(data_[at + 1]) << 8 |
           static_cast<uint32_t>(data_[at + 2]) << 16 | static_cast<uint32_t>(data_[at + 3]) << 24;
  }
  const uint8_t* at(size_t offset) const { return data_ + offset; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

struct Section {
  uint32_t address = 0;    // relative virtual address
  uint32_t extent = 0;     // bytes of it that the loader takes from the file
  uint32_t rawOffset = 0;  // where they are in the file
};

enum class Mapping { Inside, PastEnd, Outside };

// Where [rva, rva + length) lies in the file: wholly inside one section's file
// data (Inside, *offset set), inside a section but past the end of the file
// (PastEnd, *offset set) or outside every section's file data.
Mapping mapRva(const std::vector<Section>& sections, size_t fileSize, uint32_t rva, uint32_t length, uint64_t* offset) {
  for (const Section& s : sections) {
    if (rva < s.address) continue;
    uint64_t within = uint64_t{rva} - s.address;
    if (within >= s.extent || within + length > s.extent) continue;
    *offset = uint64_t{s.rawOffset} + within;
    return *offset + length <= fileSize ? Mapping::Inside : Mapping::PastEnd;
  }
  return Mapping::Outside;
}

// The resource directory tree, inside the window of file bytes that the
// resource section provides; every offset in it is relative to the window.
class ResourceTree {
 public:
  ResourceTree(const Bytes& file, size_t base, size_t length, std::vector<std::string>* damage)
      : file_(file), base_(base), length_(length), damage_(damage) {}

  bool inside(uint64_t rel, uint64_t length) const { return rel <= length_ && length <= length_ - rel; }

  // The directory at rel: how many entries of it lie inside the window and
  // how many of those are named (they come first). False when its header
  // does not lie inside.
  bool directory(uint32_t rel, const std::string& what, size_t* named, size_t* count) const {
    if (!inside(rel, kDirectoryHeaderSize)) {
      damage_->push_back("the resource directory of " + what + " lies outside the resource section");
      return false;
    }
    size_t claimedNamed = file_.u16(base_ + rel + 12);
    size_t claimed = claimedNamed + file_.u16(base_ + rel + 14);
    size_t room = (length_ - rel - kDirectoryHeaderSize) / kDirectoryEntrySize;
    *count = std::min(claimed, room);
    *named = std::min(claimedNamed, *count);
    if (*count < claimed) {
      damage_->push_back("the resource directory of " + what + " is cut off after " + n(*count) + " of its " +
                         n(claimed) + " entries");
    }
    return true;
  }

  uint32_t entryName(uint32_t dir, size_t i) const { return file_.u32(entryAt(dir, i)); }
  uint32_t entryTarget(uint32_t dir, size_t i) const { return file_.u32(entryAt(dir, i) + 4); }
  size_t fileOffset(uint32_t rel) const { return base_ + rel; }

 private:
  size_t entryAt(uint32_t dir, size_t i) const { return base_ + dir + kDirectoryHeaderSize + i * kDirectoryEntrySize; }

  const Bytes& file_;
  size_t base_;
  size_t length_;
  std::vector<std::string>* damage_;
};

}  // namespace

bool readRcdataResources(const uint8_t* data, size_t size, RcdataResources* out, std::string* error) {
  out->byId.clear();
  out->damage.clear();
  Bytes file(data, data == nullptr ? 0 : size);
  const std::string truncated = " (the file is " + n(file.size()) + " bytes long: truncated?)";
  if (!file.has(0, kDosHeaderSize) || data[0] != 'M' || data[1] != 'Z') {
    *error = "is not a Windows program: no MZ header";
    return false;
  }
  uint32_t pe = file.u32(0x3C);
  if (!file.has(pe, 24)) {
    *error = "ends before its PE header" + truncated;
    return false;
  }
  if (std::memcmp(file.at(pe), "PE\0\0", 4) != 0) {
    *error = "is not a Windows program: no PE signature";
    return false;
  }
  const size_t coff = size_t{pe} + 4;
  const size_t sectionCount = file.u16(coff + 2);
  const size_t optionalSize = file.u16(coff + 16);
  const size_t optional = coff + 20;
  if (!file.has(optional, std::max<size_t>(optionalSize, 2))) {
    *error = "ends inside its optional header" + truncated;
    return false;
  }
  size_t countAt = 0, directoriesAt = 0;
  uint16_t magic = file.u16(optional);
  if (magic == 0x10B) {  // PE32
    countAt = 92;
    directoriesAt = 96;
  } else if (magic == 0x20B) {  // PE32+
    countAt = 108;
    directoriesAt = 112;
  } else {
    *error = "is neither PE32 nor PE32+ (optional header magic " + hex(magic) + ")";
    return false;
  }
  const size_t resourceDirectory = directoriesAt + 2 * 8;  // data directory 2: resources
  if (optionalSize < resourceDirectory + 8 || file.u32(optional + countAt) < 3) {
    *error = "has no resource directory";
    return false;
  }
  const uint32_t resourceRva = file.u32(optional + resourceDirectory);
  const uint32_t resourceSize = file.u32(optional + resourceDirectory + 4);

  const size_t table = optional + optionalSize;
  if (!file.has(table, uint64_t{sectionCount} * kSectionHeaderSize)) {
    *error = "ends inside its section table" + truncated;
    return false;
  }
  std::vector<Section> sections;
  uint64_t sectionsEnd = 0;
  for (size_t i = 0; i < sectionCount; ++i) {
    size_t h = table + i * kSectionHeaderSize;
    Section s;
    uint32_t virtualSize = file.u32(h + 8);
    s.address = file.u32(h + 12);
    uint32_t rawSize = file.u32(h + 16);
    s.rawOffset = file.u32(h + 20);
    // Beyond its virtual size a section's file bytes are not loaded.
    s.extent = virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize;
    if (rawSize != 0) sectionsEnd = std::max(sectionsEnd, uint64_t{s.rawOffset} + rawSize);
    sections.push_back(s);
  }
  if (sectionsEnd > file.size()) {
    out->damage.push_back("the file is " + n(file.size()) + " bytes long, but its sections reach byte " +
                          n(sectionsEnd) + ": it is truncated");
  }
  if (resourceRva == 0 || resourceSize == 0) {
    *error = "has no resources";
    return false;
  }

  // The resource directory's window: the rest of the section it starts in,
  // as far as the file goes.
  const Section* home = nullptr;
  for (const Section& s : sections) {
    if (resourceRva >= s.address && uint64_t{resourceRva} - s.address < s.extent) {
      home = &s;
      break;
    }
  }
  if (home == nullptr) {
    *error = "has its resource directory (" + hex(resourceRva) + ") outside its sections";
    return false;
  }
  const uint64_t within = uint64_t{resourceRva} - home->address;
  const uint64_t base = uint64_t{home->rawOffset} + within;
  if (base >= file.size()) {
    *error = "has its resources past the end of the file" + truncated;
    return false;
  }
  const size_t window = static_cast<size_t>(std::min<uint64_t>(home->extent - within, file.size() - base));
  ResourceTree tree(file, static_cast<size_t>(base), window, &out->damage);

  size_t named = 0, count = 0;
  if (!tree.directory(0, "the file", &named, &count)) {
    *error = "has a damaged resource directory: " + out->damage.back();
    out->damage.pop_back();
    return false;
  }
  uint32_t rcdata = 0;
  bool found = false;
  for (size_t i = named; i < count && !found; ++i) {
    if (tree.entryName(0, i) != kRtRcdata) continue;
    uint32_t target = tree.entryTarget(0, i);
    if ((target & kHighBit) == 0) {
      out->damage.push_back("the resource directory entry of RT_RCDATA is damaged");
      return true;
    }
    rcdata = target & ~kHighBit;
    found = true;
  }
  if (!found) return true;  // no RT_RCDATA resources at all
  if (!tree.directory(rcdata, "RT_RCDATA", &named, &count)) return true;

  for (size_t i = named; i < count; ++i) {
    uint32_t id = tree.entryName(rcdata, i);
    uint32_t target = tree.entryTarget(rcdata, i);
    if (id & kHighBit) continue;  // a named entry among the numbered ones: not a payload resource
    const std::string what = "RT_RCDATA resource " + n(id);
    if (id > 0xFFFF || (target & kHighBit) == 0) {
      out->damage.push_back("the resource directory entry of " + what + " is damaged");
      continue;
    }
    // Languages are sorted by id, so a neutral one (0) is the first numbered
    // entry, where the loader's search finds it: one look per resource keeps
    // the walk linear however the directories are shared.
    uint32_t languages = target & ~kHighBit;
    size_t languageNamed = 0, languageCount = 0;
    if (!tree.directory(languages, what, &languageNamed, &languageCount)) continue;
    if (languageNamed >= languageCount || tree.entryName(languages, languageNamed) != 0) {
      out->damage.push_back(what + " is not language neutral");
      continue;
    }
    uint32_t dataEntry = tree.entryTarget(languages, languageNamed);
    if ((dataEntry & kHighBit) != 0 || !tree.inside(dataEntry, kDataEntrySize)) {
      out->damage.push_back("the data entry of " + what + " is damaged");
      continue;
    }
    uint32_t rva = file.u32(tree.fileOffset(dataEntry));
    uint32_t length = file.u32(tree.fileOffset(dataEntry) + 4);
    uint64_t offset = 0;
    switch (mapRva(sections, file.size(), rva, length, &offset)) {
      case Mapping::Inside:
        if (!out->byId.emplace(static_cast<uint16_t>(id), FileRange{static_cast<size_t>(offset), length}).second) {
          out->damage.push_back(what + " is listed twice");
        }
        break;
      case Mapping::PastEnd:
        out->damage.push_back(what + " (" + n(length) + " bytes from byte " + n(offset) +
                              ") reaches past the end of the file");
        break;
      case Mapping::Outside:
        out->damage.push_back(what + " (" + n(length) + " bytes at " + hex(rva) + ") lies outside the file's sections");
        break;
    }
  }
  return true;
}

}  // namespace tlpack
