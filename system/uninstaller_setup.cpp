// The uninstall record: events collected during the run, written once at the end.
#include "system/uninstaller_setup_impl.h"

#include <new>
#include <string>

#include "platform/handles.h"
#include "system/uninstall_contract.h"

using namespace record;

namespace {

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

UninstallerSetupImpl::UninstallerSetupImpl(const char* displayName_, const char* description_,
                                           const char* iconPath_, const char* uninstallerPath_)
    : displayName(orEmpty(displayName_)),
      description(orEmpty(description_)),
      iconPath(orEmpty(iconPath_)),
      uninstallerPath(orEmpty(uninstallerPath_)) {}

bool UninstallerSetupImpl::addEvent(const char* tag, const char* params, const char* desc) {
  events.push_back(UninstallEvent{orEmpty(tag), orEmpty(params), orEmpty(desc)});
  return true;
}

bool UninstallerSetupImpl::commit() {
  const bool written = writeRecord();
  delete this;
  return written;
}

bool UninstallerSetupImpl::writeString(HKEY key, const std::string& name, const std::string& text) {
  // The data is the text and exactly one zero byte; the uninstaller relies on it.
  const DWORD size = static_cast<DWORD>(text.size() + 1);
  return setValue(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), size) ==
         ERROR_SUCCESS;
}

bool UninstallerSetupImpl::writeDword(HKEY key, const char* name, DWORD value) {
  return setValue(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) == ERROR_SUCCESS;
}

bool UninstallerSetupImpl::writeRecord() {
  if (events.empty() || displayName.empty()) return false;

  const std::string keyPath = std::string(kUninstallKeyPath) + "\\" + displayName;
  char emptyClass[] = "";
  win::RegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, emptyClass, 0, KEY_ALL_ACCESS, nullptr, key.receive(),
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }

  // The three values that make the product visible are each attempted.
  bool ok = writeString(key.get(), kValueDisplayName, displayName);
  ok = writeString(key.get(), kValueDisplayIcon, iconPath) && ok;
  // Quoted: unquoted, CreateProcess would try "C:\Games\FS.exe" first for a
  // program under "C:\Games\FS Addons\".
  ok = writeString(key.get(), kValueUninstallString, "\"" + uninstallerPath + "\" " + displayName) && ok;
  if (!ok) return false;

  // The count goes first: the uninstaller trusts it, so no numbered value may
  // exist for this record unless the count made it in.
  if (!writeString(key.get(), kValueDescription, description)) return false;
  if (!writeDword(key.get(), kValueEventCount, static_cast<DWORD>(events.size()))) return false;

  for (size_t i = 0; i < events.size(); ++i) {
    const uint32_t index = static_cast<uint32_t>(i);
    const UninstallEvent& event = events[i];
    bool eventOk = writeString(key.get(), eventValueName(kValueTagPrefix, index), event.tag);
    eventOk = writeString(key.get(), eventValueName(kValueParamsPrefix, index), event.params) && eventOk;
    eventOk = writeString(key.get(), eventValueName(kValueDescPrefix, index), event.desc) && eventOk;
    if (!eventOk) return false;
  }
  return true;
}

Porter::UninstallerSetup* createUninstallerSetup(const char* displayName, const char* description,
                                                 const char* iconPath, const char* uninstallerPath) {
  return new (std::nothrow) UninstallerSetupImpl(displayName, description, iconPath, uninstallerPath);
}
