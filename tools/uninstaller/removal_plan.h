// What the companion uninstaller decides before it touches the machine: the
// names of the record's values, which paths and keys it will act on, and the
// order in which the recorded events are undone. Pure: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace uninst {

// Value names of the uninstall record, as the installer writes them.
extern const char kValueDisplayName[];   // "DisplayName"
extern const char kValueEventCount[];    // "PorterEvents"
extern const char kValueTagPrefix[];     // "PorterTag"
extern const char kValueParamsPrefix[];  // "PorterParams"
extern const char kValueDescPrefix[];    // "PorterDesc"
// The key that holds every record, below HKEY_LOCAL_MACHINE.
extern const char kUninstallKeyPath[];   // "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"

// prefix + index in decimal without leading zeros ("PorterTag" + 10 ->
// "PorterTag10"), the numbering the installer uses.
std::string eventValueName(const char* prefix, uint32_t index);

enum class EventKind { DeleteFile, DeleteEmptyDirs, DeleteRegTree, Unknown };

// The kind named by a record's tag. Tags are compared exactly: the installer
// writes only "DeleteFile", "DeleteEmptyDirs" and "DeleteRegTree"; anything
// else is Unknown and is reported, never guessed at.
EventKind eventKindFromTag(const std::string& tag);

// Why a recorded path is not acted on.
enum class PathProblem {
  None = 0,
  Empty = 1,
  NotAbsolute = 2,   // relative or drive-relative: it would depend on the current folder
  DotComponent = 3,  // "." or "..": could leave the folder the record names
  DevicePath = 4,    // "\\?\..." or "\\.\...": not an ordinary file path
};

// Brings a recorded file or folder path into one form: backslashes only, no
// empty components, no closing backslash except on a root ("C:\"). Accepts
// "X:\..." and "\\server\share\...". On success returns None and *out holds
// the path; on failure returns the problem and leaves *out empty.
PathProblem normalizePath(const std::string& path, std::string* out);

// Number of components below the root of a path that normalizePath accepted
// ("C:\" -> 0, "C:\a\b" -> 2, "\\srv\share\a" -> 1).
size_t pathDepth(const std::string& normalized);

// True when path is folder itself or lies below it; both normalised, compared
// as samePath does, whole components only ("C:\ab" is not inside "C:\a").
bool isSameOrInside(const std::string& path, const std::string& folder);

// Case-insensitive (ASCII letters) equality of two normalised paths. Other
// bytes compare exactly: the system folds ANSI letters beyond ASCII too, so a
// difference there means "not known to be the same", which is the safe answer
// where this is used.
bool samePath(const std::string& a, const std::string& b);

enum class RegistryRoot { LocalMachine, CurrentUser, ClassesRoot, Users };

enum class RegistryPathProblem {
  None = 0,
  UnknownRoot = 1,
  NoSubkey = 2,   // the root alone: never deleted
  Protected = 3,  // a key that holds other software's settings (see below)
};

struct RegistryPath {
  RegistryRoot root = RegistryRoot::LocalMachine;
  std::string subkey;  // without leading, closing or doubled backslashes
};

// Parses "HKEY_LOCAL_MACHINE\Software\Brightfold Labs\TowerLink\3" and the
// short forms HKLM, HKCU, HKCR, HKU (root names compared case-insensitively).
// Refuses a key too close to the root to belong to one product: fewer than two
// components (three under HKEY_USERS, whose first level is one account each)
// or one of the shared keys Software\Microsoft, Software\Classes,
// Software\Wow6432Node, Software\Policies, System\CurrentControlSet. On failure
// *out is unchanged.
RegistryPathProblem parseRegistryPath(const std::string& text, RegistryPath* out);

// One recorded event as far as ordering needs to know it.
struct PlannedEvent {
  EventKind kind = EventKind::Unknown;
  size_t depth = 0;  // pathDepth of a DeleteEmptyDirs folder; 0 when unknown
};

// The order in which the events are undone, as indices into events. The record
// lists each folder before or after its files depending on who recorded it
// (the Start menu folder follows its shortcuts, the product folder comes before
// the shared files extracted into it later), so a plain reverse replay would
// try some folders while they still hold files. The order is therefore:
//   1. every DeleteFile, last recorded first;
//   2. every DeleteEmptyDirs, deeper folders first, and among equal depths the
//      last recorded first (a folder inside another is always tried first);
//   3. every DeleteRegTree, last recorded first.
// Unknown events are left out (the caller reports them).
std::vector<size_t> removalOrder(const std::vector<PlannedEvent>& events);

// "- item" lines for a message, at most limit of them, then one line
// "...and N more" when items were left out. Empty for no items.
std::string formatItemList(const std::vector<std::string>& items, size_t limit);

}  // namespace uninst
