#include "install/addon_edit.h"

#include <cstddef>
#include <vector>

namespace {

const char kCrLf[] = "\r\n";

// Where the four searches of the element-line parser landed.
struct ElementMarks {
  size_t a, b, c, d;
};

bool findElementMarks(const std::string& line, ElementMarks& m) {
  m.a = line.find('<');
  if (m.a == std::string::npos) return false;
  m.b = line.find('>', m.a);
  if (m.b == std::string::npos) return false;
  m.c = line.find('<', m.b);
  if (m.c == std::string::npos) return false;
  m.d = line.find('>', m.c);
  return m.d != std::string::npos;
}

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

bool onlyBlanks(const std::string& text, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (text[i] != ' ' && text[i] != '\t') return false;
  }
  return true;
}

std::vector<std::string> splitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t lf = bytes.find('\n', start);
    size_t end = lf == std::string::npos ? bytes.size() : lf;
    if (lf == std::string::npos && start == bytes.size()) break;  // nothing after the last line feed
    size_t len = end - start;
    if (len > 0 && bytes[end - 1] == '\r') --len;
    lines.emplace_back(bytes, start, len);
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  return lines;
}

bool valueNamesModule(const std::string& rawValue, const std::string& moduleFile) {
  return unescapeXml(rawValue).find(moduleFile) != std::string::npos;
}

// A multi-line block's content names the module when one of its element lines
// is a Path whose value contains the module file.
bool blockNamesModule(const std::vector<std::string>& lines, size_t first, size_t last,
                      const std::string& moduleFile) {
  std::string tag, value;
  for (size_t k = first; k < last; ++k) {
    if (parseElementLine(lines[k], tag, value) && tag == "Path" && valueNamesModule(value, moduleFile)) {
      return true;
    }
  }
  return false;
}

// An entry on one line: any <Path>...</Path> after the opening tag counts.
bool oneLineEntryNamesModule(const std::string& line, size_t openAt, const std::string& moduleFile) {
  static const char kPathOpen[] = "<Path>";
  static const char kPathClose[] = "</Path>";
  size_t from = openAt;
  for (;;) {
    size_t p = line.find(kPathOpen, from);
    if (p == std::string::npos) return false;
    size_t v = p + sizeof(kPathOpen) - 1;
    size_t q = line.find(kPathClose, v);
    if (q == std::string::npos) return false;
    if (valueNamesModule(line.substr(v, q - v), moduleFile)) return true;
    from = q;
  }
}

// A foreign block's line: re-indented only when nothing but blanks surrounds
// the one element, so the rewrite can never drop text from it.
void writeForeignLine(const std::string& line, std::string& out) {
  ElementMarks m;
  std::string tag, value;
  if (findElementMarks(line, m) && parseElementLine(line, tag, value) && line.compare(m.c, 2, "</") == 0 &&
      onlyBlanks(line, 0, m.a) && onlyBlanks(line, m.d + 1, line.size())) {
    out += "    <";
    out += tag;
    out += '>';
    out += value;
    out += "</";
    out += tag;
    out += '>';
  } else {
    out += line;
  }
  out += kCrLf;
}

void writeEntryContent(const AddonEntry& entry, std::string& out) {
  out += "    <Name>";
  out += escapeXml(entry.name);
  out += "</Name>\r\n";
  out += "    <Disabled>False</Disabled>\r\n";
  out += "    <ManualLoad>False</ManualLoad>\r\n";
  out += "    <Path>";
  out += escapeXml(entry.path);
  out += "</Path>\r\n";
}

enum class SegmentKind { Line, Block, OneLineEntry, Unclosed };

struct Segment {
  SegmentKind kind;
  size_t first;  // first line
  size_t last;   // last line, inclusive
  bool namesModule;
};

std::vector<Segment> segment(const std::vector<std::string>& lines, const std::string& moduleFile) {
  std::vector<Segment> segments;
  const size_t n = lines.size();
  size_t i = 0;
  while (i < n) {
    const std::string& line = lines[i];
    size_t openAt = line.find(kAddonOpenTag);
    if (openAt == std::string::npos) {
      segments.push_back({SegmentKind::Line, i, i, false});
      ++i;
      continue;
    }
    if (line.find(kAddonCloseTag, openAt + sizeof(kAddonOpenTag) - 1) != std::string::npos) {
      segments.push_back({SegmentKind::OneLineEntry, i, i, oneLineEntryNamesModule(line, openAt, moduleFile)});
      ++i;
      continue;
    }
    // The closing line is checked first, as a closing line that also holds
    // another tag still ends this block.
    size_t j = i + 1;
    while (j < n && !contains(lines[j], kAddonCloseTag) && !contains(lines[j], kAddonOpenTag) &&
           !contains(lines[j], kDocumentCloseTag)) {
      ++j;
    }
    if (j < n && contains(lines[j], kAddonCloseTag)) {
      segments.push_back({SegmentKind::Block, i, j, blockNamesModule(lines, i + 1, j, moduleFile)});
      i = j + 1;
    } else {
      segments.push_back({SegmentKind::Unclosed, i, j - 1, false});
      i = j;
    }
  }
  return segments;
}

}  // namespace

bool parseElementLine(const std::string& line, std::string& tag, std::string& value) {
  ElementMarks m;
  if (!findElementMarks(line, m)) return false;
  std::string openName = line.substr(m.a + 1, m.b - m.a - 1);
  // "</" is skipped unchecked; "<>" leaves no closing name at all.
  std::string closeName = m.d >= m.c + 2 ? line.substr(m.c + 2, m.d - m.c - 2) : std::string();
  if (openName != closeName) return false;
  tag = std::move(openName);
  value = line.substr(m.b + 1, m.c - m.b - 1);
  return true;
}

std::string escapeXml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += "&#10;"; break;
      default: out += ch;
    }
  }
  return out;
}

std::string unescapeXml(const std::string& text) {
  static const struct {
    const char* name;
    char ch;
  } kNamed[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out += text[i++];
      continue;
    }
    size_t semi = text.find(';', i + 1);
    // The longest reference decoded here is "&#x0000007F;"; look no further.
    if (semi == std::string::npos || semi - i > 12) {
      out += text[i++];
      continue;
    }
    std::string ref = text.substr(i + 1, semi - i - 1);
    int decoded = -1;
    for (const auto& named : kNamed) {
      if (ref == named.name) decoded = static_cast<unsigned char>(named.ch);
    }
    if (decoded < 0 && ref.size() >= 2 && ref[0] == '#') {
      bool hex = ref[1] == 'x' || ref[1] == 'X';
      size_t k = hex ? 2 : 1;
      unsigned long long code = 0;
      bool digits = k < ref.size();
      for (; k < ref.size() && digits; ++k) {
        char c = ref[k];
        int d = c >= '0' && c <= '9' ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                : -1;
        if (d < 0) digits = false;
        else code = code * (hex ? 16 : 10) + d;  // at most 10 digits: cannot overflow 64 bits
      }
      if (digits && code >= 1 && code <= 127) decoded = static_cast<int>(code);
    }
    if (decoded < 0) {
      out += text[i++];
      continue;
    }
    out += static_cast<char>(decoded);
    i = semi + 1;
  }
  return out;
}

std::string addonEntryText(const AddonEntry& entry) {
  std::string out = "  <Launch.Addon>\r\n";
  writeEntryContent(entry, out);
  out += "  </Launch.Addon>\r\n";
  return out;
}

std::string newAddonFile(const std::string& fileName, const AddonEntry& entry) {
  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n";
  out += "\r\n";
  out += "<SimBase.Document Type=\"Launch\" version=\"1,0\">\r\n";
  out += "  <Descr>Launch</Descr>\r\n";
  out += "  <Filename>";
  out += escapeXml(fileName);
  out += "</Filename>\r\n";
  out += "  <Disabled>False</Disabled>\r\n";
  out += "  <Launch.ManualLoad>False</Launch.ManualLoad>\r\n";
  out += addonEntryText(entry);
  out += "</SimBase.Document>\r\n";
  return out;
}

AddonEdit editAddonFile(const std::string& fileBytes, const AddonEntry& entry) {
  AddonEdit edit;
  const std::vector<std::string> lines = splitLines(fileBytes);
  const std::vector<Segment> segments = segment(lines, entry.moduleFile);

  // Looking at the whole file first means an entry that stands after the
  // document's closing line still counts, so the module never gets a second one.
  bool anyEntry = false;
  for (const Segment& s : segments) anyEntry = anyEntry || s.namesModule;

  std::string& out = edit.bytes;
  out.reserve(fileBytes.size() + 256);
  for (const Segment& s : segments) {
    switch (s.kind) {
      case SegmentKind::Line:
        if (!anyEntry && !edit.inserted && contains(lines[s.first], kDocumentCloseTag)) {
          out += addonEntryText(entry);
          edit.inserted = true;
        }
        out += lines[s.first];
        out += kCrLf;
        break;
      case SegmentKind::OneLineEntry:
        if (s.namesModule) {
          out += addonEntryText(entry);
          ++edit.blocksRewritten;
        } else {
          out += lines[s.first];
          out += kCrLf;
        }
        break;
      case SegmentKind::Block:
        out += lines[s.first];
        out += kCrLf;
        if (s.namesModule) {
          writeEntryContent(entry, out);
          ++edit.blocksRewritten;
        } else {
          for (size_t k = s.first + 1; k < s.last; ++k) writeForeignLine(lines[k], out);
        }
        out += lines[s.last];
        out += kCrLf;
        break;
      case SegmentKind::Unclosed:
        for (size_t k = s.first; k <= s.last; ++k) {
          out += lines[k];
          out += kCrLf;
        }
        break;
    }
  }
  return edit;
}
