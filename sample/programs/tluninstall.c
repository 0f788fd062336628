/* Stand-in for the companion uninstaller while that program is not part of
   the build: it starts, says so and exits. */
#include <windows.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  if (commandLine != NULL && strstr(commandLine, "/version") != NULL) return 0;
  MessageBoxA(NULL, "The TowerLink uninstaller is not part of this sample build.", "TowerLink Uninstall",
              MB_OK | MB_ICONINFORMATION);
  return 0;
}
