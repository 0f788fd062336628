/* A program planted where only a mistake would start it (C:\Games\FS.exe
   before "C:\Games\FS Addons\...\tluninstall.exe"). When it runs it leaves
   "<its own path>.ran" beside itself and ends. */
#include "leave_marker.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  leaveMarker(NULL, ".ran");
  return 0;
}
