// writeProductSettings against Wine's real registry, with HKEY_LOCAL_MACHINE
// redirected to a scratch key for the length of each test.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/recording_record.h"
#include "tests/support/test_support.h"
#include "system/product_settings.h"
#include "wizard/strings.h"

namespace {

using tltest::RecordedEvent;
using tltest::RecordingRecord;

const RecordedEvent kRemoval = {"DeleteRegTree", "HKEY_LOCAL_MACHINE\\Software\\Brightfold Labs\\TowerLink\\3",
                                "Clearing registry entries"};

class ProductSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_instance = GetModuleHandleA(nullptr);  // the string table is linked into this program
    ASSERT_TRUE(hklm_.active());
  }

  tltest::RegValue value(const char* name) const { return tltest::readRegValue(hklm_.scratch(), kProductKeyPath, name); }

  // Creates one key below the scratch root with the given options.
  bool createKey(const std::string& path, DWORD options) const {
    HKEY key = nullptr;
    if (RegCreateKeyExA(hklm_.scratch(), path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }

  tltest::ScopedRegistryOverride hklm_;
};

TEST_F(ProductSettingsTest, WritesFolderAndDataVersionWithExactTypesAndSizes) {
  const char* const folders[] = {
      "C:\\Program Files\\TowerLink\\",
      "D:\\Flight Tools\\Tower Link 3\\",
      "C:\\Programme\\Fl\xFCgel\\",  // a folder name beyond ASCII, in the ANSI code page
      "\\\\server\\share\\TowerLink\\",
  };
  for (const char* folder : folders) {
    SCOPED_TRACE(folder);
    RecordingRecord record;
    EXPECT_TRUE(writeProductSettings(folder, &record));
    EXPECT_TRUE(tltest::isRegString(value("TLDir"), folder));
    EXPECT_TRUE(tltest::isRegDword(value("DataVersion"), 2006112500));
    EXPECT_EQ((std::vector<std::string>{"DataVersion", "TLDir"}),
              tltest::regValueNames(hklm_.scratch(), kProductKeyPath));
    EXPECT_EQ(std::vector<RecordedEvent>{kRemoval}, record.events);
  }
}

TEST_F(ProductSettingsTest, ExistingKeyIsOpenedAndOtherValuesKept) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(hklm_.scratch(), kProductKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  const char oldDir[] = "E:\\Old Place\\";
  const DWORD oldVersion = 2005010100;
  const char other[] = "kept";
  RegSetValueExA(key, "TLDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(oldDir), sizeof(oldDir));
  RegSetValueExA(key, "DataVersion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&oldVersion), sizeof(oldVersion));
  RegSetValueExA(key, "Callsign", 0, REG_SZ, reinterpret_cast<const BYTE*>(other), sizeof(other));
  HKEY child = nullptr;
  RegCreateKeyExA(key, "Servers", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr);
  if (child) RegCloseKey(child);
  RegCloseKey(key);

  RecordingRecord record;
  EXPECT_TRUE(writeProductSettings("C:\\TowerLink\\", &record));
  EXPECT_TRUE(tltest::isRegString(value("TLDir"), "C:\\TowerLink\\"));
  EXPECT_TRUE(tltest::isRegDword(value("DataVersion"), 2006112500));
  EXPECT_TRUE(tltest::isRegString(value("Callsign"), "kept"));
  EXPECT_TRUE(tltest::regKeyExists(hklm_.scratch(), std::string(kProductKeyPath) + "\\Servers"));
  EXPECT_EQ(std::vector<RecordedEvent>{kRemoval}, record.events);
}

// The registry refuses a non-volatile key below a volatile one: a real way to
// make RegCreateKeyExA fail. The removal event must still be recorded, and
// the caller sees the registry's own error.
TEST_F(ProductSettingsTest, KeyThatCannotBeCreatedStillRecordsTheRemoval) {
  ASSERT_TRUE(createKey("Software\\Brightfold Labs", 0));
  ASSERT_TRUE(createKey("Software\\Brightfold Labs\\TowerLink", REG_OPTION_VOLATILE));

  RecordingRecord record;
  SetLastError(0);
  EXPECT_FALSE(writeProductSettings("C:\\Program Files\\TowerLink\\", &record));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CHILD_MUST_BE_VOLATILE), GetLastError());
  EXPECT_FALSE(tltest::regKeyExists(hklm_.scratch(), kProductKeyPath));
  EXPECT_EQ(std::vector<RecordedEvent>{kRemoval}, record.events);
}

TEST_F(ProductSettingsTest, RefusedEventFailsEvenThoughTheValuesWereWritten) {
  RecordingRecord record(0);
  EXPECT_FALSE(writeProductSettings("C:\\Program Files\\TowerLink\\", &record));
  EXPECT_TRUE(tltest::isRegString(value("TLDir"), "C:\\Program Files\\TowerLink\\"));
  EXPECT_TRUE(tltest::isRegDword(value("DataVersion"), 2006112500));
  EXPECT_EQ(std::vector<RecordedEvent>{kRemoval}, record.events);
}

TEST_F(ProductSettingsTest, MissingFolderWritesNothingButRecordsTheRemoval) {
  RecordingRecord record;
  EXPECT_FALSE(writeProductSettings(nullptr, &record));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(tltest::regKeyExists(hklm_.scratch(), kProductKeyPath));
  EXPECT_EQ(std::vector<RecordedEvent>{kRemoval}, record.events);
}

}  // namespace
