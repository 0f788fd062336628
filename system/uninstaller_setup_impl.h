// The uninstall record's concrete class. Its registry form is the contract with
// tluninstall.exe (system/uninstall_contract.h) and is written byte for byte,
// under the key named displayName. Every REG_SZ carries its text plus one zero byte. Nothing is ever deleted, so
// numbered values of a longer earlier record stay; "PorterEvents" says where the
// valid ones end.
//
// The texts and the list of events are kept in std::string and std::vector,
// whose allocations cannot fail softly: without memory for them the program
// ends, as it does wherever else a small allocation fails. Only the object
// itself is allocated so that createUninstallerSetup can report its failure.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "system/uninstaller_setup.h"

struct UninstallEvent {
  std::string tag;
  std::string params;
  std::string desc;
};

class UninstallerSetupImpl final : public Porter::UninstallerSetup {
 public:
  // Copies the four texts (null reads as "").
  UninstallerSetupImpl(const char* displayName, const char* description, const char* iconPath,
                       const char* uninstallerPath);
  UninstallerSetupImpl(const UninstallerSetupImpl&) = delete;
  UninstallerSetupImpl& operator=(const UninstallerSetupImpl&) = delete;

  // Appends a copy of the three texts (null reads as ""); true.
  bool addEvent(const char* tag, const char* params, const char* desc) override;

  // Writes the record and deletes this object, whatever happens. False when:
  //  - there are no events, or displayName is empty (an empty name would put the
  //    values into the shared Uninstall key itself): nothing is written, no key
  //    is created;
  //  - the key cannot be created or opened: nothing is written;
  //  - DisplayName, DisplayIcon or UninstallString fails: all three are still
  //    attempted, then nothing more is written;
  //  - PorterDescription or PorterEvents fails: no numbered value is written;
  //  - a value of event k fails: its three values are attempted, none after k.
  // Values written before a failure stay in the registry.
  bool commit() override;

  std::string displayName;
  std::string description;
  std::string iconPath;
  std::string uninstallerPath;
  std::vector<UninstallEvent> events;

  // The one platform call that tests wrap to make the n-th write fail: Wine's
  // registry cannot be made to refuse a single value on demand.
  using SetValueFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
  SetValueFn setValue = ::RegSetValueExA;

 private:
  ~UninstallerSetupImpl() = default;  // only commit() ends the object
  bool writeRecord();
  bool writeString(HKEY key, const std::string& name, const std::string& text);
  bool writeDword(HKEY key, const char* name, DWORD value);
};
