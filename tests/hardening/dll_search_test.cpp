// The DLL search-order hardening, seen through the real loader: a probe
// program (dll_search_probe.exe) is copied into a scratch folder next to
// planted libraries whose DllMain leaves a marker file, and started with the
// current folder holding another planted library. Each probe process applies
// one mode and loads libraries by bare name.
//
// What Wine 8 shows (checked while writing this):
//  - Without hardening Wine loads a planted library from the program's folder
//    and from the current folder for names it has no builtin of
//    ("tlplanted.dll", "tlcurrent.dll"), and for builtins that prefer a native
//    copy ("dwmapi.dll"). Other builtins ("version.dll", "comctl32.dll",
//    "uxtheme.dll") stay builtin even when a file of that name is planted.
//  - SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) stops all of them.
//  - SetDllDirectoryA("") does not take the current folder out of Wine's
//    search order (it does on Windows), so the fallback is checked for the
//    means it chooses only.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/hardening/child_process.h"
#include "tests/support/test_support.h"
#include "platform/dll_search.h"

namespace {

using tltest::ScopedTempDir;

bool samePath(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// name -> path the probe printed ("-" when it did not load); "mode" -> value.
std::map<std::string, std::string> parseProbe(const std::string& output) {
  std::map<std::string, std::string> result;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t space = line.find(' ');
    if (space != std::string::npos) result[line.substr(0, space)] = line.substr(space + 1);
  }
  return result;
}

class DllSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app.valid() && current.valid());
    ASSERT_TRUE(tlharden::copyFile(TL_PROBE_EXE, app.file("probe.exe"))) << TL_PROBE_EXE;
    for (const char* name : {"tlplanted.dll", "dwmapi.dll"}) {
      ASSERT_TRUE(tlharden::copyFile(TL_MARKER_DLL, app.file(name))) << name;
    }
    ASSERT_TRUE(tlharden::copyFile(TL_MARKER_DLL, current.file("tlcurrent.dll")));
  }

  // Runs the probe in a mode; the markers of every earlier run are removed first.
  std::map<std::string, std::string> probe(const std::string& mode) {
    for (const std::string& marker : markers()) DeleteFileA(marker.c_str());
    std::string output;
    DWORD exitCode = 99;
    const std::string command = "\"" + app.file("probe.exe") + "\" " + mode + " tlplanted.dll tlcurrent.dll dwmapi.dll";
    EXPECT_TRUE(tlharden::runCaptured(command, current.path(), 60000, &output, &exitCode)) << output;
    EXPECT_EQ(exitCode, 0u) << output;
    lastOutput = output;
    return parseProbe(output);
  }

  // Marker files the planted libraries have left.
  std::vector<std::string> markers() const {
    std::vector<std::string> found;
    for (const ScopedTempDir* dir : {&app, &current}) {
      for (const std::string& file : tltest::listFiles(dir->path())) {
        if (file.size() > 7 && file.compare(file.size() - 7, 7, ".loaded") == 0) found.push_back(dir->file(file));
      }
    }
    return found;
  }

  ScopedTempDir app;      // the program's own folder, as a downloads folder would be
  ScopedTempDir current;  // the current folder it is started in
  std::string lastOutput;
};

TEST_F(DllSearchTest, WithoutHardeningThePlantedLibrariesRun) {
  // The control: the planting works under this Wine, so the other cases mean something.
  auto loaded = probe("none");
  EXPECT_EQ(loaded["mode"], "-1") << lastOutput;
  EXPECT_TRUE(samePath(loaded["tlplanted.dll"], app.file("tlplanted.dll"))) << lastOutput;
  EXPECT_TRUE(samePath(loaded["tlcurrent.dll"], current.file("tlcurrent.dll"))) << lastOutput;
  EXPECT_TRUE(samePath(loaded["dwmapi.dll"], app.file("dwmapi.dll"))) << lastOutput;
  EXPECT_EQ(markers().size(), 3u) << lastOutput;
}

TEST_F(DllSearchTest, HardenedProcessLoadsByNameFromTheSystemFolderOnly) {
  auto loaded = probe("harden");
  EXPECT_EQ(loaded["mode"], std::to_string(static_cast<int>(DllSearchHardening::SystemFolderOnly))) << lastOutput;
  EXPECT_EQ(loaded["tlplanted.dll"], "-") << lastOutput;
  EXPECT_EQ(loaded["tlcurrent.dll"], "-") << lastOutput;
  EXPECT_TRUE(samePath(loaded["dwmapi.dll"], systemFolderPath("dwmapi.dll"))) << lastOutput;
  EXPECT_EQ(markers(), std::vector<std::string>{}) << lastOutput;
}

TEST_F(DllSearchTest, SystemLibraryTakesTheSystemCopyWhateverIsPlanted) {
  // No hardening at all: the full path alone keeps the planted copies out.
  auto loaded = probe("system");
  EXPECT_EQ(loaded["tlplanted.dll"], "-") << lastOutput;  // not a system library
  EXPECT_TRUE(samePath(loaded["dwmapi.dll"], systemFolderPath("dwmapi.dll"))) << lastOutput;
  EXPECT_EQ(markers(), std::vector<std::string>{}) << lastOutput;
}

TEST_F(DllSearchTest, WithoutSetDefaultDllDirectoriesTheCurrentFolderIsRemoved) {
  auto loaded = probe("fallback");
  EXPECT_EQ(loaded["mode"], std::to_string(static_cast<int>(DllSearchHardening::CurrentFolderRemoved)))
      << lastOutput;
}

// ---- the means chosen, through the lookup seam (nothing is applied) ------------

FARPROC WINAPI neither(HMODULE, LPCSTR) { return nullptr; }

TEST(DllSearchHardening, SystemWithNeitherFunctionIsLeftAsItIsAndSaysWhy) {
  DWORD error = 0;
  EXPECT_EQ(hardenDllSearch(neither, &error), DllSearchHardening::Unchanged);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

TEST(SystemLibrary, MissingLibraryIsNullWithTheLoadersError) {
  SystemLibrary missing("tl-no-such-library.dll");
  EXPECT_EQ(missing.get(), nullptr);
  EXPECT_EQ(missing.error(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(missing.function<FARPROC>("DllMain"), nullptr);
  SystemLibrary present("version.dll");
  ASSERT_NE(present.get(), nullptr);
  char path[MAX_PATH] = "";
  GetModuleFileNameA(present.get(), path, MAX_PATH);
  EXPECT_TRUE(samePath(path, systemFolderPath("version.dll"))) << path;
}

}  // namespace
