#include "platform/ansi_code_page.h"

#include <windows.h>

const LeadBytes& ansiLeadBytes() {
  // The code page of a process does not change while it runs.
  static const LeadBytes table = [] {
    CPINFO info = {};
    if (!GetCPInfo(CP_ACP, &info)) return LeadBytes();
    return LeadBytes::fromRanges(info.LeadByte, sizeof(info.LeadByte));
  }();
  return table;
}

void addTrailingBackslash(std::string& path) { addTrailingBackslash(path, ansiLeadBytes()); }
