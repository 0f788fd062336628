// Feeds arbitrary files to the add-on editor. Beyond surviving them under the
// sanitizers, every result must hold CR LF lines only, keep the line count
// when nothing was rewritten or added, name the module after an insertion,
// and come back unchanged from the same registration.
//
// Input: the first byte picks the module; the text up to the first line feed
// (at most 80 bytes) is the product folder; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/addon_edit.h"

namespace {

size_t countLines(const std::string& bytes) {
  size_t n = 0;
  for (char c : bytes) n += c == '\n';
  return n;
}

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kModules[] = {"tltrans10.dll", "tlaicontrol10.dll", "tlmod10.dll"};
  if (size == 0) return 0;
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t lf = input.find('\n');
  if (lf == std::string::npos || lf > 80) lf = 0;
  AddonEntry entry;
  entry.moduleFile = kModules[data[0] % 3];
  entry.name = "TowerLink Transponder";
  entry.path = input.substr(0, lf) + entry.moduleFile;
  const std::string file = lf ? input.substr(lf + 1) : input;

  AddonEdit edit = editAddonFile(file, entry);
  const std::string& out = edit.bytes;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\n') check(i > 0 && out[i - 1] == '\r');
  }
  check(out.empty() || out.back() == '\n');
  if (!edit.inserted && edit.blocksRewritten == 0) {
    // Every line read is written once: the count changes only by a missing last break.
    size_t in = countLines(file);
    bool unterminated = !file.empty() && file.back() != '\n';
    check(countLines(out) == in + (unterminated ? 1 : 0));
  }
  if (edit.inserted) check(out.find(escapeXml(entry.path)) != std::string::npos);

  AddonEdit again = editAddonFile(out, entry);
  check(again.bytes == out);
  check(!again.inserted);
  return 0;
}
