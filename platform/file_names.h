// File names between the ANSI code page and UTF-16, and the name the system
// gives an open handle.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// ANSI text (the code page's characters) in UTF-16, and back; empty when the
// text cannot be converted.
std::wstring widen(const std::string& ansi);
std::string narrow(const std::wstring& wide);

// The normalised path of the file or folder behind h with its drive letter
// (GetFinalPathNameByHandleW, "\\?\C:\..." or "\\?\UNC\..."), of any length;
// empty where the system lacks the function (XP) or cannot say.
std::wstring finalPathByHandle(HANDLE h);

}  // namespace win
