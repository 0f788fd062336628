// The Start menu folder "TowerLink" and its four shortcuts.
#pragma once

#include "system/uninstaller_setup.h"

// Needs an apartment-threaded COM on the calling thread. Creates the folder
// (all users, else the current user), the four shortcuts, and records five
// events. False on any failure; what was saved before stays. When a platform
// call failed, GetLastError() holds the cause (a system error code, or the
// failing COM result). A shortcut path longer than 259 characters is refused,
// never cut short.
bool createStartMenuShortcuts(const char* fsProgram, const char* fsxProgram, const char* uninstaller,
                              const char* guide, const char* iconLibrary, Porter::UninstallerSetup* record);
