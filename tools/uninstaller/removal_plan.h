// What the companion uninstaller decides before it touches the machine: the
// names of the record's values, which paths and keys it will act on, and the
// order in which the recorded events are undone. Pure: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/path_forms.h"
#include "system/uninstall_contract.h"

namespace uninst {

// The record's key, value names and tags, as the installer writes them.
using record::eventValueName;
using record::kUninstallKeyPath;
using record::kValueDescPrefix;
using record::kValueDisplayName;
using record::kValueEventCount;
using record::kValueParamsPrefix;
using record::kValueTagPrefix;

enum class EventKind { DeleteFile, DeleteEmptyDirs, DeleteRegTree, Unknown };

// The kind named by a record's tag. Tags are compared exactly: the installer
// writes only "DeleteFile", "DeleteEmptyDirs" and "DeleteRegTree"; anything
// else is Unknown and is reported, never guessed at.
EventKind eventKindFromTag(const std::string& tag);

// Recorded paths and keys are handled as UTF-16 text, converted once from the
// ANSI code page where they are read: in a double-byte code page (932, 936,
// 949, 950) the second byte of a character may be 0x5C, the backslash, so a
// backslash is only ever looked for among whole characters.

// The path forms are the platform's (platform/path_forms.h): recorded paths
// are normalised, compared and split as every other path is.
using win::PathProblem;
using win::normalizePath;
using win::pathDepth;
using win::parentPath;
using win::isUncPath;
using win::isSameOrInside;
using win::samePath;

// The folders of a record that its DeleteFile events may reach: every
// DeleteEmptyDirs folder (normalised), and for a model-set folder
// "<simulator>\aircraft\<set>" also "<simulator>\modules", where the installer
// puts the simulator's modules. Duplicates are left out.
std::vector<std::wstring> recordFolders(const std::vector<std::wstring>& deleteEmptyDirsFolders);

// The folders a DeleteEmptyDirs of top may remove, in the order to try them:
// every folder between top (exclusive) and a folder in heldFiles (inclusive),
// deepest first, then top itself. heldFiles are the folders that held a
// recorded file which is now gone; folders outside top are ignored. All
// normalised.
std::vector<std::wstring> foldersToTry(const std::wstring& top, const std::vector<std::wstring>& heldFiles);

// The product folder named by an UninstallString as the installer writes it:
// "\"<product folder>tluninstall.exe\" <record name>", or unquoted as earlier
// versions wrote it. Empty when the text does not end with the program name
// and record name.
std::wstring productFolderOf(const std::wstring& uninstallString, const std::wstring& recordName);

enum class RegistryRoot { LocalMachine, CurrentUser, ClassesRoot, Users };

enum class RegistryPathProblem {
  None = 0,
  UnknownRoot = 1,
  NoSubkey = 2,   // the root alone: never deleted
  Protected = 3,  // not one of the vendor's own keys (see below)
};

struct RegistryPath {
  RegistryRoot root = RegistryRoot::LocalMachine;
  std::wstring subkey;  // without leading, closing or doubled backslashes
};

// The key below which every key the installer records lies.
extern const wchar_t kVendorKey[];  // L"Software\\Brightfold Labs"

// Parses "HKEY_LOCAL_MACHINE\Software\Brightfold Labs\TowerLink\3" and the
// short forms HKLM, HKCU, HKCR, HKU (root names compared case-insensitively).
// Only a key below Software\Brightfold Labs of HKEY_LOCAL_MACHINE or
// HKEY_CURRENT_USER is accepted, never that key itself: everything else is
// Protected, so a damaged record cannot reach another program's settings. On
// failure *out is unchanged.
RegistryPathProblem parseRegistryPath(const std::wstring& text, RegistryPath* out);

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
