// The programs-folder lookup of the Start menu shortcuts, replaceable by
// tests: under Wine the all-users folder always exists, so the fall-back to
// the current user's folder, and folders of awkward length, can only be
// reached by answering the lookup differently. Nothing else is replaceable.
#pragma once

#include <windows.h>

// Same contract as SHGetFolderPathA: fills a MAX_PATH buffer, S_OK on success.
using ProgramsFolderLookup = HRESULT(WINAPI*)(HWND owner, int csidl, HANDLE token, DWORD flags, LPSTR path);

// Makes createStartMenuShortcuts ask lookup instead of SHGetFolderPathA
// (nullptr restores SHGetFolderPathA). Returns the lookup in use before.
ProgramsFolderLookup setProgramsFolderLookup(ProgramsFolderLookup lookup);
