/* A sample product program: it says what it is, so a test or a person who
   starts it from a shortcut can tell which file ran. "/version" prints
   nothing and exits 0, for scripted checks that it starts at all. */
#include <windows.h>
#include <string.h>

#include "sample_version.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  if (commandLine != NULL && strstr(commandLine, "/version") != NULL) return 0;
  MessageBoxA(NULL, TL_PROGRAM_TITLE " (sample build of the TowerLink product tree)", TL_PROGRAM_TITLE,
              MB_OK | MB_ICONINFORMATION);
  return 0;
}
