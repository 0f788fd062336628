// A private folder in the temporary folder, for a program that runs elevated.
//
// The temporary folder belongs to the user, also to the part of the user that
// runs without administrator rights. A file an elevated program makes there
// under a name that can be guessed (GetTempFileName counts up from a few hex
// digits) can be replaced by a link, or swapped, between its creation and its
// next use. So such files go into a folder of their own: its name holds 64
// random bits, it is created only if nothing of that name exists
// (CreateDirectory fails on an existing one, so nothing prepared in advance is
// ever used), and its access list is protected: SYSTEM and the administrators
// have full control, the user may only read.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// The access list of a private folder, as SDDL:
// "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;<the user's SID>)",
// protected, so nothing is inherited from the temporary folder.
std::wstring privateAccessList();

// Creates a new folder "<prefix>-<16 random hex digits>" in the temporary
// folder with that access list. Returns it with its closing backslash, or
// empty with *error set.
std::wstring createPrivateFolder(const wchar_t* prefix, DWORD* error);

}  // namespace win
