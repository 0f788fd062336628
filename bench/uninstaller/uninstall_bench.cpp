// Prints how long a silent uninstall takes: the real tluninstall.exe removing
// a product tree recorded file by file, a plain delete loop over the same tree
// in this process (the floor the file system sets), and an uninstall with an
// empty record (the fixed cost of starting the program and its copy).
// Rounds are interleaved and each figure is the median of its rounds.
// With TL_UNINSTALLER_BASELINE naming another build of tluninstall.exe (an
// older commit's, say), that one runs in every round too, on the same tree,
// and the ratio of the two is printed.
// Usage: uninstall_bench [files] [rounds]   (default 2000 in folders of 50, 5)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/uninstaller/scratch.h"

using namespace uninst_test;

namespace {

double seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Lays out files in folders of 50 below dir; returns the recorded events.
std::vector<EventSpec> makeTree(const std::string& dir, int files, std::vector<std::string>* folders) {
  std::vector<EventSpec> events;
  folders->clear();
  for (int i = 0; i < files; ++i) {
    std::string folder = dir + "group " + std::to_string(i / 50) + "\\";
    if (i % 50 == 0) folders->push_back(folder);
    std::string f = folder + "file " + std::to_string(i) + ".dat";
    if (!writeFile(f, std::string(1024, 'x'))) {
      std::fprintf(stderr, "cannot write %s\n", f.c_str());
      std::exit(1);
    }
    events.push_back({"DeleteFile", f, "Deleting TowerLink program files"});
  }
  events.push_back({"DeleteEmptyDirs", dir, "Deleting TowerLink program files"});
  return events;
}

// One silent uninstall by the uninstaller `built` (empty: this tree's) of
// `files` files (0: an empty record); its time, or a negative value.
double timedUninstall(const std::string& built, int files) {
  if (!built.empty()) SetEnvironmentVariableA("TL_UNINSTALLER_UNDER_TEST", built.c_str());
  Scratch s;
  std::string dir = s.root() + "TowerLink\\";
  std::vector<std::string> folders;
  std::vector<EventSpec> events;
  if (files > 0) events = makeTree(dir, files, &folders);
  std::string exe = s.installUninstaller(dir);
  if (!built.empty()) SetEnvironmentVariableA("TL_UNINSTALLER_UNDER_TEST", nullptr);
  if (exe.empty()) return -1;
  if (files > 0) events.push_back({"DeleteFile", exe, "Deleting TowerLink program files"});
  s.writeRecord(events, dir);
  DWORD code = 0;
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  bool ok = s.run(exe, s.recordName() + " /S", &code, 600000);
  QueryPerformanceCounter(&t1);
  if (!ok || code != 0 || (files > 0 && directoryExists(dir))) {
    std::fprintf(stderr, "uninstall by %s failed (%lu)\n", built.empty() ? "this tree's build" : built.c_str(), code);
    return -1;
  }
  return seconds(t0, t1);
}

double plainLoop(int files) {
  Scratch s;
  std::string dir = s.root() + "TowerLink\\";
  std::vector<std::string> folders;
  std::vector<EventSpec> events = makeTree(dir, files, &folders);
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  for (size_t i = events.size() - 1; i-- > 0;) DeleteFileA(events[i].params.c_str());
  for (const std::string& f : folders) RemoveDirectoryA(f.c_str());
  RemoveDirectoryA(dir.c_str());
  QueryPerformanceCounter(&t1);
  return seconds(t0, t1);
}

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 2000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  if (files < 1) files = 1;
  if (rounds < 1) rounds = 1;
  char text[MAX_PATH] = {0};
  DWORD n = GetEnvironmentVariableA("TL_UNINSTALLER_BASELINE", text, MAX_PATH);
  const std::string baseline = (n > 0 && n < MAX_PATH) ? std::string(text, n) : std::string();

  std::vector<double> fixed, full, plain, baseFixed, baseFull;
  for (int r = 0; r < rounds; ++r) {
    double f = timedUninstall("", 0);
    double w = timedUninstall("", files);
    if (f < 0 || w < 0) return 1;
    fixed.push_back(f);
    full.push_back(w);
    plain.push_back(plainLoop(files));
    if (!baseline.empty()) {
      double bf = timedUninstall(baseline, 0);
      double bw = timedUninstall(baseline, files);
      if (bf < 0 || bw < 0) return 1;
      baseFixed.push_back(bf);
      baseFull.push_back(bw);
    }
  }

  const double m = median(full), fx = median(fixed), pl = median(plain);
  const double work = m - fx;
  std::printf("uninstall benchmark: %d files of 1 KiB in folders of 50, median of %d rounds\n", files, rounds);
  std::printf("  tluninstall.exe /S, whole run      %8.3f s  (%.0f files/s)\n", m, files / m);
  std::printf("  fixed cost (empty record)          %8.3f s\n", fx);
  std::printf("  removal work (run - fixed)         %8.3f s  (%.0f files/s)\n", work, files / (work > 0 ? work : 1e-9));
  std::printf("  plain delete loop, same tree       %8.3f s  (%.0f files/s)\n", pl, files / pl);
  std::printf("  ratio removal work / plain loop    %8.2f\n", work / pl);
  if (!baseline.empty()) {
    const double bm = median(baseFull), bwork = bm - median(baseFixed);
    std::printf("  baseline %s\n", baseline.c_str());
    std::printf("  baseline whole run                 %8.3f s\n", bm);
    std::printf("  baseline removal work              %8.3f s\n", bwork);
    std::printf("  ratio whole run / baseline         %8.2f\n", m / bm);
    std::printf("  ratio removal work / baseline      %8.2f\n", work / (bwork > 0 ? bwork : 1e-9));
  }
  return 0;
}
