#include "platform/dll_search.h"

#include "platform/ansi_code_page.h"

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryAFn = BOOL(WINAPI*)(LPCSTR);

template <typename Fn>
Fn lookUp(ProcLookup lookup, HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(lookup(module, name)));
}

}  // namespace

DllSearchHardening hardenDllSearch(ProcLookup lookup, DWORD* lastError) {
  DWORD error = ERROR_PROC_NOT_FOUND;
  // kernel32 is mapped into every process before any code of ours runs.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) {
    error = GetLastError();
  } else {
    auto setDefault = lookUp<SetDefaultDllDirectoriesFn>(lookup, kernel, "SetDefaultDllDirectories");
    if (setDefault != nullptr) {
      if (setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        if (lastError != nullptr) *lastError = 0;
        return DllSearchHardening::SystemFolderOnly;
      }
      error = GetLastError();
    }
    // Windows XP SP1 and later have it; resolved at run time all the same, so
    // the program starts even where it is missing.
    auto setDllDirectory = lookUp<SetDllDirectoryAFn>(lookup, kernel, "SetDllDirectoryA");
    if (setDllDirectory != nullptr) {
      if (setDllDirectory("")) {
        if (lastError != nullptr) *lastError = 0;
        return DllSearchHardening::CurrentFolderRemoved;
      }
      error = GetLastError();
    } else {
      error = ERROR_PROC_NOT_FOUND;
    }
  }
  if (lastError != nullptr) *lastError = error;
  return DllSearchHardening::Unchanged;
}

std::string systemFolderPath(const char* fileName) {
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string path(folder, length);
  if (!lastCharIsBackslash(path, ansiLeadBytes())) path.push_back('\\');
  path += fileName;
  if (path.size() >= MAX_PATH) return std::string();
  return path;
}

SystemLibrary::SystemLibrary(const char* fileName) {
  const std::string path = systemFolderPath(fileName);
  if (path.empty()) {
    error_ = GetLastError() != 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    return;
  }
  // A full path is never searched for; with the altered search path the
  // library's own dependencies are looked for beside it, in the system folder.
  module_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module_ == nullptr) error_ = GetLastError();
}

SystemLibrary::~SystemLibrary() {
  if (module_ != nullptr) FreeLibrary(module_);
}
