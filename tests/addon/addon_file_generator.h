// A deterministic generator of dll.xml-like files for the property tests: a
// header, foreign entries with comments, attributes, elements spread over
// lines, empty-element tags and blank lines, entries of the module under test
// in various places and shapes, CR LF or LF line ends, with or without a last
// line break. Alongside the bytes it records what the registration must keep.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace addontest {

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() {  // splitmix64: the same numbers on every platform
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }

 private:
  uint64_t state_;
};

struct GeneratedFile {
  std::string bytes;
  // Every line the registration must leave in the file, in order, in the form
  // it must have (single-line elements of foreign entries re-indented), with
  // the module's own entries left out.
  std::vector<std::string> keptLines;
  int moduleEntries = 0;     // entries that name the module in a single-line Path element
  bool hasDocumentClose = false;
};

inline std::string randomFolder(Rng& rng) {
  static const char* const kParts[] = {"C:\\Program Files\\", "D:\\Games\\", "C:\\Add ons\\",
                                       "E:\\Sim & Co\\",      "C:\\\xC4rger\\", "F:\\x<y>\\"};
  std::string folder = kParts[rng.below(6)];
  if (rng.chance(50)) folder += "Vendor" + std::to_string(rng.below(100)) + "\\";
  return folder;
}

inline std::string escapeForFile(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

inline std::string indent(Rng& rng) {
  static const char* const kIndents[] = {"", "  ", "    ", "\t", "      ", " \t "};
  return kIndents[rng.below(6)];
}

// A foreign entry's content line; expected is what the registration keeps.
inline void foreignContentLine(Rng& rng, const std::vector<std::string>& otherModules, std::vector<std::string>& lines,
                               std::vector<std::string>& expected) {
  auto element = [&](const std::string& tag, const std::string& value) {
    std::string trailing = rng.chance(20) ? " \t" : "";
    lines.push_back(indent(rng) + "<" + tag + ">" + value + "</" + tag + ">" + trailing);
    expected.push_back("    <" + tag + ">" + value + "</" + tag + ">");
  };
  auto asIs = [&](const std::string& line) {
    lines.push_back(line);
    expected.push_back(line);
  };
  switch (rng.below(11)) {
    case 0: element("Name", "Vendor tool " + std::to_string(rng.below(1000))); break;
    case 1: {
      // A foreign Path may name one of our other modules: foreign for this call.
      std::string file = otherModules.empty() || rng.chance(50) ? "vendor" + std::to_string(rng.below(9)) + ".dll"
                                                                : otherModules[rng.below(static_cast<int>(otherModules.size()))];
      element("Path", escapeForFile(randomFolder(rng)) + file);
      break;
    }
    case 2: element("Disabled", rng.chance(50) ? "False" : "True"); break;
    case 3: element("ManualLoad", "False"); break;
    case 4: element("CommandLine", ""); break;
    case 5: asIs(indent(rng) + "<!-- kept comment " + std::to_string(rng.below(100)) + " -->"); break;
    case 6: asIs(indent(rng) + "<Name lang=\"en\">Attributed</Name>"); break;
    case 7:  // an element spread over three lines
      asIs(indent(rng) + "<Path>");
      asIs(indent(rng) + "C:\\Spread\\vendor.dll");
      asIs(indent(rng) + "</Path>");
      break;
    case 8: asIs(indent(rng) + "<Disabled/>"); break;
    case 9: asIs(""); break;
    default: asIs(indent(rng) + "<Name>First</Name><Path>C:\\two\\on one line.dll</Path>"); break;
  }
}

// A file for registering moduleFile; otherModules appear only in foreign entries.
inline GeneratedFile generateAddonFile(uint64_t seed, const std::string& moduleFile,
                                       const std::vector<std::string>& otherModules) {
  Rng rng(seed);
  GeneratedFile g;
  std::vector<std::string> lines;
  auto keep = [&](const std::string& line) {
    lines.push_back(line);
    g.keptLines.push_back(line);
  };

  if (rng.chance(90)) keep("<?xml version=\"1.0\" encoding=\"Windows-1252\"?>");
  if (rng.chance(70)) keep("");
  keep("<SimBase.Document Type=\"Launch\" version=\"1,0\">");
  if (rng.chance(80)) keep("  <Descr>Launch</Descr>");
  if (rng.chance(80)) keep("  <Filename>dll.xml</Filename>");

  static const char* const kOpenings[] = {"  <Launch.Addon>", "<Launch.Addon>", "\t<Launch.Addon>  ",
                                          "    <Launch.Addon>"};
  static const char* const kClosings[] = {"  </Launch.Addon>", "</Launch.Addon>", "\t</Launch.Addon> "};
  const int items = rng.below(9);
  for (int item = 0; item < items; ++item) {
    switch (rng.below(7)) {
      case 0:
      case 1: {  // a foreign entry over several lines
        keep(kOpenings[rng.below(4)]);
        const int content = rng.below(6);
        for (int c = 0; c < content; ++c) foreignContentLine(rng, otherModules, lines, g.keptLines);
        keep(kClosings[rng.below(3)]);
        break;
      }
      case 2: {  // an entry of the module; at most two in a file
        if (g.moduleEntries >= 2) break;
        lines.push_back(kOpenings[rng.below(4)]);
        if (rng.chance(70)) lines.push_back("    <Name>Old name</Name>");
        if (rng.chance(30)) lines.push_back("    <!-- dropped with the old entry -->");
        lines.push_back(indent(rng) + "<Path>" + escapeForFile(randomFolder(rng)) + moduleFile + "</Path>");
        if (rng.chance(50)) lines.push_back("    <Disabled>True</Disabled>");
        lines.push_back(kClosings[rng.below(3)]);
        ++g.moduleEntries;
        break;
      }
      case 3:  // an entry on one line
        if (rng.chance(40) && g.moduleEntries < 2) {
          lines.push_back("  <Launch.Addon><Name>x</Name><Path>C:\\One\\" + moduleFile + "</Path></Launch.Addon>");
          ++g.moduleEntries;
        } else {
          keep("  <Launch.Addon><Name>One line</Name><Path>C:\\One\\other.dll</Path></Launch.Addon>");
        }
        break;
      case 4: keep(indent(rng) + "<!-- a comment between entries -->"); break;
      case 5: keep(""); break;
      default: keep(indent(rng) + "text \xE9\xFC\x80 outside any entry"); break;
    }
  }
  if (rng.chance(10)) {  // an entry left open: kept exactly as it stands
    keep("  <Launch.Addon>");
    keep("      <Name>Never closed</Name>");
    keep("\t<Path>C:\\Open\\open.dll</Path>");
  }
  if (rng.chance(92)) {
    keep("</SimBase.Document>");
    g.hasDocumentClose = true;
  }
  if (rng.chance(15)) keep("<!-- after the document -->");

  const bool crlf = rng.chance(60);
  const bool mixed = rng.chance(15);
  const bool lastBreak = rng.chance(70);
  for (size_t i = 0; i < lines.size(); ++i) {
    g.bytes += lines[i];
    bool last = i + 1 == lines.size();
    if (last && !lastBreak && !lines[i].empty()) break;  // an empty last line needs its break to exist
    g.bytes += (mixed ? rng.chance(50) : crlf) ? "\r\n" : "\n";
  }
  return g;
}

}  // namespace addontest
