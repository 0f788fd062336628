#include "platform/path_forms.h"

#include <algorithm>

namespace win {

wchar_t lowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool equalsIgnoreCase(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != L'\0'; ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return i == a.size() && b[i] == L'\0';
}

namespace {

bool isLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Splits at every "\" (and "/" when slashes is set) from position from,
// dropping empty components; false when one is "." or ".." and dots is set.
bool splitLevels(const std::wstring& text, size_t from, bool slashes, bool refuseDots,
                 std::vector<std::wstring>* parts) {
  parts->clear();
  std::wstring current;
  for (size_t i = from; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != L'\\' && !(slashes && text[i] == L'/')) {
      current.push_back(text[i]);
      continue;
    }
    if (refuseDots && (current == L"." || current == L"..")) return false;
    if (!current.empty()) parts->push_back(current);
    current.clear();
  }
  return true;
}

std::vector<std::wstring> components(const std::wstring& text, size_t from) {
  std::vector<std::wstring> parts;
  splitLevels(text, from, false, false, &parts);
  return parts;
}

// Where the components of a normalised path begin (after "C:\" or
// "\\server\share\"); npos for a bare "\\server\share".
size_t componentsStart(const std::wstring& normalized) {
  if (normalized.size() >= 3 && normalized[1] == L':') return 3;
  if (normalized.size() >= 2 && normalized[0] == L'\\' && normalized[1] == L'\\') {
    size_t serverEnd = normalized.find(L'\\', 2);
    if (serverEnd == std::wstring::npos) return std::wstring::npos;
    size_t shareEnd = normalized.find(L'\\', serverEnd + 1);
    return shareEnd == std::wstring::npos ? std::wstring::npos : shareEnd + 1;
  }
  return 0;
}

bool endsInDotOrSpace(const std::wstring& name) {
  return !name.empty() && (name.back() == L'.' || name.back() == L' ');
}

// "\\server\share" of p (a path after its "\\"), the root of a UNC path, or
// this computer's drive for its administrative share; *rest is where the
// components begin. None, or the problem.
PathProblem uncRoot(const std::wstring& p, const std::vector<std::wstring>& localHosts, std::wstring* root,
                    size_t* rest) {
  // "\\server\share": both given, each exactly one component.
  size_t serverEnd = p.find(L'\\', 2);
  if (serverEnd == std::wstring::npos || serverEnd == 2) {
    std::wstring server = p.substr(2, serverEnd == std::wstring::npos ? std::wstring::npos : serverEnd - 2);
    return (server == L"?" || server == L".") ? PathProblem::DevicePath : PathProblem::NotAbsolute;
  }
  std::wstring server = p.substr(2, serverEnd - 2);
  if (server == L"?" || server == L".") return PathProblem::DevicePath;
  size_t shareEnd = p.find(L'\\', serverEnd + 1);
  if (shareEnd == std::wstring::npos) shareEnd = p.size();
  std::wstring share = p.substr(serverEnd + 1, shareEnd - serverEnd - 1);
  if (share.empty()) return PathProblem::NotAbsolute;
  if (server == L".." || share == L"." || share == L"..") return PathProblem::DotComponent;
  bool local = equalsIgnoreCase(server, L"localhost") || server == L"127.0.0.1";
  for (const std::wstring& name : localHosts) local = local || (!name.empty() && equalsIgnoreCase(server, name.c_str()));
  if (local && share.size() == 2 && isLetter(share[0]) && share[1] == L'$') {
    // This computer's administrative share is its drive.
    *root = std::wstring(1, share[0]) + L":\\";
  } else {
    *root = p.substr(0, shareEnd);
  }
  *rest = shareEnd;
  return PathProblem::None;
}

}  // namespace

PathProblem normalizePath(const std::wstring& path, std::wstring* out, const std::vector<std::wstring>& localHosts) {
  out->clear();
  if (path.empty()) return PathProblem::Empty;
  std::wstring p = path;
  std::replace(p.begin(), p.end(), L'/', L'\\');

  // "\\?\" passes a path to the file system unchanged: only its drive and UNC
  // forms are taken, as the plain paths they name, and only when no name ends
  // in a dot or space, which the plain form would drop.
  bool verbatim = false;
  if (p.compare(0, 4, L"\\\\?\\") == 0) {
    if (p.size() >= 7 && isLetter(p[4]) && p[5] == L':' && p[6] == L'\\') {
      p = p.substr(4);
    } else if (p.size() >= 8 && (p.compare(4, 4, L"UNC\\") == 0 || p.compare(4, 4, L"unc\\") == 0)) {
      p = L"\\\\" + p.substr(8);
    } else {
      return PathProblem::DevicePath;
    }
    verbatim = true;
  }

  std::wstring root;
  size_t rest = 0;
  if (p.size() >= 3 && isLetter(p[0]) && p[1] == L':' && p[2] == L'\\') {
    root = p.substr(0, 3);
    rest = 3;
  } else if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') {
    PathProblem problem = uncRoot(p, localHosts, &root, &rest);
    if (problem != PathProblem::None) return problem;
  } else {
    return PathProblem::NotAbsolute;
  }

  std::vector<std::wstring> parts = components(p, rest);
  for (std::wstring& part : parts) {
    if (endsInDotOrSpace(part)) {
      if (verbatim) return PathProblem::DevicePath;
      while (endsInDotOrSpace(part)) part.pop_back();
      if (part.empty()) return PathProblem::DotComponent;
    }
  }
  std::wstring result = root;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!result.empty() && result.back() != L'\\') result.push_back(L'\\');
    result += parts[i];
  }
  *out = result;
  return PathProblem::None;
}

size_t pathDepth(const std::wstring& normalized) {
  size_t from = componentsStart(normalized);
  if (from == std::wstring::npos) return 0;
  return components(normalized, from).size();
}

std::wstring parentPath(const std::wstring& normalized) {
  size_t from = componentsStart(normalized);
  if (from == std::wstring::npos || from >= normalized.size()) return normalized;
  size_t last = normalized.rfind(L'\\');
  if (last == std::wstring::npos || last + 1 <= from) return normalized.substr(0, from == 3 ? 3 : from - 1);
  return normalized.substr(0, last);
}

std::wstring leafName(const std::wstring& normalized) {
  if (pathDepth(normalized) == 0) return std::wstring();
  return normalized.substr(normalized.rfind(L'\\') + 1);
}

bool isUncPath(const std::wstring& normalized) {
  return normalized.size() >= 2 && normalized[0] == L'\\' && normalized[1] == L'\\';
}

bool samePath(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

bool isSameOrInside(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.size() < folder.size()) return false;
  if (!samePath(path.substr(0, folder.size()), folder)) return false;
  if (path.size() == folder.size()) return true;
  // A root ("C:\") already ends with the separator.
  return folder.back() == L'\\' || path[folder.size()] == L'\\';
}

std::wstring toSystemPath(const std::wstring& normalized) {
  if (normalized.empty()) return std::wstring();
  if (isUncPath(normalized)) return L"\\\\?\\UNC\\" + normalized.substr(2);
  return L"\\\\?\\" + normalized;
}

std::wstring plainForm(const std::wstring& path) {
  std::wstring p = path;
  if (p.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    p = L"\\\\" + p.substr(8);
  } else if (p.compare(0, 4, L"\\\\?\\") == 0) {
    p = p.substr(4);
  }
  std::wstring out;
  // Names from the file system can end in a dot only through "\\?\" forms;
  // keep them as they are rather than dropping the dot.
  if (normalizePath(p, &out) != PathProblem::None) return p;
  return out;
}

bool splitPath(const std::wstring& path, std::wstring* root, std::vector<std::wstring>* levels) {
  std::wstring p = path;
  std::replace(p.begin(), p.end(), L'/', L'\\');
  size_t rest = 0;
  if (p.compare(0, 4, L"\\\\?\\") == 0) p = p.compare(4, 4, L"UNC\\") == 0 ? L"\\\\" + p.substr(8) : p.substr(4);
  if (p.size() >= 3 && p[1] == L':' && p[2] == L'\\' && isLetter(p[0])) {
    *root = L"\\\\?\\" + p.substr(0, 3);
    rest = 3;
  } else if (p.size() > 2 && p[0] == L'\\' && p[1] == L'\\') {
    size_t server = p.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2) return false;
    size_t share = p.find(L'\\', server + 1);
    if (share == server + 1) return false;
    if (share == std::wstring::npos) share = p.size();
    *root = L"\\\\?\\UNC\\" + p.substr(2, share - 2) + L"\\";
    rest = share;
  } else {
    return false;
  }
  return splitLevels(p, rest, false, true, levels);
}

bool splitRelative(const std::wstring& relative, std::vector<std::wstring>* levels) {
  return splitLevels(relative, 0, true, true, levels);
}

}  // namespace win
