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

  std::string path;
  if (normalizePath(text, &path) == PathProblem::None) {
    std::string again;
    if (normalizePath(path, &again) != PathProblem::None || again != path) abort();
    if (path.find("\\.\\") != std::string::npos || path.find("\\..\\") != std::string::npos) abort();
    if (path.find("\\\\", 1) != std::string::npos) abort();
    if (!isSameOrInside(path, path)) abort();
    (void)pathDepth(path);
  }

  RegistryPath key;
  if (parseRegistryPath(text, &key) == RegistryPathProblem::None) {
    const std::string& k = key.subkey;
    if (k.empty() || k.front() == '\\' || k.back() == '\\' || k.find("\\\\") != std::string::npos) abort();
  }

  std::vector<std::string> back = splitArguments(quoteArgument(text));
  if (back.size() != 1 || back[0] != text) abort();

  CommandLine args;
  std::string offending;
  if (parseCommandLine(text, "C:\\Program Files\\TowerLink\\tluninstall.exe", &args, &offending) ==
      CommandLineProblem::None) {
    if (args.recordName.empty() || args.recordName.find('\\') != std::string::npos) abort();
  }
  return 0;
}
