// The forms of a full Windows path, as text alone: the one normalised form
// every comparison uses, the "\\?\" form the file calls take, and the split
// into a root and its levels that a walk from folder to folder follows. Pure:
// no <windows.h>, so the host build tests it too. What needs the file system
// (8.3 names, file identity, the system's folders) is in local_paths.h.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace win {

// Why a path is not taken.
enum class PathProblem {
  None = 0,
  Empty = 1,
  NotAbsolute = 2,   // relative or drive-relative: it would depend on the current folder
  DotComponent = 3,  // ".", ".." or a name of dots and spaces only: could leave the folder it names
  DevicePath = 4,    // "\\.\...", a "\\?\" form other than a drive or UNC path, or one whose
                     // names end in a dot or space (which the plain form would drop)
};

// Brings a file or folder path into the one form every comparison uses:
// backslashes only, no empty components, no closing backslash except on a
// root ("C:\"), trailing dots and spaces of each name dropped (as Windows
// drops them), "\\?\C:\..." and "\\?\UNC\srv\share" as their plain forms, and
// an administrative share of this computer ("\\localhost\C$\...",
// "\\127.0.0.1\c$", or a name in localHosts) as the drive itself. Accepts
// "X:\..." and "\\server\share\...". On success returns None and *out holds
// the path; on failure returns the problem and leaves *out empty. 8.3 names
// need the file system (canonicalPath, local_paths.h).
PathProblem normalizePath(const std::wstring& path, std::wstring* out,
                          const std::vector<std::wstring>& localHosts = std::vector<std::wstring>());

// ASCII letters folded to lower case, everything else as it is; and two
// texts equal in that fold (names the system spells in ASCII: roots, keys).
wchar_t lowerAscii(wchar_t c);
bool equalsIgnoreCase(const std::wstring& a, const wchar_t* b);

// Number of components below the root of a normalised path ("C:\" -> 0,
// "C:\a\b" -> 2, "\\srv\share\a" -> 1).
size_t pathDepth(const std::wstring& normalized);

// The folder that holds a normalised path; the root itself for a root.
std::wstring parentPath(const std::wstring& normalized);

// The last name of a normalised path ("C:\a\b.dll" -> "b.dll"); empty for a root.
std::wstring leafName(const std::wstring& normalized);

// True for "\\server\share..." (after normalizePath).
bool isUncPath(const std::wstring& normalized);

// True when path is folder itself or lies below it; both normalised, compared
// as samePath does, whole components only ("C:\ab" is not inside "C:\a").
bool isSameOrInside(const std::wstring& path, const std::wstring& folder);

// Case-insensitive (ASCII letters) equality of two normalised paths. Other
// characters compare exactly; canonicalPath gives two spellings of one
// existing path the same text first.
bool samePath(const std::wstring& a, const std::wstring& b);

// The wide path the file calls take for a normalised path: with the "\\?\"
// (or "\\?\UNC\") prefix, so that no limit of length applies and no name is
// reinterpreted.
std::wstring toSystemPath(const std::wstring& normalized);

// "\\?\C:\x" -> "C:\x", "\\?\UNC\s\x" -> "\\s\x", then normalised; a name
// that ends in a dot, which only a "\\?\" form can hold, is kept as it is
// (the text comes back without normalising).
std::wstring plainForm(const std::wstring& path);

// Splits a full path (plain or "\\?\", "/" taken as "\") into its root in
// "\\?\" form ("\\?\C:\", "\\?\UNC\server\share\") and its levels, empty
// components dropped. False for a path that is not full or holds "." or "..".
bool splitPath(const std::wstring& path, std::wstring* root, std::vector<std::wstring>* levels);

// The levels of a relative path ("\" and "/" separate, empty components
// dropped). False when one is "." or "..".
bool splitRelative(const std::wstring& relative, std::vector<std::wstring>* levels);

}  // namespace win
