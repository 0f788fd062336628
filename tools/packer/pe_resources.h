// The payload resources of a Windows program read straight from its file, on
// any host: the PE32 or PE32+ headers, the section table and the resource
// directory tree, enough to find the language-neutral RT_RCDATA resources with
// integer ids. Pure and bounds-checked: every offset, count and size comes from
// the file and is treated as hostile; nothing is read outside the bytes given,
// and the work stays linear in the file's length whatever its tables claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tlpack {

// Bytes [offset, offset + size) of the file.
struct FileRange {
  size_t offset = 0;
  size_t size = 0;
};

struct RcdataResources {
  // Language-neutral RT_RCDATA resources by integer id, each wholly inside the
  // file (resources with a name, another language or damaged data are not here).
  std::map<uint16_t, FileRange> byId;
  // One line per defect found (a section or resource past the end of the file,
  // a damaged directory entry, ...); empty for a sound file.
  std::vector<std::string> damage;
};

// Reads the RT_RCDATA resources of the image in [file, file + size). Returns
// false, with error saying why, when the file is no PE32/PE32+ image or its
// headers, section table or resource directory root cannot be read; true
// otherwise, with every lesser defect in out->damage.
bool readRcdataResources(const uint8_t* file, size_t size, RcdataResources* out, std::string* error);

}  // namespace tlpack
