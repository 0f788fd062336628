// The sample product tree holds real files of their kind: modules with the
// product versions the installer compares, programs that start, and a
// SimConnect package that msiexec installs and removes without a question.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/child_process.h"

namespace {

const std::string kTree = TL_SAMPLE_TREE;

// Runs a command line to its end; the exit code, or -1 when it cannot start
// or does not end within a minute.
long runToEnd(const std::string& commandLine) {
  DWORD code = 0;
  std::string why;
  return tltest::runProgram(commandLine, 60000, &code, &why) ? static_cast<long>(code) : -1;
}

std::string productVersion(const std::string& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return "none";
  std::string block(size, '\0');
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(path.c_str(), 0, size, &block[0]) ||
      !VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&info), &length)) {
    return "unreadable";
  }
  return std::to_string(HIWORD(info->dwProductVersionMS)) + "." + std::to_string(LOWORD(info->dwProductVersionMS)) +
         "." + std::to_string(HIWORD(info->dwProductVersionLS)) + "." + std::to_string(LOWORD(info->dwProductVersionLS));
}

bool sampleKeyPresent() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\SimConnectSample", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  char value[16] = {};
  DWORD size = sizeof value - 1;
  LONG rc = RegQueryValueExA(key, "Installed", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && std::string(value) == "1";
}

TEST(SampleTree, ModulesCarryTheirProductVersions) {
  const std::pair<const char*, const char*> cases[] = {
      {"\\fs\\modules\\fsuipc.dll", "3.9.9.0"},   {"\\fs\\modules\\tlmod8.dll", "3.4.0.1"},
      {"\\fs\\modules\\tlmod9.dll", "3.4.0.1"},   {"\\fs\\modules\\tlmpjoin9.dll", "3.4.0.1"},
      {"\\fs\\modules\\tltrans8.dll", "3.4.0.1"}, {"\\fs\\modules\\tltrans9.dll", "3.4.0.1"},
      {"\\tl\\fs\\tlmod10.dll", "3.4.0.1"},       {"\\tl\\fs\\tltrans10.dll", "3.4.0.1"},
      {"\\tl\\fs\\tlaicontrol10.dll", "3.4.0.1"}, {"\\tl\\tl\\towerlink_fs.exe", "3.4.0.1"},
  };
  for (const auto& [file, version] : cases) EXPECT_EQ(productVersion(kTree + file), version) << file;
}

TEST(SampleTree, ProgramsStartAndModulesLoad) {
  for (const char* program : {"\\tl\\tl\\towerlink_fs.exe", "\\tl\\tl\\towerlink_fsx.exe"}) {
    EXPECT_EQ(runToEnd("\"" + kTree + program + "\" /version"), 0) << program;
  }
  HMODULE module = LoadLibraryA((kTree + "\\fs\\modules\\tlmod9.dll").c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_NE(GetProcAddress(module, "moduleName"), nullptr);
  FreeLibrary(module);
}

// A named stdcall function: i686 lambdas do not convert to CALLBACK pointers.
BOOL CALLBACK countName(HMODULE, LPCSTR, LPSTR, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

TEST(SampleTree, IconLibraryHasTwoIconGroups) {
  HMODULE icons = LoadLibraryExA((kTree + "\\tl\\tl\\tlimage.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(icons, nullptr) << GetLastError();
  int groups = 0;
  EnumResourceNamesA(icons, MAKEINTRESOURCEA(14), countName, reinterpret_cast<LONG_PTR>(&groups));
  FreeLibrary(icons);
  EXPECT_EQ(groups, 2);
}

TEST(SampleTree, SimConnectPackageInstallsAndUninstallsSilently) {
  ASSERT_FALSE(sampleKeyPresent()) << "left over from an earlier run";
  const std::string package = "\"" + kTree + "\\tl\\tl\\simconnect.msi\"";
  EXPECT_EQ(runToEnd("msiexec /i " + package + " /qn"), 0);
  EXPECT_TRUE(sampleKeyPresent());
  EXPECT_EQ(runToEnd("msiexec /x " + package + " /qn"), 0);
  EXPECT_FALSE(sampleKeyPresent());
}

TEST(SampleTree, MissingPackageFailsWithMsiexecsCode) {
  // Windows answers 1619 (package could not be opened), Wine 2 (file not found):
  // either way a started msiexec that reports failure.
  long code = runToEnd("msiexec /i \"" + kTree + "\\tl\\tl\\no-such.msi\" /qn");
  EXPECT_NE(code, -1) << "msiexec did not start";
  EXPECT_NE(code, 0);
  EXPECT_FALSE(sampleKeyPresent());
}

}  // namespace
