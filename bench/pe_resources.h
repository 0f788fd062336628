// How much of a program file its RT_RCDATA resources take: every data entry
// under type 10 of the file's resource directory (platform/pe_resources.h)
// summed. What is left of the file is what the program costs beside its
// payload. A file that is not a PE file, or whose directory points outside
// it, gives ok == false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/pe_resources.h"

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

// The COFF symbol table with its string table; the string table's offset and
// length (0 when there is none).
inline uint64_t symbolTable(const pe::PeImage& image, uint64_t* strings, uint32_t* stringsLength) {
  const pe::Bytes& f = image.bytes();
  *strings = 0;
  *stringsLength = 0;
  if (image.symbolTable() == 0) return 0;
  const uint64_t at = uint64_t{image.symbolTable()} + 18ull * image.symbolCount();
  if (!f.has(at, 4)) return 0;
  const uint32_t length = f.u32(static_cast<size_t>(at));
  if (length < 4 || !f.has(at, length)) return 0;
  *strings = at;
  *stringsLength = length;
  return 18ull * image.symbolCount() + length;
}

// A section's name, its long form looked up in the string table.
inline std::string sectionName(const pe::PeImage& image, const pe::Section& s, uint64_t strings, uint32_t length) {
  const pe::Bytes& f = image.bytes();
  std::string name(reinterpret_cast<const char*>(f.at(s.header)), 8);
  name = name.c_str();
  if (name.size() > 1 && name[0] == '/' && strings != 0) {
    const uint64_t at = strings + std::strtoull(name.c_str() + 1, nullptr, 10);
    name.clear();
    for (uint64_t i = at; i < strings + length && *f.at(static_cast<size_t>(i)) != 0; ++i) {
      name += static_cast<char>(*f.at(static_cast<size_t>(i)));
    }
  }
  return name;
}

// Every language of every RT_RCDATA resource, named or numbered, added to
// result; false when an entry is damaged.
inline bool sumData(const pe::PeImage& image, const pe::ResourceTree& tree, RcdataSum* result) {
  pe::Directory root, names, languages;
  if (!tree.directory(0, &root) || root.count < root.claimed) return false;
  if (!tree.subdirectory(root, pe::kRtRcdata, &names)) return true;  // no RT_RCDATA resources
  for (size_t i = 0; i < names.claimed; ++i) {
    if (i >= names.count) return false;
    const uint32_t target = tree.entryTarget(names, i);
    if ((target & pe::kHighBit) == 0 || !tree.directory(target & ~pe::kHighBit, &languages) ||
        languages.count < languages.claimed) {
      return false;
    }
    for (size_t j = 0; j < languages.count; ++j) {
      uint32_t rva = 0, length = 0;
      uint64_t offset = 0;
      if (!tree.data(tree.entryTarget(languages, j), &rva, &length) ||
          image.map(rva, length, &offset) != pe::Mapping::Inside) {
        return false;
      }
      result->bytes += length;
      ++result->count;
    }
  }
  return true;
}

}  // namespace pe_detail

inline RcdataSum sumRcdata(const std::vector<uint8_t>& f) {
  RcdataSum result;
  pe::PeImage image(f.data(), f.size());
  if (image.open() != pe::HeaderFault::None) return result;
  result.fileAlignment = image.fileAlignment();
  result.sizeOfImage = image.sizeOfImage();
  uint64_t strings = 0;
  uint32_t stringsLength = 0;
  result.symbolTable = pe_detail::symbolTable(image, &strings, &stringsLength);
  for (size_t i = 0; i < image.sectionCount(); ++i) {
    const pe::Section s = image.section(i);
    if (pe_detail::sectionName(image, s, strings, stringsLength).compare(0, 6, ".debug") == 0) {
      result.debugSections += s.rawSize;
    }
  }
  if (image.resourceRva() == 0) {  // no resource directory at all
    result.ok = true;
    return result;
  }
  pe::ResourceTree tree(image);
  if (tree.open() != pe::TreeFault::None) return result;
  result.resourceSection = tree.home().rawSize;
  result.ok = pe_detail::sumData(image, tree, &result);
  return result;
}

}  // namespace bench
