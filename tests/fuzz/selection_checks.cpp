#include "tests/fuzz/selection_checks.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "payload/catalogue.h"

namespace tlfuzz {

namespace {

// Printable form of arbitrary bytes for a failure message.
std::string show(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"') {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out + "\"";
}

// The one character mapping a catalogue name allows: '/' becomes '\', ASCII
// capitals become small, every other byte (those above 127 too) stays.
char catalogueForm(char c) {
  if (c == '/') return '\\';
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && std::memcmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// Names around the selectors the worker uses: a name equal to a selector, names
// that sort between "\tl\global" and "\tl\global\..." ('!' and ' ' are below
// '\'), a longer sibling ("\tl\global2"), a shorter one ("\tl\globa"), bytes
// above 127, and the extremes of the byte order.
const char* const kFixedKeys[] = {
    "\\fs\\aircraft",
    "\\fs\\aircraft\\towerlink\\aircraft.cfg",
    "\\fs\\aircraft\\towerlink\\model.c172\\model.cfg",
    "\\fs\\aircraft\\vip\\texture\\a.bmp",
    "\\fs\\aircraft\\vip2\\b.bmp",
    "\\fs\\modules\\fsuipc.dll",
    "\\fs\\modules\\tlmod9.dll",
    "\\tl\\fs\\tlaicontrol10.dll",
    "\\tl\\fs\\tlmod10.dll",
    "\\tl\\fs\\tltrans10.dll",
    "\\tl\\globa",
    "\\tl\\global",
    "\\tl\\global x.txt",
    "\\tl\\global!",
    "\\tl\\global\\readme.txt",
    "\\tl\\global\\\\double.txt",
    "\\tl\\global2\\a.txt",
    "\\tl\\tl\\a & b.txt",
    "\\tl\\tl\\sound\\hello.wav",
    "\\tl\\tl\\towerlink_fs.exe",
    "\\tl\\tl\\\xE9t\xE9.txt",
    "\\tl\\tl\\\xFF",
    "\x01",
    "\\",
    "\xFF\xFF",
};

std::string checkParentPath(const std::string& path) {
  const std::string parent = parentPath(path, LeadBytes());
  const size_t last = path.rfind('\\');
  if (last == std::string::npos) {
    if (!parent.empty()) return "parentPath(" + show(path) + ") is " + show(parent) + " for a path without '\\'";
    return std::string();
  }
  if (!startsWith(path, parent) || parent.size() != last) {
    return "parentPath(" + show(path) + ") is " + show(parent) + ", not the text before the last '\\'";
  }
  return std::string();
}

}  // namespace

std::string checkNormalizePath(const std::string& text) {
  const std::string out = normalizePath(text);
  const std::string what = "normalizePath(" + show(text) + ") = " + show(out) + ": ";
  // Exactly one trailing backslash goes, and only a trailing one.
  const bool endsWithSeparator = !text.empty() && catalogueForm(text.back()) == '\\';
  const size_t expectedSize = endsWithSeparator ? text.size() - 1 : text.size();
  if (out.size() != expectedSize) return what + "wrong length";
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '/') return what + "keeps a '/'";
    if (out[i] >= 'A' && out[i] <= 'Z') return what + "keeps a capital";
    if (out[i] != catalogueForm(text[i])) return what + "changes byte " + std::to_string(i);
  }
  if (!out.empty() && out.back() == '\\' &&
      !(text.size() >= 2 && catalogueForm(text[text.size() - 2]) == '\\' && endsWithSeparator)) {
    return what + "ends with '\\' although the text did not end with two separators";
  }
  return std::string();
}

std::string checkSelection(const uint8_t* data, size_t size) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      fields.emplace_back();
    } else {
      fields.back().push_back(static_cast<char>(data[i]));
    }
  }
  const std::string selector = fields[0];
  const std::string folder = fields.size() > 1 ? fields[1] : std::string();

  for (const std::string& field : fields) {
    std::string broken = checkNormalizePath(field);
    if (broken.empty()) broken = checkParentPath(field);
    if (!broken.empty()) return broken;
  }

  CatalogueIndex index;
  for (const char* key : kFixedKeys) index.emplace(key, CatalogueEntry{});
  for (size_t i = 2; i < fields.size() && i < 2 + kMaxExtraKeys; ++i) {
    const std::string key = normalizePath(fields[i]);
    if (!key.empty()) index.emplace(key, CatalogueEntry{});
  }

  const std::string s = normalizePath(selector);
  const std::string what = "selector " + show(selector) + " (" + show(s) + "), folder " + show(folder) + ": ";

  std::vector<std::string> visited;
  const size_t count = forEachSelected(index, s, [&](const std::string& key, const CatalogueEntry&) {
    visited.push_back(key);
  });
  if (count != visited.size()) return what + "count " + std::to_string(count) + " but visited " + std::to_string(visited.size());

  // Brute force over the whole index: every key with S as its first bytes,
  // in index order, and their positions must be one unbroken run.
  std::vector<std::string> expected;
  size_t firstPosition = 0;
  size_t lastPosition = 0;
  size_t position = 0;
  for (const auto& item : index) {
    if (!s.empty() && startsWith(item.first, s)) {
      if (expected.empty()) firstPosition = position;
      lastPosition = position;
      expected.push_back(item.first);
    }
    ++position;
  }
  if (!expected.empty() && lastPosition - firstPosition + 1 != expected.size()) {
    return what + "the keys under the selector are not one contiguous run of the index";
  }
  if (visited != expected) {
    std::string list;
    for (const std::string& key : visited) list += " " + show(key);
    std::string want;
    for (const std::string& key : expected) want += " " + show(key);
    return what + "selected {" + list + " } but a full scan finds {" + want + " }";
  }

  const bool folderHasSeparator = !folder.empty() && folder.back() == '\\';
  const std::string folderBase = folderHasSeparator ? folder : folder + "\\";
  for (const std::string& key : visited) {
    const std::string target = buildTargetPath(folder, s, key, LeadBytes());
    const std::string where = what + "key " + show(key) + " -> " + show(target) + ": ";
    // The folder is never dropped or shortened, and a separator follows it.
    if (!startsWith(target, folderBase)) return where + "does not start with the folder and one '\\'";
    // The rest is the key after the selector, less at most one backslash.
    const std::string tail = target.substr(folderBase.size());
    const std::string afterSelector = key.substr(s.size());
    const bool droppedSeparator = afterSelector.size() == tail.size() + 1 && afterSelector[0] == '\\' &&
                                  afterSelector.compare(1, std::string::npos, tail) == 0;
    if (!(afterSelector == tail && (tail.empty() || tail[0] != '\\')) && !droppedSeparator) {
      return where + "the rest is not the key after the selector less one leading '\\'";
    }
    std::string broken = checkParentPath(target);
    if (!broken.empty()) return where + broken;
    // The file's folder lies inside the target folder: never above it.
    const std::string parent = parentPath(target, LeadBytes());
    if (!startsWith(parent, folderBase.substr(0, folderBase.size() - 1))) {
      return where + "its folder " + show(parent) + " lies outside the target folder";
    }
  }
  return std::string();
}

}  // namespace tlfuzz
