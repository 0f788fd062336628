// How much of a program file its RT_RCDATA resources take: the resource
// directory of a PE file (PE32 or PE32+) read from the file's bytes, every
// data entry under type 10 summed. What is left of the file is what the
// program costs beside its payload. Every offset is checked against the file;
// a file that is not a PE file, or whose directory points outside it, gives
// ok == false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

struct RcdataSum {
  bool ok = false;
  uint64_t bytes = 0;  // sum of the RT_RCDATA data entries' sizes
  uint32_t count = 0;  // how many entries
  // Where the rest goes: the resource section as a whole, the debug sections
  // (".debug*"; a name longer than eight characters is "/n", an offset into
  // the COFF string table) and the COFF symbol table with its strings; the
  // last two are what strip removes.
  uint64_t resourceSection = 0;
  uint64_t debugSections = 0;
  uint64_t symbolTable = 0;
  // From the optional header: how the sections are laid out in the file, and
  // the size of the image in memory.
  uint32_t fileAlignment = 0;
  uint32_t sizeOfImage = 0;
};

namespace pe_detail {

inline bool read16(const std::vector<uint8_t>& f, uint64_t at, uint32_t* out) {
  if (at > f.size() || f.size() - at < 2) return false;
  *out = static_cast<uint32_t>(f[at]) | (static_cast<uint32_t>(f[at + 1]) << 8);
  return true;
}

inline bool read32(const std::vector<uint8_t>& f, uint64_t at, uint32_t* out) {
  if (at > f.size() || f.size() - at < 4) return false;
  *out = static_cast<uint32_t>(f[at]) | (static_cast<uint32_t>(f[at + 1]) << 8) |
         (static_cast<uint32_t>(f[at + 2]) << 16) | (static_cast<uint32_t>(f[at + 3]) << 24);
  return true;
}

}  // namespace pe_detail

inline RcdataSum sumRcdata(const std::vector<uint8_t>& f) {
  using pe_detail::read16;
  using pe_detail::read32;
  RcdataSum result;
  uint32_t nt = 0, signature = 0, sections = 0, optionalSize = 0, magic = 0;
  if (f.size() < 64 || f[0] != 'M' || f[1] != 'Z' || !read32(f, 0x3C, &nt)) return result;
  if (!read32(f, nt, &signature) || signature != 0x00004550) return result;  // "PE\0\0"
  if (!read16(f, nt + 6, &sections) || !read16(f, nt + 20, &optionalSize)) return result;
  uint32_t symbols = 0, symbolCount = 0, stringsLength = 0;
  uint64_t strings = 0;  // file offset of the string table, 0 when there is none
  if (!read32(f, nt + 12, &symbols) || !read32(f, nt + 16, &symbolCount)) return result;
  if (symbols != 0) {
    strings = static_cast<uint64_t>(symbols) + 18ull * symbolCount;
    if (read32(f, strings, &stringsLength) && stringsLength >= 4 && strings + stringsLength <= f.size()) {
      result.symbolTable = 18ull * symbolCount + stringsLength;
    } else {
      strings = 0;
    }
  }
  // A section's name, its long form looked up in the string table.
  auto sectionName = [&](uint64_t header) {
    std::string name(reinterpret_cast<const char*>(&f[header]), 8);
    name = name.c_str();
    if (name.size() > 1 && name[0] == '/' && strings != 0) {
      const uint64_t at = strings + std::strtoull(name.c_str() + 1, nullptr, 10);
      name.clear();
      for (uint64_t i = at; i < strings + stringsLength && f[i] != 0; ++i) name += static_cast<char>(f[i]);
    }
    return name;
  };
  const uint64_t optional = static_cast<uint64_t>(nt) + 24;
  if (!read16(f, optional, &magic)) return result;
  if (!read32(f, optional + 36, &result.fileAlignment) || !read32(f, optional + 56, &result.sizeOfImage)) {
    return result;
  }
  uint64_t directories = 0, countAt = 0;
  if (magic == 0x10B) {
    countAt = optional + 92, directories = optional + 96;
  } else if (magic == 0x20B) {
    countAt = optional + 108, directories = optional + 112;
  } else {
    return result;
  }
  uint32_t directoryCount = 0, resourceRva = 0, resourceSize = 0;
  if (!read32(f, countAt, &directoryCount)) return result;
  if (directoryCount >= 3 &&
      (!read32(f, directories + 16, &resourceRva) || !read32(f, directories + 20, &resourceSize))) {
    return result;
  }
  const uint64_t table = optional + optionalSize;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint64_t s = table + 40ull * i;
    uint32_t rawSize = 0;
    if (!read32(f, s + 16, &rawSize)) return result;  // the name lies before it
    if (sectionName(s).compare(0, 6, ".debug") == 0) result.debugSections += rawSize;
  }
  if (resourceRva == 0) {  // no resource directory at all
    result.ok = true;
    return result;
  }

  // The section that holds the directory: RVAs inside it map to file offsets.
  uint64_t base = 0, limit = 0;  // file offsets of the resource section
  uint32_t sectionRva = 0;
  bool found = false;
  for (uint32_t i = 0; i < sections && !found; ++i) {
    uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
    const uint64_t s = table + 40ull * i;
    if (!read32(f, s + 8, &virtualSize) || !read32(f, s + 12, &virtualAddress) || !read32(f, s + 16, &rawSize) ||
        !read32(f, s + 20, &rawPointer)) {
      return result;
    }
    if (resourceRva >= virtualAddress && resourceRva - virtualAddress < rawSize) {
      found = true;
      sectionRva = virtualAddress;
      base = rawPointer;
      limit = static_cast<uint64_t>(rawPointer) + rawSize;
      result.resourceSection = rawSize;
    }
  }
  if (!found || limit > f.size()) return result;
  const uint64_t root = base + (resourceRva - sectionRva);
  auto offsetOf = [&](uint32_t rva, uint64_t* out) {
    if (rva < sectionRva) return false;
    *out = base + (rva - sectionRva);
    return *out < limit;
  };

  // Entries of one directory: (id or name, offset with the subdirectory bit).
  struct Entry {
    uint32_t name, target;
  };
  auto entries = [&](uint64_t directory, std::vector<Entry>* out) {
    uint32_t named = 0, ids = 0;
    if (directory >= limit || !read16(f, directory + 12, &named) || !read16(f, directory + 14, &ids)) return false;
    for (uint32_t i = 0; i < named + ids; ++i) {
      Entry e{};
      const uint64_t at = directory + 16 + 8ull * i;
      if (at + 8 > limit || !read32(f, at, &e.name) || !read32(f, at + 4, &e.target)) return false;
      out->push_back(e);
    }
    return true;
  };
  const uint32_t kSubdirectory = 0x80000000u;

  std::vector<Entry> types;
  if (!entries(root, &types)) return result;
  for (const Entry& type : types) {
    if (type.name != 10) continue;  // RT_RCDATA, by id
    if ((type.target & kSubdirectory) == 0) return result;
    std::vector<Entry> names;
    if (!entries(root + (type.target & ~kSubdirectory), &names)) return result;
    for (const Entry& name : names) {
      if ((name.target & kSubdirectory) == 0) return result;
      std::vector<Entry> languages;
      if (!entries(root + (name.target & ~kSubdirectory), &languages)) return result;
      for (const Entry& language : languages) {
        if ((language.target & kSubdirectory) != 0) return result;  // a data entry is expected here
        const uint64_t data = root + language.target;
        uint32_t dataRva = 0, dataSize = 0;
        uint64_t dataOffset = 0;
        if (data + 16 > limit || !read32(f, data, &dataRva) || !read32(f, data + 4, &dataSize)) return result;
        if (!offsetOf(dataRva, &dataOffset) || limit - dataOffset < dataSize) return result;
        result.bytes += dataSize;
        ++result.count;
      }
    }
  }
  result.ok = true;
  return result;
}

}  // namespace bench
