/* A library planted where the installer must not load libraries from. When
   any process loads it, it leaves "<its own path>.loaded" beside itself, so a
   test can tell a load happened even if the library is dropped again at once.
   Copied under the names of real system libraries. */
#include "leave_marker.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) leaveMarker(instance, ".loaded");
  return TRUE;
}
