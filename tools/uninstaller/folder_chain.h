// The folders from a drive root down to the one that holds what is removed,
// each opened relative to the one above and held (platform/held_folder.h,
// Links::Refused): never through a link, each checked through its handle to
// be a plain folder that is the child of the one above, and held without
// FILE_SHARE_DELETE so that it cannot be renamed or replaced meanwhile.
// Consecutive removals in the same folder reuse what is already held.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/held_folder.h"

namespace uninst {

class FolderChain {
 public:
  enum class Outcome {
    Held,
    Gone,   // a level is missing, or a file stands where it was: nothing recorded is in there
    Link,   // a level is a link, or leads elsewhere than its name says
    Error,  // a level cannot be opened
  };
  struct Result {
    Outcome outcome = Outcome::Held;
    DWORD error = ERROR_SUCCESS;
    std::wstring at;  // the folder where a link or an error was found
  };

  // Holds every level of a normalised folder path, keeping the levels already
  // held that it shares with the last one. On anything but Held nothing stays
  // held.
  Result hold(const std::wstring& folder);

  // The innermost folder held; invalid when nothing is.
  const win::HeldFolder& innermost() const;

  void release() { held_.clear(); }

 private:
  struct Level {
    std::wstring path;
    win::HeldFolder folder;
  };
  Result open(const std::wstring& path);

  std::vector<Level> held_;
};

}  // namespace uninst
