// The three version.dll functions the extractor uses, supplied here instead of
// through an import of version.dll: version.dll is not a Known DLL, so a static
// import would be searched for in setup.exe's own folder before the entry
// routine could narrow the search (see dll_search.h). Each forwards to the
// system folder's version.dll, loaded by full path on first use and kept until
// the process ends. Linking this library in place of -lversion is all a module
// needs; its calls stay the documented Win32 ones.
//
// When the system copy cannot be loaded the functions fail the way the real
// ones do for a file without version information (0 / FALSE, last error set).
#include <windows.h>

#include "platform/dll_search.h"

namespace {

// Created on the first call from whichever thread makes it (the worker);
// C++ function statics are initialised once even under concurrent calls.
const SystemLibrary& versionLibrary() {
  static const SystemLibrary library("version.dll");
  return library;
}

template <typename Fn>
Fn versionFunction(const char* name) {
  Fn function = versionLibrary().function<Fn>(name);
  if (function == nullptr) {
    const DWORD error = versionLibrary().error();
    SetLastError(error != 0 ? error : ERROR_PROC_NOT_FOUND);
  }
  return function;
}

}  // namespace

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
  using Fn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  Fn real = versionFunction<Fn>("GetFileVersionInfoSizeA");
  return real != nullptr ? real(fileName, handle) : 0;
}

WINBOOL WINAPI GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD length, LPVOID data) {
  using Fn = WINBOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  Fn real = versionFunction<Fn>("GetFileVersionInfoA");
  return real != nullptr ? real(fileName, handle, length, data) : FALSE;
}

WINBOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
  using Fn = WINBOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  Fn real = versionFunction<Fn>("VerQueryValueA");
  return real != nullptr ? real(block, subBlock, buffer, length) : FALSE;
}

}  // extern "C"
