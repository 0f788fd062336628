// Start-up figure: time from CreateProcess to the first wizard page on screen,
// and from a confirmed Cancel to the process's end. Prints figures; asserts
// nothing about them. Usage: wizard_start_bench [program [runs]]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wizard/wizard_process.h"

namespace {

double millisecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void printFigures(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double m : ms) sum += m;
  std::printf("%-34s runs %zu  min %8.1f ms  median %8.1f ms  mean %8.1f ms  max %8.1f ms\n", what, ms.size(),
              ms.front(), ms[ms.size() / 2], sum / static_cast<double>(ms.size()), ms.back());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = argc > 1 ? argv[1] : "wizard_entry_ok.exe";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  std::vector<double> toFirstPage, toExit;
  for (int run = 0; run < runs; ++run) {
    ChildProcess setup;
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    if (!setup.start(program)) {
      std::fprintf(stderr, "cannot start %s: error %lu\n", program.c_str(), setup.error());
      return 1;
    }
    // The first page is shown when the frame is visible with one visible page.
    HWND frame = nullptr;
    const ULONGLONG end = GetTickCount64() + 60000;
    while (GetTickCount64() < end) {
      frame = findDialogOf(setup.id(), IDC_PAGE_PLACEHOLDER);
      if (frame != nullptr && countChildDialogs(frame, true) == 1) break;
      frame = nullptr;
      Sleep(1);
    }
    if (frame == nullptr) {
      std::fprintf(stderr, "%s: no page within 60 s\n", program.c_str());
      return 1;
    }
    toFirstPage.push_back(millisecondsSince(started));

    PostMessageA(frame, WM_CLOSE, 0, 0);
    const HWND confirm = waitForDialogOf(setup.id(), IDYES, 30000, 1);
    if (confirm == nullptr) {
      std::fprintf(stderr, "%s: no cancel confirmation\n", program.c_str());
      return 1;
    }
    LARGE_INTEGER confirmed;
    QueryPerformanceCounter(&confirmed);
    clickButton(confirm, IDYES);
    DWORD status = 0;
    if (!setup.wait(30000, &status)) {
      std::fprintf(stderr, "%s: did not end after Cancel\n", program.c_str());
      return 1;
    }
    toExit.push_back(millisecondsSince(confirmed));
  }
  std::printf("wizard start-up of %s under Wine\n", program.c_str());
  printFigures("process start -> first page shown", toFirstPage);
  printFigures("confirmed Cancel -> process end", toExit);
  return 0;
}
