// The product's own registry settings: the product folder and the data version.
#pragma once

#include "system/uninstaller_setup.h"

constexpr const char* kProductKeyPath = "Software\\Brightfold Labs\\TowerLink\\3";
constexpr const char* kProductKeyFullName = "HKEY_LOCAL_MACHINE\\Software\\Brightfold Labs\\TowerLink\\3";
constexpr const char* kProductDirValue = "TLDir";
constexpr const char* kDataVersionValue = "DataVersion";
constexpr unsigned long kDataVersion = 2006112500;

// Writes "TLDir" and "DataVersion" under HKLM\<kProductKeyPath>, then (whatever
// happened) records one "DeleteRegTree" event. True only if both values were
// written and the event was recorded. When the values could not be written,
// GetLastError() afterwards holds the registry's error code.
bool writeProductSettings(const char* productDir, Porter::UninstallerSetup* record);
