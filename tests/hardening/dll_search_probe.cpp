// Runs the search-order hardening in a process of its own (it cannot be undone
// inside a test process), then loads libraries by bare name and prints, one
// line each, "<name> <full path>" or "<name> -". The mode comes first:
//   none       the system's default search order
//   harden     hardenDllSearch() as the entry routine calls it
//   fallback   hardenDllSearch() on a system without SetDefaultDllDirectories
//   system     no hardening; each library through SystemLibrary (full path)
// The first line is "mode <DllSearchHardening value>" (-1 for none).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/dll_search.h"

namespace {

FARPROC WINAPI withoutSetDefaultDllDirectories(HMODULE module, LPCSTR name) {
  if (std::strcmp(name, "SetDefaultDllDirectories") == 0) return nullptr;
  return GetProcAddress(module, name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  int mode = -1;
  if (std::strcmp(argv[1], "harden") == 0) {
    mode = static_cast<int>(hardenDllSearch());
  } else if (std::strcmp(argv[1], "fallback") == 0) {
    mode = static_cast<int>(hardenDllSearch(withoutSetDefaultDllDirectories));
  } else if (std::strcmp(argv[1], "none") != 0 && std::strcmp(argv[1], "system") != 0) {
    return 2;
  }
  const bool bySystemLibrary = std::strcmp(argv[1], "system") == 0;
  std::printf("mode %d\n", mode);
  for (int i = 2; i < argc; ++i) {
    // Kept loaded until the process ends, like the libraries it stands for.
    HMODULE module = bySystemLibrary ? (new SystemLibrary(argv[i]))->get() : LoadLibraryA(argv[i]);
    char path[MAX_PATH] = "-";
    if (module != nullptr && GetModuleFileNameA(module, path, MAX_PATH) == 0) std::snprintf(path, sizeof path, "?");
    std::printf("%s %s\n", argv[i], path);
  }
  std::fflush(stdout);
  return 0;
}
