// The product's own registry settings: "TLDir" and "DataVersion" in the
// product key, and the uninstall event that removes the key again.
#include "system/product_settings.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/handles.h"
#include "resources/resource_ids.h"
#include "system/uninstall_contract.h"
#include "wizard/strings.h"

namespace {


bool writeSettings(const char* productDir) {
  if (productDir == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  win::RegKey key;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, const_cast<char*>(""), 0, KEY_WRITE,
                                nullptr, key.receive(), nullptr);
  if (status != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(status));
    return false;
  }
  // REG_SZ data counts its terminating zero byte, as every reader expects.
  const DWORD dirBytes = static_cast<DWORD>(std::strlen(productDir) + 1);
  status = RegSetValueExA(key.get(), kProductDirValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(productDir), dirBytes);
  if (status != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(status));
    return false;  // without a folder the data version would describe nothing
  }
  const DWORD version = kDataVersion;
  status = RegSetValueExA(key.get(), kDataVersionValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version),
                          sizeof(version));
  if (status != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(status));
    return false;
  }
  return true;
}

}  // namespace

bool writeProductSettings(const char* productDir, Porter::UninstallerSetup* record) {
  const bool written = writeSettings(productDir);
  const DWORD writeError = written ? ERROR_SUCCESS : GetLastError();
  // The removal is recorded even after a failure: part of the key may exist,
  // and the record must be able to take it away again.
  const std::string desc = loadResourceString(IDS_DESC_REGISTRY);
  const bool recorded = record != nullptr && record->addEvent(record::kTagDeleteRegTree, kProductKeyFullName, desc.c_str());
  // A caller that reports the failure sees the registry's own error code, not
  // whatever loading the text left behind.
  if (!written) SetLastError(writeError);
  return written && recorded;
}
