/* A program planted where only a mistake would start it (C:\Games\FS.exe
   before "C:\Games\FS Addons\...\tluninstall.exe"). When it runs it leaves
   "<its own path>.ran" beside itself and ends. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  char path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    memcpy(path + length, ".ran", sizeof ".ran"); /* room: MAX_PATH + 8 */
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  }
  return 0;
}
