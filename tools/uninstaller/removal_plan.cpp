#include "tools/uninstaller/removal_plan.h"

#include <algorithm>

namespace uninst {

namespace {

wchar_t lowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool equalsIgnoreCase(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != L'\0'; ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return i == a.size() && b[i] == L'\0';
}

bool isLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Splits on sep, dropping empty components (doubled or closing separators).
std::vector<std::wstring> splitComponents(const std::wstring& text, size_t from, wchar_t sep) {
  std::vector<std::wstring> parts;
  std::wstring current;
  for (size_t i = from; i < text.size(); ++i) {
    if (text[i] == sep) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current.push_back(text[i]);
    }
  }
  if (!current.empty()) parts.push_back(current);
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

}  // namespace

EventKind eventKindFromTag(const std::string& tag) {
  if (tag == record::kTagDeleteFile) return EventKind::DeleteFile;
  if (tag == record::kTagDeleteEmptyDirs) return EventKind::DeleteEmptyDirs;
  if (tag == record::kTagDeleteRegTree) return EventKind::DeleteRegTree;
  return EventKind::Unknown;
}

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
      root = std::wstring(1, share[0]) + L":\\";
    } else {
      root = p.substr(0, shareEnd);
    }
    rest = shareEnd;
  } else {
    return PathProblem::NotAbsolute;
  }

  std::vector<std::wstring> parts = splitComponents(p, rest, L'\\');
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
  return splitComponents(normalized, from, L'\\').size();
}

std::wstring parentPath(const std::wstring& normalized) {
  size_t from = componentsStart(normalized);
  if (from == std::wstring::npos || from >= normalized.size()) return normalized;
  size_t last = normalized.rfind(L'\\');
  if (last == std::wstring::npos || last + 1 <= from) return normalized.substr(0, from == 3 ? 3 : from - 1);
  return normalized.substr(0, last);
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

std::vector<std::wstring> recordFolders(const std::vector<std::wstring>& deleteEmptyDirsFolders) {
  std::vector<std::wstring> folders;
  auto add = [&folders](const std::wstring& f) {
    for (const std::wstring& have : folders) {
      if (samePath(have, f)) return;
    }
    folders.push_back(f);
  };
  for (const std::wstring& f : deleteEmptyDirsFolders) {
    add(f);
    if (pathDepth(f) < 2) continue;  // "<simulator>\aircraft\<set>"
    std::wstring aircraft = parentPath(f);
    size_t slash = aircraft.rfind(L'\\');
    if (slash == std::wstring::npos || !equalsIgnoreCase(aircraft.substr(slash + 1), L"aircraft")) continue;
    add(parentPath(aircraft) + L"\\modules");
  }
  return folders;
}

std::vector<std::wstring> foldersToTry(const std::wstring& top, const std::vector<std::wstring>& heldFiles) {
  std::vector<std::wstring> folders;
  for (const std::wstring& held : heldFiles) {
    for (std::wstring f = held; isSameOrInside(f, top) && !samePath(f, top); f = parentPath(f)) {
      bool known = false;
      for (const std::wstring& have : folders) known = known || samePath(have, f);
      if (known) break;  // and so are the folders above it
      folders.push_back(f);
    }
  }
  std::stable_sort(folders.begin(), folders.end(),
                   [](const std::wstring& a, const std::wstring& b) { return pathDepth(a) > pathDepth(b); });
  folders.push_back(top);
  return folders;
}

std::wstring productFolderOf(const std::wstring& uninstallString, const std::wstring& recordName) {
  std::wstring text = uninstallString;
  if (!text.empty() && text[0] == L'"') {
    // "<folder>tluninstall.exe" <record name>: the quotes go, the rest must
    // read as the unquoted form does.
    const size_t close = text.find(L'"', 1);
    if (close == std::wstring::npos || text.compare(close + 1, std::wstring::npos, L" " + recordName) != 0) {
      return std::wstring();
    }
    text = text.substr(1, close - 1) + L" " + recordName;
  }
  const std::wstring tail = L"tluninstall.exe " + recordName;
  if (text.size() <= tail.size()) return std::wstring();
  size_t at = text.size() - tail.size();
  if (!samePath(text.substr(at), tail) || text[at - 1] != L'\\') return std::wstring();
  return text.substr(0, at);
}

const wchar_t kVendorKey[] = L"Software\\Brightfold Labs";

RegistryPathProblem parseRegistryPath(const std::wstring& text, RegistryPath* out) {
  size_t sep = text.find(L'\\');
  std::wstring rootName = text.substr(0, sep);
  RegistryRoot root;
  if (equalsIgnoreCase(rootName, L"HKEY_LOCAL_MACHINE") || equalsIgnoreCase(rootName, L"HKLM")) {
    root = RegistryRoot::LocalMachine;
  } else if (equalsIgnoreCase(rootName, L"HKEY_CURRENT_USER") || equalsIgnoreCase(rootName, L"HKCU")) {
    root = RegistryRoot::CurrentUser;
  } else if (equalsIgnoreCase(rootName, L"HKEY_CLASSES_ROOT") || equalsIgnoreCase(rootName, L"HKCR")) {
    root = RegistryRoot::ClassesRoot;
  } else if (equalsIgnoreCase(rootName, L"HKEY_USERS") || equalsIgnoreCase(rootName, L"HKU")) {
    root = RegistryRoot::Users;
  } else {
    return RegistryPathProblem::UnknownRoot;
  }
  // Forward slashes are ordinary characters in key names, so only backslashes
  // separate components here.
  std::vector<std::wstring> parts =
      (sep == std::wstring::npos) ? std::vector<std::wstring>() : splitComponents(text, sep + 1, L'\\');
  if (parts.empty()) return RegistryPathProblem::NoSubkey;
  // Classes and other accounts' hives hold nothing of the installer's; below
  // Software\Brightfold Labs lie the keys of each of the vendor's products.
  if (root != RegistryRoot::LocalMachine && root != RegistryRoot::CurrentUser) return RegistryPathProblem::Protected;
  if (parts.size() < 3 || !equalsIgnoreCase(parts[0], L"Software") || !equalsIgnoreCase(parts[1], L"Brightfold Labs")) {
    return RegistryPathProblem::Protected;
  }
  std::wstring subkey;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) subkey.push_back(L'\\');
    subkey += parts[i];
  }
  out->root = root;
  out->subkey = subkey;
  return RegistryPathProblem::None;
}

std::vector<size_t> removalOrder(const std::vector<PlannedEvent>& events) {
  std::vector<size_t> files, folders, keys;
  for (size_t i = events.size(); i-- > 0;) {
    switch (events[i].kind) {
      case EventKind::DeleteFile: files.push_back(i); break;
      case EventKind::DeleteEmptyDirs: folders.push_back(i); break;
      case EventKind::DeleteRegTree: keys.push_back(i); break;
      case EventKind::Unknown: break;
    }
  }
  // Stable: equal depths keep the last-recorded-first order built above.
  std::stable_sort(folders.begin(), folders.end(),
                   [&events](size_t a, size_t b) { return events[a].depth > events[b].depth; });
  std::vector<size_t> order;
  order.reserve(files.size() + folders.size() + keys.size());
  order.insert(order.end(), files.begin(), files.end());
  order.insert(order.end(), folders.begin(), folders.end());
  order.insert(order.end(), keys.begin(), keys.end());
  return order;
}

std::string formatItemList(const std::vector<std::string>& items, size_t limit) {
  std::string text;
  size_t shown = std::min(items.size(), limit);
  for (size_t i = 0; i < shown; ++i) {
    text += "- ";
    text += items[i];
    text += "\n";
  }
  if (items.size() > shown) {
    text += "...and " + std::to_string(items.size() - shown) + " more\n";
  }
  return text;
}

}  // namespace uninst
