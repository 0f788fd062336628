// Every timed run of a benchmark starts from the same state: the files of
// earlier runs (and their removal) flushed to disk, so that no run pays for
// another's write-back. Wine starts Unix programs without a handle to wait
// on, so the kernel's own count of dirty pages tells when the flush is done.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace bench {

inline uint64_t dirtyKiB() {
  HANDLE file = CreateFileA("Z:\\proc\\meminfo", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char text[8192];
  DWORD n = 0;
  if (!ReadFile(file, text, sizeof(text) - 1, &n, nullptr)) n = 0;
  CloseHandle(file);
  text[n] = '\0';
  uint64_t total = 0;
  for (const char* key : {"Dirty:", "Writeback:"}) {
    const char* at = std::strstr(text, key);
    if (at != nullptr) total += std::strtoull(at + std::strlen(key), nullptr, 10);
  }
  return total;
}

inline void settleDisk() {
  char command[] = "Z:\\bin\\sync";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    if (process.hProcess != nullptr) {
      WaitForSingleObject(process.hProcess, 30000);
      CloseHandle(process.hProcess);
    }
    if (process.hThread != nullptr) CloseHandle(process.hThread);
  }
  for (int i = 0; i < 300 && dirtyKiB() > 32 * 1024; ++i) Sleep(100);
}

}  // namespace bench
