/* Leaves an empty file "<module's own path><suffix>" beside a planted module,
   so that a test can tell the module ran even when it ends at once. */
#pragma once

#include <string.h>
#include <windows.h>

static void leaveMarker(HMODULE module, const char* suffix) {
  char path[MAX_PATH + 16];
  size_t room = strlen(suffix) + 1;
  DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || room > sizeof path - length) return;
  memcpy(path + length, suffix, room);
  HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}
