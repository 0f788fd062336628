// A minimal Windows program file for tests: PE32 or PE32+ headers, an empty
// code section and a resource section whose RT_RCDATA resources have integer
// ids and the neutral language, laid out as a linker lays them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace tltest {

struct PeImage {
  std::vector<uint8_t> file;
  std::map<uint16_t, size_t> dataOffset;     // where each resource's bytes begin in file
  std::map<uint16_t, size_t> languageEntry;  // where each resource's language directory entry is
  std::map<uint16_t, size_t> dataEntry;      // where each resource's data entry is
  size_t resourceDirectory = 0;              // where the header's resource data directory is
  size_t optionalHeader = 0;                 // where the optional header begins
};

// resources: id -> bytes, written in ascending id order.
PeImage writePe(const std::map<uint16_t, std::vector<uint8_t>>& resources, bool pe32plus);

}  // namespace tltest
