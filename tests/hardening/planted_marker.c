/* A library planted where the installer must not load libraries from. When
   any process loads it, it leaves "<its own path>.loaded" beside itself, so a
   test can tell a load happened even if the library is dropped again at once.
   Copied under the names of real system libraries. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      memcpy(path + length, ".loaded", sizeof ".loaded"); /* room: MAX_PATH + 8 */
      HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
      if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
  }
  return TRUE;
}
