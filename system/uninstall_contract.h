// The uninstall record's contract: what the installer writes (tl_uninstall,
// system/uninstaller_setup.cpp) and tluninstall.exe reads back and replays
// (tools/uninstaller). Both include this header and nothing else of each
// other. Pure: no <windows.h>.
//
//   HKLM\<kUninstallKeyPath>\<kRecordName>
//     DisplayName        REG_SZ     the record name
//     DisplayIcon        REG_SZ     the product's icon file
//     UninstallString    REG_SZ     "\"<uninstaller>\" <record name>"
//     PorterDescription  REG_SZ     the product's description
//     PorterEvents       REG_DWORD  N, written before any numbered value
//     PorterTag<i>, PorterParams<i>, PorterDesc<i>   REG_SZ, i = 0..N-1
//
// An event's tag says what undoes it: DeleteFile (params: the file),
// DeleteEmptyDirs (the folder, removed with the folders below it that end up
// empty), DeleteRegTree (a key below HKEY_LOCAL_MACHINE, with everything in it).
#pragma once

#include <cstdint>
#include <string>

namespace record {

// The record's key name, which is also the uninstaller's argument.
inline constexpr char kRecordName[] = "TowerLink";

// The key that holds every record, below HKEY_LOCAL_MACHINE.
inline constexpr char kUninstallKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

inline constexpr char kValueDisplayName[] = "DisplayName";
inline constexpr char kValueDisplayIcon[] = "DisplayIcon";
inline constexpr char kValueUninstallString[] = "UninstallString";
inline constexpr char kValueDescription[] = "PorterDescription";
inline constexpr char kValueEventCount[] = "PorterEvents";
inline constexpr char kValueTagPrefix[] = "PorterTag";
inline constexpr char kValueParamsPrefix[] = "PorterParams";
inline constexpr char kValueDescPrefix[] = "PorterDesc";

inline constexpr char kTagDeleteFile[] = "DeleteFile";
inline constexpr char kTagDeleteEmptyDirs[] = "DeleteEmptyDirs";
inline constexpr char kTagDeleteRegTree[] = "DeleteRegTree";

// An event's value name: prefix + index in decimal without leading zeros
// ("PorterTag" + 10 -> "PorterTag10").
inline std::string eventValueName(const char* prefix, uint32_t index) {
  return std::string(prefix) + std::to_string(index);
}

}  // namespace record
