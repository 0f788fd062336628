// The command that runs SimConnect's installer package. Pure: no <windows.h>.
#pragma once

#include <cstddef>
#include <string>

#include "platform/ansi_chars.h"

// The package's file name in the product folder.
constexpr const char* kSimConnectPackage = "simconnect.msi";

// Full path of msiexec in the system folder: systemDir, a backslash unless its
// last character is one (as leadBytes tells characters), "msiexec.exe". Empty when systemDir is empty, so that a
// missing system folder never turns into a bare name that the search path
// (which starts with the installer's own folder) would resolve.
std::string msiexecPath(const std::string& systemDir, const LeadBytes& leadBytes);

// Writes `msiexec /i "<productDir>simconnect.msi"` with its terminating zero
// into buffer (productDir ends with a backslash). Returns false, with buffer
// holding an empty text (when size > 0), if the command and its zero do not
// fit in size characters; the text is never cut.
bool buildSimConnectCommandLine(const std::string& productDir, char* buffer, std::size_t size);
