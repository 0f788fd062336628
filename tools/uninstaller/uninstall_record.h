// Reading the uninstall record that the installer wrote under
// HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\<name>, and removing
// the record's key when everything it lists is gone.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace uninst {

struct RecordedEvent {
  uint32_t index = 0;
  std::string tag;
  std::string params;
  std::string desc;  // empty when missing (a caption only)
  bool usable = false;  // tag and params were both present as REG_SZ
};

struct UninstallRecord {
  std::string displayName;           // "DisplayName", or the record name when missing
  std::string uninstallString;       // "UninstallString" (names the product folder); empty when missing
  uint32_t declaredEvents = 0;       // "PorterEvents" as written
  std::vector<RecordedEvent> events; // one per index that was read, in index order
  std::vector<std::string> problems; // damaged or missing values, one line each
};

enum class RecordStatus {
  Ok = 0,
  NotFound = 1,      // no such key
  Unreadable = 2,    // the key exists but cannot be opened (see the error)
  NoEventCount = 3,  // "PorterEvents" missing or not a REG_DWORD: nothing is known to undo
};

// Reads the record named name. With Ok, *out holds every event that could be
// read; events whose values are missing or of the wrong type are in
// out->events with usable == false and are described in out->problems. A
// "PorterEvents" larger than the values present is reported, and only indices
// that can exist are tried, so a huge count costs nothing. On any other status
// *out holds what was read before the failure and *error the system's code.
RecordStatus readUninstallRecord(const std::string& name, UninstallRecord* out, DWORD* error);

// Whether the record's key exists (opened for reading).
bool uninstallRecordExists(const std::string& name);

// Deletes the record's key with everything in it. Returns ERROR_SUCCESS, also
// when the key is already gone, or the system's code.
DWORD deleteUninstallRecord(const std::string& name);

}  // namespace uninst
