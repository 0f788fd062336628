// Feeds arbitrary lines to parseElementLine and arbitrary text through the XML
// escaping. An accepted line must really hold "<tag>value<" at its first "<";
// escaped text must carry no markup or line break and decode to the original.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/addon_edit.h"

namespace {
void check(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  std::string tag = "\x01", value = "\x02";
  if (parseElementLine(line, tag, value)) {
    size_t a = line.find('<');
    check(a != std::string::npos);
    const std::string open = "<" + tag + ">" + value + "<";
    check(line.compare(a, open.size(), open) == 0);
    check(tag.find('>') == std::string::npos);
    check(value.find('<') == std::string::npos);
    size_t c = a + open.size() - 1;
    check(line.size() >= c + 2 + tag.size() + 1 || (tag.empty() && line.size() >= c + 2));
    if (!tag.empty()) check(line.compare(c + 2, tag.size() + 1, tag + ">") == 0);
  } else {
    check(tag == "\x01" && value == "\x02");
  }

  const std::string escaped = escapeXml(line);
  check(escaped.find_first_of("<>\r\n") == std::string::npos);
  check(unescapeXml(escaped) == line);
  (void)unescapeXml(line);  // arbitrary references must not go out of bounds
  return 0;
}
