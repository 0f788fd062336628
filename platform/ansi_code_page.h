// The ANSI code page of the running system, for walking the characters of
// paths (Windows build only; the logic itself is pure, in platform/ansi_chars.h).
#pragma once

#include <string>

#include "platform/ansi_chars.h"

// The lead bytes of the ANSI code page (GetCPInfo(CP_ACP)), read once per
// process; none when the code page is single-byte or cannot be read.
const LeadBytes& ansiLeadBytes();

// addTrailingBackslash with the lead bytes of the ANSI code page.
void addTrailingBackslash(std::string& path);
