// Where the installer takes its libraries from. setup.exe is typically started
// from a downloads folder that anyone may have left a DLL in, and it runs with
// the rights to write HKEY_LOCAL_MACHINE: a library loaded by name from its own
// folder or the current folder would run someone else's code with those
// rights. So:
//  - the entry routine calls hardenDllSearch before anything can load a
//    library, which limits every later load by name to the system folder;
//  - libraries that are not Known DLLs (Windows maps those from the system
//    folder whatever the search order) are not imported statically, because
//    the loader resolves static imports before the entry routine runs, and
//    static imports are searched for in the program's folder first. They are
//    loaded from the system folder by full path instead (SystemLibrary), and
//    the three version.dll functions the extractor uses are supplied here as
//    forwarders (see system_version.cpp), so setup.exe imports no version.dll.
#pragma once

#include <windows.h>

#include <string>

enum class DllSearchHardening {
  // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): loads by name look
  // in the system folder only (Windows 8 and later, Windows 7 and Vista with
  // KB2533623).
  SystemFolderOnly = 0,
  // Older systems: SetDllDirectoryA("") takes the current folder out of the
  // search order. The program's own folder is still searched there; nothing
  // the installer loads after this is loaded by a bare name except through the
  // system's own components.
  CurrentFolderRemoved = 1,
  // Neither call exists or both failed: the search order is the system's
  // default. lastError (if given) holds the error of the last call tried.
  Unchanged = 2,
};

// The one platform call that tests replace: it decides which of the two
// kernel32 functions this system "has". Production uses GetProcAddress.
using ProcLookup = FARPROC(WINAPI*)(HMODULE, LPCSTR);

// Narrows the DLL search order for the whole process, choosing the strongest
// means this system has. Both functions are found at run time through lookup,
// so setup.exe still starts on systems that lack them. *lastError (optional)
// receives 0 on SystemFolderOnly, else the error of the last call that failed
// (ERROR_PROC_NOT_FOUND when a function was missing). Idempotent.
DllSearchHardening hardenDllSearch(ProcLookup lookup = ::GetProcAddress, DWORD* lastError = nullptr);

// Full path of a file in the system folder ("" when the folder cannot be
// read or the path would not fit MAX_PATH).
std::string systemFolderPath(const char* fileName);

// A system library loaded by full path from the system folder, never from the
// program's or the current folder, and freed when the object ends.
// Non-copyable; get() is null when the load failed (error() says why).
class SystemLibrary {
 public:
  explicit SystemLibrary(const char* fileName);
  ~SystemLibrary();
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  HMODULE get() const { return module_; }
  DWORD error() const { return error_; }
  // The named export cast to the caller's function type; null when the library
  // did not load or lacks it.
  template <typename Fn>
  Fn function(const char* name) const {
    if (module_ == nullptr) return nullptr;
    // Through void*: FARPROC and Fn are unrelated function types.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_ = nullptr;
  DWORD error_ = 0;
};
