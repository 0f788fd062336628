// Prints how long a silent uninstall takes: the real tluninstall.exe removing
// a product tree recorded file by file, a plain delete loop over the same tree
// in this process (the floor the file system sets), and an uninstall with an
// empty record (the fixed cost of starting the program and its copy).
// Usage: uninstall_bench [files]   (default 2000, in folders of 50)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "uninstaller/scratch.h"

using namespace uninst_test;

namespace {

double seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
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

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (files < 1) files = 1;
  LARGE_INTEGER t0, t1;

  double fixed = 0;
  {
    Scratch s;
    std::string dir = s.root() + "TowerLink\\";
    std::string exe = s.installUninstaller(dir);
    s.writeRecord({}, dir);
    DWORD code = 0;
    QueryPerformanceCounter(&t0);
    bool ok = s.run(exe, s.recordName() + " /S", &code);
    QueryPerformanceCounter(&t1);
    if (!ok || code != 0) {
      std::fprintf(stderr, "empty uninstall failed (%lu)\n", code);
      return 1;
    }
    fixed = seconds(t0, t1);
  }

  double full = 0;
  {
    Scratch s;
    std::string dir = s.root() + "TowerLink\\";
    std::vector<std::string> folders;
    std::vector<EventSpec> events = makeTree(dir, files, &folders);
    std::string exe = s.installUninstaller(dir);
    events.push_back({"DeleteFile", exe, "Deleting TowerLink program files"});
    s.writeRecord(events, dir);
    DWORD code = 0;
    QueryPerformanceCounter(&t0);
    bool ok = s.run(exe, s.recordName() + " /S", &code, 600000);
    QueryPerformanceCounter(&t1);
    if (!ok || code != 0 || folderExists(dir)) {
      std::fprintf(stderr, "uninstall failed (%lu)\n", code);
      return 1;
    }
    full = seconds(t0, t1);
  }

  double plain = 0;
  {
    Scratch s;
    std::string dir = s.root() + "TowerLink\\";
    std::vector<std::string> folders;
    std::vector<EventSpec> events = makeTree(dir, files, &folders);
    QueryPerformanceCounter(&t0);
    for (size_t i = events.size() - 1; i-- > 0;) DeleteFileA(events[i].params.c_str());
    for (const std::string& f : folders) RemoveDirectoryA(f.c_str());
    RemoveDirectoryA(dir.c_str());
    QueryPerformanceCounter(&t1);
    plain = seconds(t0, t1);
  }

  double work = full - fixed;
  std::printf("uninstall benchmark: %d files of 1 KiB in folders of 50\n", files);
  std::printf("  tluninstall.exe /S, whole run      %8.3f s  (%.0f files/s)\n", full, files / full);
  std::printf("  fixed cost (empty record)          %8.3f s\n", fixed);
  std::printf("  removal work (run - fixed)         %8.3f s  (%.0f files/s)\n", work, files / (work > 0 ? work : 1e-9));
  std::printf("  plain delete loop, same tree       %8.3f s  (%.0f files/s)\n", plain, files / plain);
  std::printf("  ratio removal work / plain loop    %8.2f\n", work / plain);
  return 0;
}
