// The SimConnect package that msiexec runs with the wizard's elevated token:
// opened so that nobody can write, rename or delete it, and made to hold the
// payload's bytes before msiexec starts. The product folder may be one that
// standard users can write (outside Program Files); without this a package
// swapped in after the installation would run its custom actions as SYSTEM.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"

// The package's catalogue name in the payload.
constexpr const char* kSimConnectPackageName = "/tl/tl/simconnect.msi";

struct PackageCheck {
  bool rewritten = false;  // the bytes on disk differed (or the name was a link) and were put back
  DWORD error = 0;         // the Windows error when the check failed
};

// Opens path for reading with read sharing only (no write, no delete
// sharing, not through a link) and compares its bytes with the payload's
// package of module. Its folder is held meanwhile and the file opened by its
// name in it. A file that differs, a name that is a link or has a second name,
// or a missing one is replaced by a new file with the payload's bytes
// (created with security, which may be null, and renamed over the name). The
// file is then opened and compared again, and only a file that matched while
// held is handed over. True with *held open (keep it until msiexec ends);
// false with report->error when the payload has no package or the file cannot
// be made to match.
bool holdPayloadPackage(HMODULE module, const std::string& path, SECURITY_ATTRIBUTES* security,
                        win::FileHandle* held, PackageCheck* report);
