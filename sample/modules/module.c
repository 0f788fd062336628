/* A sample simulator module: a DLL that loads, answers one call and carries a
   product version, which the installer compares before replacing a shared
   module. */
#include <windows.h>

#include "sample_version.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}

__declspec(dllexport) const char* moduleName(void) { return TL_DESCRIPTION; }
