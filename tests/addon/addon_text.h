// Small text helpers shared by the add-on tests (host and Wine).
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "install/addon_edit.h"

namespace addontest {

// The lines joined, each followed by CR LF.
inline std::string crlf(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

inline AddonEntry entryFor(const std::string& name, const std::string& dir, const std::string& moduleFile) {
  AddonEntry e;
  e.name = name;
  e.path = dir + moduleFile;
  e.moduleFile = moduleFile;
  return e;
}

// The lines of a file split at CR LF; a last line without one is kept too.
inline std::vector<std::string> splitCrLf(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The four content lines of e's entry as the file must hold them.
inline std::vector<std::string> entryContent(const AddonEntry& e) {
  return {"    <Name>" + escapeXml(e.name) + "</Name>", "    <Disabled>False</Disabled>",
          "    <ManualLoad>False</ManualLoad>", "    <Path>" + escapeXml(e.path) + "</Path>"};
}

// Where e's complete entries start: an opening line, the four content lines,
// a closing line.
inline std::vector<size_t> entryPositions(const std::vector<std::string>& lines, const AddonEntry& e) {
  std::vector<size_t> at;
  const std::vector<std::string> content = entryContent(e);
  for (size_t i = 0; i + 5 < lines.size(); ++i) {
    if (lines[i].find("<Launch.Addon>") == std::string::npos) continue;
    if (lines[i + 5].find("</Launch.Addon>") == std::string::npos) continue;
    bool same = true;
    for (size_t k = 0; k < 4 && same; ++k) same = lines[i + 1 + k] == content[k];
    if (same) at.push_back(i);
  }
  return at;
}

inline int countEntries(const std::string& bytes, const AddonEntry& e) {
  return static_cast<int>(entryPositions(splitCrLf(bytes), e).size());
}

}  // namespace addontest
