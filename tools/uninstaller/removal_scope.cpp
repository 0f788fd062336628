#include "tools/uninstaller/removal_scope.h"

#include "platform/file_names.h"
#include "platform/local_paths.h"
#include "tools/uninstaller/removal_plan.h"

namespace uninst {

RemovalScope systemScope() {
  win::SystemFolders system = win::systemFolders();
  RemovalScope scope;
  scope.refused = std::move(system.folders);
  scope.windowsFolder = std::move(system.windowsFolder);
  scope.localHosts = std::move(system.localHosts);
  return scope;
}

void addRecordFolders(RemovalScope* scope, const std::vector<std::string>& deleteEmptyDirsParams,
                      const std::string& uninstallString, const std::string& recordName) {
  std::wstring product;
  std::wstring productText = productFolderOf(win::widen(uninstallString), win::widen(recordName));
  if (normalizePath(productText, &product, scope->localHosts) == PathProblem::None) scope->productFolder = product;
  std::vector<std::wstring> folders;
  if (!product.empty()) folders.push_back(product);
  for (const std::string& params : deleteEmptyDirsParams) {
    std::wstring f;
    if (normalizePath(win::widen(params), &f, scope->localHosts) == PathProblem::None) folders.push_back(f);
  }
  for (const std::wstring& f : recordFolders(folders)) {
    // A root or a system folder may be the product folder (Change... makes
    // the chosen folder itself the product folder), so only the Windows
    // folder and foreign network folders are refused here; the files of
    // system folders inside a record's folder are refused by isInOwnFolder.
    std::wstring canonical = win::canonicalPath(f);
    if (isForeignNetworkPath(*scope, f)) continue;
    if (!scope->windowsFolder.empty() &&
        (isSameOrInside(f, scope->windowsFolder) || isSameOrInside(canonical, scope->windowsFolder))) {
      continue;
    }
    scope->ownFolders.push_back(f);
    if (canonical != f) scope->ownFolders.push_back(canonical);
  }
}

bool isForeignNetworkPath(const RemovalScope& scope, const std::wstring& path) {
  return isUncPath(path) && !(isUncPath(scope.productFolder) && isSameOrInside(path, scope.productFolder));
}

bool isInOwnFolder(const RemovalScope& scope, const std::wstring& path) {
  bool inside = false;
  for (const std::wstring& own : scope.ownFolders) {
    if (!isSameOrInside(path, own) || samePath(path, own)) continue;
    bool system = false;
    for (const std::wstring& s : scope.refused) {
      system = system || (isSameOrInside(s, own) && !samePath(s, own) && isSameOrInside(path, s));
    }
    inside = inside || !system;
  }
  return inside;
}

const char* refusedFolder(const RemovalScope& scope, const std::wstring& folder, const std::wstring& canonical) {
  if (isForeignNetworkPath(scope, folder)) return "a network folder outside the product folder is never touched";
  if (pathDepth(folder) == 0 || pathDepth(canonical) == 0) return "a drive or share root is never removed";
  if (!scope.windowsFolder.empty() &&
      (isSameOrInside(folder, scope.windowsFolder) || isSameOrInside(canonical, scope.windowsFolder))) {
    return "nothing in the Windows folder is removed";
  }
  for (const std::wstring& s : scope.refused) {
    if (isSameOrInside(s, folder) || isSameOrInside(s, canonical)) return "a system folder is never removed";
  }
  return nullptr;
}

}  // namespace uninst
