// The file reader of tlpack --verify on arbitrary bytes: whatever the headers,
// section table and resource directory claim, it reads nothing outside the
// input, finishes in time linear in its length, says why when it gives up,
// and hands back only ranges that lie inside the input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pe::RcdataResources resources;
  std::string error;
  if (!pe::readRcdataResources(data, size, &resources, &error)) {
    if (error.empty() || !resources.byId.empty()) __builtin_trap();
    return 0;
  }
  volatile uint8_t sink = 0;
  for (const auto& [id, range] : resources.byId) {
    if (range.offset > size || range.size > size - range.offset) __builtin_trap();
    if (range.size != 0) sink = sink ^ data[range.offset] ^ data[range.offset + range.size - 1];
  }
  return 0;
}
