// Paths as this computer resolves them: the long spelling of a path, whether
// two paths or a handle and a path name one file, and the system's own
// folders, which no elevated program of this product ever removes or lets a
// chosen folder reach.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/path_forms.h"

namespace win {

// A normalised path with its 8.3 names expanded as far as it exists (the rest
// is kept as given). Never touches a UNC path: that would connect to the server.
std::wstring canonicalPath(const std::wstring& normalized);

// True when the open file and the file path names are the same existing file
// (same volume and file index). The path is opened without access rights, so
// a running image can be compared too.
bool isSameFile(HANDLE file, const std::wstring& path);

// True when both paths name the same existing file, or are the same text.
bool isSameFile(const std::wstring& a, const std::wstring& b);

// The system's folders of this computer, and its own names.
struct SystemFolders {
  // The Windows, system and TEMP folders, Program Files (both views), the
  // Start menus, profiles and the folders that hold them, ProgramData, the
  // public folders and the system drive: normalised, each also canonical
  // where that differs.
  std::vector<std::wstring> folders;
  // The Windows folder, canonical: nothing inside it belongs to a product.
  std::wstring windowsFolder;
  // Names of this computer (NetBIOS, DNS host, DNS full), for
  // "\\<name>\C$\..." forms (normalizePath).
  std::vector<std::wstring> localHosts;
};
SystemFolders systemFolders();

}  // namespace win
