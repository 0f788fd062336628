#include "tools/uninstaller/removal_plan.h"

#include <algorithm>

namespace uninst {

const char kValueDisplayName[] = "DisplayName";
const char kValueEventCount[] = "PorterEvents";
const char kValueTagPrefix[] = "PorterTag";
const char kValueParamsPrefix[] = "PorterParams";
const char kValueDescPrefix[] = "PorterDesc";
const char kUninstallKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoreCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// Splits on sep, dropping empty components (doubled or closing separators).
std::vector<std::string> splitComponents(const std::string& text, size_t from, char sep) {
  std::vector<std::string> parts;
  std::string current;
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

}  // namespace

std::string eventValueName(const char* prefix, uint32_t index) {
  return std::string(prefix) + std::to_string(index);
}

EventKind eventKindFromTag(const std::string& tag) {
  if (tag == "DeleteFile") return EventKind::DeleteFile;
  if (tag == "DeleteEmptyDirs") return EventKind::DeleteEmptyDirs;
  if (tag == "DeleteRegTree") return EventKind::DeleteRegTree;
  return EventKind::Unknown;
}

PathProblem normalizePath(const std::string& path, std::string* out) {
  out->clear();
  if (path.empty()) return PathProblem::Empty;
  std::string p = path;
  std::replace(p.begin(), p.end(), '/', '\\');

  std::string root;
  size_t rest = 0;
  if (p.size() >= 3 && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':' &&
      p[2] == '\\') {
    root = p.substr(0, 3);
    rest = 3;
  } else if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    // "\\server\share": both given, each exactly one component.
    size_t serverEnd = p.find('\\', 2);
    if (serverEnd == std::string::npos || serverEnd == 2) {
      std::string server = p.substr(2, serverEnd == std::string::npos ? std::string::npos : serverEnd - 2);
      return (server == "?" || server == ".") ? PathProblem::DevicePath : PathProblem::NotAbsolute;
    }
    std::string server = p.substr(2, serverEnd - 2);
    if (server == "?" || server == ".") return PathProblem::DevicePath;
    size_t shareEnd = p.find('\\', serverEnd + 1);
    if (shareEnd == std::string::npos) shareEnd = p.size();
    std::string share = p.substr(serverEnd + 1, shareEnd - serverEnd - 1);
    if (share.empty()) return PathProblem::NotAbsolute;
    if (server == ".." || share == "." || share == "..") return PathProblem::DotComponent;
    root = p.substr(0, shareEnd);
    rest = shareEnd;
  } else {
    return PathProblem::NotAbsolute;
  }

  std::vector<std::string> parts = splitComponents(p, rest, '\\');
  for (const std::string& part : parts) {
    if (part == "." || part == "..") return PathProblem::DotComponent;
  }
  std::string result = root;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!result.empty() && result.back() != '\\') result.push_back('\\');
    result += parts[i];
  }
  *out = result;
  return PathProblem::None;
}

size_t pathDepth(const std::string& normalized) {
  size_t from = 0;
  if (normalized.size() >= 3 && normalized[1] == ':') {
    from = 3;
  } else if (normalized.size() >= 2 && normalized[0] == '\\' && normalized[1] == '\\') {
    // Skip "\\server\share".
    size_t serverEnd = normalized.find('\\', 2);
    if (serverEnd == std::string::npos) return 0;
    size_t shareEnd = normalized.find('\\', serverEnd + 1);
    if (shareEnd == std::string::npos) return 0;
    from = shareEnd + 1;
  }
  return splitComponents(normalized, from, '\\').size();
}

bool samePath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

bool isSameOrInside(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.size() < folder.size()) return false;
  if (!samePath(path.substr(0, folder.size()), folder)) return false;
  if (path.size() == folder.size()) return true;
  // A root ("C:\") already ends with the separator.
  return folder.back() == '\\' || path[folder.size()] == '\\';
}

RegistryPathProblem parseRegistryPath(const std::string& text, RegistryPath* out) {
  size_t sep = text.find('\\');
  std::string rootName = text.substr(0, sep);
  RegistryRoot root;
  size_t minDepth = 2;
  if (equalsIgnoreCase(rootName, "HKEY_LOCAL_MACHINE") || equalsIgnoreCase(rootName, "HKLM")) {
    root = RegistryRoot::LocalMachine;
  } else if (equalsIgnoreCase(rootName, "HKEY_CURRENT_USER") || equalsIgnoreCase(rootName, "HKCU")) {
    root = RegistryRoot::CurrentUser;
  } else if (equalsIgnoreCase(rootName, "HKEY_CLASSES_ROOT") || equalsIgnoreCase(rootName, "HKCR")) {
    root = RegistryRoot::ClassesRoot;
  } else if (equalsIgnoreCase(rootName, "HKEY_USERS") || equalsIgnoreCase(rootName, "HKU")) {
    root = RegistryRoot::Users;
    minDepth = 3;
  } else {
    return RegistryPathProblem::UnknownRoot;
  }
  // Forward slashes are ordinary characters in key names, so only backslashes
  // separate components here.
  std::vector<std::string> parts =
      (sep == std::string::npos) ? std::vector<std::string>() : splitComponents(text, sep + 1, '\\');
  if (parts.empty()) return RegistryPathProblem::NoSubkey;
  if (parts.size() < minDepth) return RegistryPathProblem::Protected;

  std::string subkey;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) subkey.push_back('\\');
    subkey += parts[i];
  }
  static const char* const kShared[] = {"Software\\Microsoft", "Software\\Classes", "Software\\Wow6432Node",
                                        "Software\\Policies", "System\\CurrentControlSet"};
  for (const char* shared : kShared) {
    if (equalsIgnoreCase(subkey, shared)) return RegistryPathProblem::Protected;
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
