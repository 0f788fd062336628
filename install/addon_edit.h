// The line editing of Flight Simulator X's add-on file "dll.xml": the text of
// a new file, the rewrite of an existing one so that it holds exactly one
// entry of a module, and the element-line parser. Pure: no <windows.h>; the
// Win32 glue in addon_registration.cpp reads and writes the files.
//
// How an existing file is read. The bytes are split at every line feed; a line
// is the text before its line feed with one carriage return just before the
// line feed removed, so CR LF and LF-only files read alike and every line is
// written back with CR LF. A carriage return that does not precede a line feed
// is ordinary text, except one that ends the file's last, unterminated line,
// which counts as that line's break. What follows the last line feed is a
// last line only when it is not empty, so a file that ends with a line break
// gets no extra empty line and one that does not gets its missing break. Bytes
// above 127, NUL and Ctrl-Z are passed through unchanged: no code-page
// conversion, and nothing ends the text before its last byte.
#pragma once

#include <string>

// Opening and closing texts the editor looks for, anywhere in a line.
constexpr const char kAddonOpenTag[] = "<Launch.Addon>";
constexpr const char kAddonCloseTag[] = "</Launch.Addon>";
constexpr const char kDocumentCloseTag[] = "</SimBase.Document>";

// One module's entry. All three texts are raw (not escaped); the writer
// escapes name and path for XML.
struct AddonEntry {
  std::string name;        // e.g. "TowerLink Transponder"
  std::string path;        // productDir followed by moduleFile
  std::string moduleFile;  // e.g. "tltrans10.dll"; matched case-sensitively in Path values
};

// Splits one line of the form <tag>value</tag> (text before the first "<" and
// after the closing tag's ">" is not looked at). True when the line has that form, with tag and value set;
// the value is the raw text between the tags, neither trimmed nor decoded.
// False for a line without it (an attribute in the opening tag, a comment, an
// empty-element tag, an element spread over lines); tag and value are then
// left as they were.
bool parseElementLine(const std::string& line, std::string& tag, std::string& value);

// Text for element content: & < > become &amp; &lt; &gt;, and carriage return
// and line feed become &#13; and &#10; so a value can never break a line.
std::string escapeXml(const std::string& text);

// The reverse for matching: decodes &amp; &lt; &gt; &quot; &apos; and numeric
// references to characters 1 to 127 in one pass; anything else (an unknown or
// unterminated reference, a reference above 127) is kept as it stands.
std::string unescapeXml(const std::string& text);

// The six lines of an entry, each ending with CR LF.
std::string addonEntryText(const AddonEntry& entry);

// The fourteen lines of a new add-on file named fileName that holds entry.
std::string newAddonFile(const std::string& fileName, const AddonEntry& entry);

struct AddonEdit {
  std::string bytes;       // the new file, every line ending with CR LF
  int blocksRewritten = 0; // existing entries of the module replaced by this call's entry
  bool inserted = false;   // the entry was added before the document's closing line
};

// Rewrites an existing add-on file so that it holds this module's entry:
// - Every block (a line containing <Launch.Addon> up to the next line
//   containing </Launch.Addon>) whose Path element contains the module file
//   keeps its opening and closing lines as read and gets this entry's name,
//   Disabled, ManualLoad and Path lines in place of its content.
// - Every other block is kept line by line as read, except that a line that
//   is exactly one element (<tag>value</tag> with only spaces or tabs around
//   it) is re-indented to four spaces.
// - An entry written on one line is a block of its own: replaced by the
//   six-line entry when its Path contains the module file, else kept.
// - A block that is never closed (the file ends, or another opening or the
//   document's closing line comes first) is kept exactly as read.
// - When no block of the module exists anywhere in the file, the six-line
//   entry goes just before the first line containing </SimBase.Document>; a
//   file without such a line gets no entry (inserted stays false).
// - Every other line is kept as read.
// The module file matches as a case-sensitive substring of the Path value
// decoded with unescapeXml, so a folder with "&" in it still matches the entry
// that was written for it.
AddonEdit editAddonFile(const std::string& fileBytes, const AddonEntry& entry);
