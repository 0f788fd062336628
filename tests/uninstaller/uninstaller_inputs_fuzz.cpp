// Fuzzes what the uninstaller reads from outside: recorded paths and keys and
// its command line. Besides crashes, it checks the properties the removal code
// relies on: a normalised path is stable and never holds "." or "..", a parsed
// key has no empty component, and quoting an argument splits back to it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/uninstaller/command_line.h"
#include "tools/uninstaller/removal_plan.h"

using namespace uninst;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('\0') != std::string::npos) return 0;  // registry texts end at a zero

  // Each byte as one UTF-16 unit (Latin-1), enough to reach every branch.
  std::wstring wide;
  for (unsigned char c : text) wide.push_back(static_cast<wchar_t>(c));
  std::wstring path;
  if (normalizePath(wide, &path) == PathProblem::None) {
    std::wstring again;
    if (normalizePath(path, &again) != PathProblem::None || again != path) abort();
    if (path.find(L"\\.\\") != std::wstring::npos || path.find(L"\\..\\") != std::wstring::npos) abort();
    if (path.find(L"\\\\", 1) != std::wstring::npos) abort();
    if (!isSameOrInside(path, path)) abort();
    std::wstring parent = parentPath(path);
    if (!isSameOrInside(path, parent)) abort();
    if (pathDepth(path) > 0 && pathDepth(parent) + 1 != pathDepth(path)) abort();
  }

  RegistryPath key;
  if (parseRegistryPath(wide, &key) == RegistryPathProblem::None) {
    const std::wstring& k = key.subkey;
    if (k.empty() || k.front() == L'\\' || k.back() == L'\\' || k.find(L"\\\\") != std::wstring::npos) abort();
  }

  static const uint8_t ranges932[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};
  static const LeadBytes cp932 = LeadBytes::fromRanges(ranges932, sizeof(ranges932));
  // Under code page 932 for text the code page can hold: every lead byte has
  // a second byte (one below 0x40 never is), as text converted from UTF-16 has.
  bool wellFormed932 = true;
  for (size_t i = 0; i < text.size() && wellFormed932; ++i) {
    if (!cp932.isLead(static_cast<unsigned char>(text[i]))) continue;
    wellFormed932 = i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x40;
    ++i;
  }
  const LeadBytes singleByte;
  for (const LeadBytes* l : {&singleByte, wellFormed932 ? &cp932 : &singleByte}) {
    std::vector<std::string> back = splitArguments(quoteArgument(text, *l), *l);
    if (back.size() != 1 || back[0] != text) abort();
  }

  CommandLine args;
  std::string offending;
  if (parseCommandLine(text, "C:\\Program Files\\TowerLink\\tluninstall.exe", &args, &offending) ==
      CommandLineProblem::None) {
    if (args.recordName.empty() || args.recordName.find('\\') != std::string::npos) abort();
  }
  return 0;
}
