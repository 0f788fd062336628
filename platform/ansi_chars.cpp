#include "platform/ansi_chars.h"

LeadBytes LeadBytes::fromRanges(const uint8_t* ranges, size_t size) {
  LeadBytes table;
  if (ranges == nullptr) return table;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const unsigned first = ranges[i];
    const unsigned last = ranges[i + 1];
    if (first == 0 && last == 0) break;
    for (unsigned byte = first; byte <= last; ++byte) table.bits_[byte >> 5] |= 1u << (byte & 31u);
  }
  return table;
}

namespace {

// Calls visit(position, length) for each character of text, first to last.
template <typename Visit>
void forEachChar(const std::string& text, const LeadBytes& leadBytes, Visit visit) {
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const size_t length = leadBytes.isLead(static_cast<unsigned char>(text[i])) && i + 1 < size ? 2 : 1;
    visit(i, length);
    i += length;
  }
}

}  // namespace

size_t findLastBackslash(const std::string& path, const LeadBytes& leadBytes) {
  size_t found = std::string::npos;
  forEachChar(path, leadBytes, [&](size_t position, size_t length) {
    if (length == 1 && path[position] == '\\') found = position;
  });
  return found;
}

bool lastCharIsBackslash(const std::string& path, const LeadBytes& leadBytes) {
  bool backslash = false;
  forEachChar(path, leadBytes,
              [&](size_t position, size_t length) { backslash = length == 1 && path[position] == '\\'; });
  return backslash;
}

void addTrailingBackslash(std::string& path, const LeadBytes& leadBytes) {
  if (!path.empty() && !lastCharIsBackslash(path, leadBytes)) path.push_back('\\');
}
