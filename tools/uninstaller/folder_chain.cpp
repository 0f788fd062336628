#include "tools/uninstaller/folder_chain.h"

#include "platform/path_forms.h"

namespace uninst {

FolderChain::Result FolderChain::hold(const std::wstring& folder) {
  std::vector<std::wstring> levels;
  for (std::wstring f = folder;; f = win::parentPath(f)) {
    levels.insert(levels.begin(), f);
    if (win::pathDepth(f) == 0) break;
  }
  size_t keep = 0;
  while (keep < levels.size() && keep < held_.size() && held_[keep].path == levels[keep]) ++keep;
  held_.resize(keep);
  for (size_t i = keep; i < levels.size(); ++i) {
    Result r = open(levels[i]);
    if (r.outcome != Outcome::Held) {
      held_.clear();
      return r;
    }
  }
  return Result();
}

const win::HeldFolder& FolderChain::innermost() const {
  static const win::HeldFolder none;
  return held_.empty() ? none : held_.back().folder;
}

FolderChain::Result FolderChain::open(const std::wstring& path) {
  Result r;
  r.at = path;
  Level level;
  level.path = path;
  // The root by its name (a drive or a share, never a link someone made);
  // below it, each level by its name relative to the one held above, so that
  // nothing done to the path meanwhile counts.
  r.error = held_.empty() ? level.folder.open(path, false, nullptr, win::Links::Refused)
                          : level.folder.openBelow(held_.back().folder, win::leafName(path), false, nullptr,
                                                   win::Links::Refused);
  switch (r.error) {
    case ERROR_SUCCESS:
      held_.push_back(std::move(level));
      break;
    case win::kErrorStoppedOnLink: r.outcome = Outcome::Link; break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY: r.outcome = Outcome::Gone; break;
    default: r.outcome = Outcome::Error; break;
  }
  return r;
}

}  // namespace uninst
