// The uninstall record read back value by value from Wine's registry, with
// HKEY_LOCAL_MACHINE redirected to a scratch key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "system/uninstaller_setup_impl.h"

namespace {

using tltest::isRegDword;
using tltest::isRegString;
using tltest::readRegValue;

const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TowerLink";
const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class UninstallRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(redirect.active()); }

  tltest::RegValue value(const std::string& name) { return readRegValue(HKEY_LOCAL_MACHINE, kKey, name); }

  static UninstallerSetupImpl* installationRecord(const std::string& productDir) {
    return new UninstallerSetupImpl("TowerLink", "", (productDir + "towerlink.ico").c_str(),
                                    (productDir + "tluninstall.exe").c_str());
  }

  tltest::ScopedRegistryOverride redirect;
};

// Fails the n-th RegSetValueExA call (1-based) of one commit; the rest go through.
int g_failAtCall = 0;
int g_calls = 0;
std::vector<std::string> g_attempted;

LONG WINAPI failingSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  ++g_calls;
  g_attempted.push_back(name);
  if (g_calls == g_failAtCall) return ERROR_ACCESS_DENIED;
  return RegSetValueExA(key, name, reserved, type, data, size);
}

void failAt(int call) {
  g_failAtCall = call;
  g_calls = 0;
  g_attempted.clear();
}

TEST_F(UninstallRecordTest, RecordIsWrittenByteForByte) {
  UninstallerSetupImpl* record = installationRecord("C:\\Program Files\\TowerLink\\");
  ASSERT_TRUE(record->addEvent("DeleteRegTree", "HKEY_LOCAL_MACHINE\\Software\\Brightfold Labs\\TowerLink\\3",
                               "Clearing registry entries"));
  ASSERT_TRUE(record->addEvent("DeleteFile", "C:\\Program Files\\TowerLink\\readme.txt", ""));
  ASSERT_TRUE(record->addEvent("DeleteEmptyDirs", "C:\\Program Files\\TowerLink\\", "Deleting TowerLink program files"));
  ASSERT_TRUE(record->commit());

  EXPECT_TRUE(isRegString(value("DisplayName"), "TowerLink"));
  EXPECT_TRUE(isRegString(value("DisplayIcon"), "C:\\Program Files\\TowerLink\\towerlink.ico"));
  // Quoted, so that CreateProcess never tries "C:\Program.exe" first.
  EXPECT_TRUE(isRegString(value("UninstallString"), "\"C:\\Program Files\\TowerLink\\tluninstall.exe\" TowerLink"));
  EXPECT_TRUE(isRegString(value("PorterDescription"), ""));  // one zero byte, not omitted
  EXPECT_TRUE(isRegDword(value("PorterEvents"), 3));
  EXPECT_TRUE(isRegString(value("PorterTag0"), "DeleteRegTree"));
  EXPECT_TRUE(isRegString(value("PorterParams0"), "HKEY_LOCAL_MACHINE\\Software\\Brightfold Labs\\TowerLink\\3"));
  EXPECT_TRUE(isRegString(value("PorterDesc0"), "Clearing registry entries"));
  EXPECT_TRUE(isRegString(value("PorterTag1"), "DeleteFile"));
  EXPECT_TRUE(isRegString(value("PorterParams1"), "C:\\Program Files\\TowerLink\\readme.txt"));
  EXPECT_TRUE(isRegString(value("PorterDesc1"), ""));  // an empty desc is written too
  EXPECT_TRUE(isRegString(value("PorterTag2"), "DeleteEmptyDirs"));
  EXPECT_TRUE(isRegString(value("PorterParams2"), "C:\\Program Files\\TowerLink\\"));
  EXPECT_TRUE(isRegString(value("PorterDesc2"), "Deleting TowerLink program files"));
  EXPECT_EQ(tltest::regValueNames(HKEY_LOCAL_MACHINE, kKey).size(), 5u + 3u * 3u);
  // The redirection held: the values went into the scratch key.
  EXPECT_TRUE(tltest::regKeyExists(redirect.scratch(), kKey));
}

TEST_F(UninstallRecordTest, ElevenEventsAreNumberedInDecimalWithoutLeadingZeros) {
  UninstallerSetupImpl* record = installationRecord("D:\\TL\\");
  for (int i = 0; i < 11; ++i) {
    const std::string n = std::to_string(i);
    record->addEvent(("tag" + n).c_str(), ("params" + n).c_str(), ("desc" + n).c_str());
  }
  ASSERT_TRUE(record->commit());
  EXPECT_TRUE(isRegDword(value("PorterEvents"), 11));
  for (int i = 0; i < 11; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_TRUE(isRegString(value("PorterTag" + n), "tag" + n)) << "event " << i;
    EXPECT_TRUE(isRegString(value("PorterParams" + n), "params" + n)) << "event " << i;
    EXPECT_TRUE(isRegString(value("PorterDesc" + n), "desc" + n)) << "event " << i;
  }
  for (const char* absent : {"PorterTag00", "PorterTag01", "PorterTag11", "PorterParams11", "PorterDesc11"}) {
    EXPECT_FALSE(value(absent).found) << absent;
  }
}

TEST_F(UninstallRecordTest, ReinstallOverALongerRecordOverwritesAndLeavesHigherIndices) {
  UninstallerSetupImpl* first = installationRecord("C:\\Old Place\\");
  for (int i = 0; i < 5; ++i) first->addEvent("DeleteFile", ("old" + std::to_string(i)).c_str(), "old");
  ASSERT_TRUE(first->commit());

  UninstallerSetupImpl* second = installationRecord("C:\\New\\");
  second->addEvent("DeleteRegTree", "new0", "new");
  second->addEvent("DeleteFile", "new1", "new");
  ASSERT_TRUE(second->commit());

  EXPECT_TRUE(isRegDword(value("PorterEvents"), 2));
  EXPECT_TRUE(isRegString(value("DisplayIcon"), "C:\\New\\towerlink.ico"));
  EXPECT_TRUE(isRegString(value("PorterParams0"), "new0"));
  EXPECT_TRUE(isRegString(value("PorterParams1"), "new1"));
  // Nothing is deleted: the count tells the uninstaller where the valid ones end.
  EXPECT_TRUE(isRegString(value("PorterParams4"), "old4"));
  EXPECT_TRUE(isRegString(value("PorterTag2"), "DeleteFile"));
}

TEST_F(UninstallRecordTest, EmptyRecordWritesNothingAndCreatesNoKey) {
  EXPECT_FALSE(installationRecord("C:\\TL\\")->commit());
  EXPECT_FALSE(tltest::regKeyExists(HKEY_LOCAL_MACHINE, kKey));

  // An empty name would put the values into the shared Uninstall key itself.
  UninstallerSetupImpl* nameless = new UninstallerSetupImpl("", "", "i", "u");
  nameless->addEvent("DeleteFile", "x", "y");
  EXPECT_FALSE(nameless->commit());
  EXPECT_TRUE(tltest::regValueNames(HKEY_LOCAL_MACHINE, kUninstallRoot).empty());
}

TEST_F(UninstallRecordTest, KeyThatCannotBeCreatedFailsWithNothingWritten) {
  // A key name component longer than the registry allows (255 characters).
  const std::string name(300, 'n');
  UninstallerSetupImpl* record = new UninstallerSetupImpl(name.c_str(), "", "i", "u");
  record->addEvent("DeleteFile", "x", "y");
  EXPECT_FALSE(record->commit());
  EXPECT_TRUE(tltest::regValueNames(HKEY_LOCAL_MACHINE, kUninstallRoot).empty());
  EXPECT_FALSE(tltest::regKeyExists(HKEY_LOCAL_MACHINE, std::string(kUninstallRoot) + "\\" + name));
}

TEST_F(UninstallRecordTest, FailedWritesStopWhereTheRecordSays) {
  // Calls: 1 DisplayName, 2 DisplayIcon, 3 UninstallString, 4 PorterDescription,
  // 5 PorterEvents, then three per event (event k at 6 + 3k .. 8 + 3k).
  struct Case {
    const char* what;
    int failAt;
    std::vector<std::string> attempted;  // value names tried, in order (first entries)
    size_t attemptedCount;
    bool countWritten;
    int eventsWritten;  // events whose three values are all present
  };
  const Case cases[] = {
      {"DisplayName fails: the other two are still tried", 1,
       {"DisplayName", "DisplayIcon", "UninstallString"}, 3, false, 0},
      {"DisplayIcon fails", 2, {"DisplayName", "DisplayIcon", "UninstallString"}, 3, false, 0},
      {"PorterDescription fails", 4, {"DisplayName", "DisplayIcon", "UninstallString", "PorterDescription"}, 4,
       false, 0},
      {"PorterEvents fails: no numbered value", 5,
       {"DisplayName", "DisplayIcon", "UninstallString", "PorterDescription", "PorterEvents"}, 5, false, 0},
      {"PorterTag7 fails: its triple is tried, 8 and later are not", 6 + 3 * 7, {}, 5 + 3 * 8, true, 7},
      {"PorterDesc7 fails", 8 + 3 * 7, {}, 5 + 3 * 8, true, 7},
  };
  for (const Case& c : cases) {
    tltest::deleteRegTree(HKEY_LOCAL_MACHINE, kKey);
    UninstallerSetupImpl* record = installationRecord("C:\\TL\\");
    for (int i = 0; i < 11; ++i) record->addEvent("DeleteFile", ("f" + std::to_string(i)).c_str(), "d");
    record->setValue = failingSetValue;
    failAt(c.failAt);
    EXPECT_FALSE(record->commit()) << c.what;
    EXPECT_EQ(g_attempted.size(), c.attemptedCount) << c.what;
    for (size_t i = 0; i < c.attempted.size() && i < g_attempted.size(); ++i) {
      EXPECT_EQ(g_attempted[i], c.attempted[i]) << c.what;
    }
    EXPECT_EQ(value("PorterEvents").found, c.countWritten) << c.what;
    if (!c.countWritten) {
      for (const std::string& written : tltest::regValueNames(HKEY_LOCAL_MACHINE, kKey)) {
        EXPECT_TRUE(written.find_first_of("0123456789") == std::string::npos) << c.what << ": " << written;
      }
    }
    for (int i = 0; i < 11; ++i) {
      const std::string n = std::to_string(i);
      const bool complete = value("PorterTag" + n).found && value("PorterParams" + n).found &&
                            value("PorterDesc" + n).found;
      EXPECT_EQ(complete, i < c.eventsWritten) << c.what << ", event " << i;
      if (i > c.eventsWritten) EXPECT_FALSE(value("PorterTag" + n).found) << c.what << ", event " << i;
    }
  }
  // The last attempted names of the event-7 case are event 7's triple.
  EXPECT_EQ(g_attempted.back(), "PorterDesc7");
}

TEST(UninstallRecordFactory, CopiesItsTextsAndStartsEmpty) {
  std::string name = "TowerLink";
  Porter::UninstallerSetup* made = createUninstallerSetup(name.c_str(), nullptr, "icon", "un");
  ASSERT_NE(made, nullptr);
  name.assign("changed!!");
  UninstallerSetupImpl* impl = static_cast<UninstallerSetupImpl*>(made);
  EXPECT_EQ(impl->displayName, "TowerLink");
  EXPECT_EQ(impl->description, "");
  EXPECT_TRUE(impl->events.empty());
  std::string tag = "DeleteFile";
  EXPECT_TRUE(made->addEvent(tag.c_str(), "p", nullptr));
  tag.assign("Overwritten");
  EXPECT_EQ(impl->events[0].tag, "DeleteFile");
  EXPECT_EQ(impl->events[0].desc, "");
  impl->displayName.clear();  // discard without writing
  EXPECT_FALSE(made->commit());
}

}  // namespace
