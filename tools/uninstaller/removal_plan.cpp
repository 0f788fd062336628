#include "tools/uninstaller/removal_plan.h"

#include <algorithm>

namespace uninst {

namespace {

using win::equalsIgnoreCase;

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

}  // namespace

EventKind eventKindFromTag(const std::string& tag) {
  if (tag == record::kTagDeleteFile) return EventKind::DeleteFile;
  if (tag == record::kTagDeleteEmptyDirs) return EventKind::DeleteEmptyDirs;
  if (tag == record::kTagDeleteRegTree) return EventKind::DeleteRegTree;
  return EventKind::Unknown;
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
