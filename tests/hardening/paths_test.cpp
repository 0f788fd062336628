// Product folders as users name them, through the real extractor, the real
// uninstall record and Wine's real file system and registry: spaces, "&" and
// letters of the ANSI code page beyond ASCII ("é", "É" in code page 1252), and
// folders at and past the length the ANSI calls allow.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/file_extractor_impl.h"
#include "tests/support/payload_fixture.h"
#include "tests/support/test_support.h"
#include "system/uninstaller_setup.h"
#include "system/uninstaller_setup_impl.h"

namespace {

using tltest::FixtureFile;
using tltest::PayloadFixture;
using tltest::ScopedTempDir;

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TowerLink";
const char kDesc[] = "Deleting TowerLink program files";

// The name as the file system holds it, in UTF-16, for the ANSI text given.
std::wstring wide(const std::string& ansi) {
  int length = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), static_cast<int>(ansi.size()), &out[0], length);
  return out;
}

bool wideFileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A discarded uninstall record: an empty name makes commit write nothing.
void discard(UninstallerSetupImpl* record) {
  record->displayName.clear();
  record->commit();
}

TEST(ProductFolderNames, SpacesAmpersandAndAccentsReachDiskAndRecordExactly) {
  ASSERT_EQ(GetACP(), 1252u) << "the accented names below are code page 1252 bytes";
  ScopedTempDir temp;
  ASSERT_TRUE(temp.valid());
  // Catalogue names keep bytes above 127 as they are: "É" is not lowered.
  const std::vector<FixtureFile> files = {
      {"\\tl\\tl\\a b.txt", tltest::patternBytes(700, 1, true)},
      {"\\tl\\tl\\notes & more\\r\xE9sum\xE9.txt", tltest::patternBytes(5000, 2, true)},
      {"\\tl\\tl\\\xC9t\xC9\\caf\xE9 & cr\xE8me.dat", tltest::patternBytes(70000, 3, false)},
  };
  PayloadFixture payload;
  ASSERT_TRUE(payload.build(temp.file("payload.dll"), files)) << payload.error();
  FileExtractorImpl extractor;
  ASSERT_TRUE(extractor.init(payload.module(), nullptr));

  const std::string productDir = temp.file("Tower Link & Co \xE9t\xE9") + "\\";
  const std::vector<std::string> targets = {
      productDir + "a b.txt",
      productDir + "notes & more\\r\xE9sum\xE9.txt",
      productDir + "\xC9t\xC9\\caf\xE9 & cr\xE8me.dat",
  };
  tltest::ScopedRegistryOverride hklm;
  ASSERT_TRUE(hklm.active());
  auto* record = new UninstallerSetupImpl("TowerLink", "", (productDir + "towerlink.ico").c_str(),
                                          (productDir + "tluninstall.exe").c_str());
  ASSERT_EQ(toInt(extractor.extractFolder("/TL/TL/", productDir.c_str(), record, kDesc, nullptr)),
            toInt(ExtractResult::Ok));

  // Same bytes under the same names, read back through the ANSI and the wide calls.
  for (size_t i = 0; i < files.size(); ++i) {
    std::string bytes;
    EXPECT_TRUE(tltest::readFile(targets[i], &bytes) && bytes == files[i].bytes) << targets[i];
    EXPECT_TRUE(wideFileExists(wide(targets[i]))) << targets[i];
  }
  EXPECT_EQ(tltest::listFiles(productDir),
            (std::vector<std::string>{"a b.txt", "notes & more\\r\xE9sum\xE9.txt", "\xC9t\xC9\\caf\xE9 & cr\xE8me.dat"}));

  // The record carries the exact paths, through the registry and back.
  ASSERT_EQ(record->events.size(), files.size());
  ASSERT_TRUE(record->commit());
  EXPECT_TRUE(tltest::isRegDword(tltest::readRegValue(HKEY_LOCAL_MACHINE, kUninstallKey, "PorterEvents"), 3));
  for (size_t i = 0; i < targets.size(); ++i) {
    const std::string index = std::to_string(i);
    EXPECT_TRUE(tltest::isRegString(tltest::readRegValue(HKEY_LOCAL_MACHINE, kUninstallKey, "PorterParams" + index),
                                    targets[i]))
        << i;
    EXPECT_TRUE(tltest::isRegString(tltest::readRegValue(HKEY_LOCAL_MACHINE, kUninstallKey, "PorterTag" + index),
                                    "DeleteFile"));
  }
  // Quoted, spaces, "&" and all.
  EXPECT_TRUE(tltest::isRegString(tltest::readRegValue(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"),
                                  "\"" + productDir + "tluninstall.exe\" TowerLink"));
}

// A folder of exactly `length` characters under base, in levels of at most
// 100 characters ("é" and spaces included); each level created when create.
std::string folderOfLength(const std::string& base, size_t length, bool create) {
  std::string path = base;
  for (int level = 1; path.size() < length; ++level) {
    size_t size = length - path.size() - 1;  // after the backslash; never 0 (see below)
    if (size > 100) size = size - 100 == 1 ? 99 : 100;  // leave the next level two characters at least
    // Ends in '_' whatever the size: a name ending in a space loses it on Windows.
    std::string name(size, '_');
    const std::string label = "level " + std::to_string(level) + " \xE9";
    name.replace(0, std::min(label.size(), size - 1), label, 0, std::min(label.size(), size - 1));
    path += "\\" + name;
    if (create && !CreateDirectoryA(path.c_str(), nullptr)) return std::string();
  }
  return path;
}

// Files and folders directly in a folder.
size_t entriesIn(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  size_t count = 0;
  do {
    if (lstrcmpA(found.cFileName, ".") != 0 && lstrcmpA(found.cFileName, "..") != 0) ++count;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

TEST(ProductFolderNames, LongestPathsAreWrittenAndLongerOnesRefusedWithTheirCode) {
  ScopedTempDir temp;
  ASSERT_TRUE(temp.valid());
  // Sorted: the 12-character name first, then the 14-character one.
  const std::vector<FixtureFile> files = {
      {"\\tl\\tl\\abcdefgh.txt", tltest::patternBytes(900, 1, true)},
      {"\\tl\\tl\\abcdefghij.txt", tltest::patternBytes(900, 2, true)},
  };
  PayloadFixture payload;
  ASSERT_TRUE(payload.build(temp.file("payload.dll"), files)) << payload.error();
  FileExtractorImpl extractor;
  ASSERT_TRUE(extractor.init(payload.module(), nullptr));

  struct Case {
    size_t folderLength;  // without the trailing backslash
    bool exists;
    ExtractResult expected;
    std::vector<std::string> written;  // names under the folder afterwards
  };
  const Case cases[] = {
      // 246 + 1 + 12 = 259 characters fits MAX_PATH with its zero; + 14 = 261 does not.
      {MAX_PATH - 14, true, ExtractResult::OutputNotCreated, {"abcdefgh.txt"}},
      // Too long for a temporary name in it: refused before anything is created.
      {MAX_PATH - 13, false, ExtractResult::FolderNotCreated, {}},
      {300, false, ExtractResult::FolderNotCreated, {}},
      {600, false, ExtractResult::FolderNotCreated, {}},
  };
  for (const Case& c : cases) {
    ScopedTempDir scratch;
    ASSERT_TRUE(scratch.valid());
    const std::string folder = folderOfLength(scratch.path(), c.folderLength, c.exists);
    ASSERT_EQ(folder.size(), c.folderLength) << "could not make the folder of " << c.folderLength;
    auto* record = new UninstallerSetupImpl("TowerLink Test", "", "", "");
    EXPECT_EQ(toInt(extractor.extractFolder("/tl/tl", folder.c_str(), record, kDesc, nullptr)), toInt(c.expected))
        << "folder of " << c.folderLength << ": " << folder << " (Windows error " << extractor.lastError() << ")";
    std::vector<std::string> recorded;
    for (const UninstallEvent& e : record->events) recorded.push_back(e.params);
    std::vector<std::string> expectedEvents;
    for (const std::string& name : c.written) expectedEvents.push_back(folder + "\\" + name);
    EXPECT_EQ(recorded, expectedEvents) << "folder of " << c.folderLength << " (Windows error " << extractor.lastError() << ")";
    discard(record);
    if (c.exists) {
      EXPECT_EQ(tltest::listFiles(folder), c.written) << "folder of " << c.folderLength;
    } else {
      // Not a single level of it was made.
      EXPECT_EQ(entriesIn(scratch.path()), 0u) << "folder of " << c.folderLength;
    }
  }
}

}  // namespace
