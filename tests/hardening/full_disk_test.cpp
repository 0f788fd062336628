// A full disk while extracting, on a real 256 KiB file system that the CTest
// fixture (small_drive.sh) mounts and maps into the prefix as a drive letter:
// the worker and the extractor must end with WriteFailed (9), leave no partly
// written or temporary file behind, record nothing for the file that failed,
// and leave what was already in the folder untouched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/install/message_sink.h"
#include "install/progress_channel.h"
#include "install/worker.h"
#include "payload/file_extractor_impl.h"
#include "tests/support/payload_fixture.h"
#include "tests/support/recording_record.h"
#include "tests/support/test_support.h"
#include "wizard/strings.h"

namespace {

using tltest::FixtureFile;
using tltest::PayloadFixture;
using tltest::ScopedTempDir;

using Event = tltest::RecordedEvent;
using tltest::RecordingRecord;

// The small drive's root ("T:\"), or "" with *why set when this machine has none.
std::string smallDrive(std::string* why) {
  std::string letter;
  if (!tltest::readFile(TL_SMALL_DRIVE_FILE, &letter)) {
    *why = "no drive letter file " TL_SMALL_DRIVE_FILE " (the small_drive fixture did not run)";
    return std::string();
  }
  while (!letter.empty() && (letter.back() == '\n' || letter.back() == '\r')) letter.pop_back();
  if (letter.size() != 2 || letter[1] != ':') {
    *why = letter;
    return std::string();
  }
  return letter + "\\";
}

uint64_t freeBytes(const std::string& root) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr)) return 0;
  return available.QuadPart;
}

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    root = smallDrive(&why);
    if (root.empty() && why.compare(0, 12, "unavailable:") == 0) GTEST_SKIP() << why;
    ASSERT_FALSE(root.empty()) << why;
    ASSERT_TRUE(temp.valid());
    freeAtStart = freeBytes(root);
    ASSERT_GT(freeAtStart, 200000u) << "the small drive is not empty: " << root;
    ASSERT_LT(freeAtStart, 300000u) << root << " is not the small drive";
  }
  void TearDown() override {
    if (root.empty()) return;
    for (const char* folder : {"TowerLink", "modules"}) tltest::removeTree(root + folder);
    EXPECT_EQ(freeBytes(root), freeAtStart) << "something was left on " << root;
  }

  std::string root;
  ScopedTempDir temp;  // the payload module lives on the ordinary drive
  uint64_t freeAtStart = 0;
};

TEST_F(FullDiskTest, WorkerEndsWithWriteFailedAndKeepsWhatWasThere) {
  // A file larger than the whole drive between two that fit.
  const std::vector<FixtureFile> files = {
      {"\\tl\\tl\\a.txt", tltest::patternBytes(3000, 1, true)},
      {"\\tl\\tl\\big.bin", tltest::patternBytes(600000, 2, false)},
      {"\\tl\\tl\\z.txt", tltest::patternBytes(100, 3, true)},
      {"\\tl\\global\\readme.txt", tltest::patternBytes(500, 4, true)},
  };
  PayloadFixture payload;
  ASSERT_TRUE(payload.build(temp.file("payload.dll"), files)) << payload.error();
  const std::string productDir = root + "TowerLink\\";
  ASSERT_TRUE(CreateDirectoryA(productDir.c_str(), nullptr));
  const std::string userFile = productDir + "settings.ini";
  const std::string userBytes = "[TowerLink]\r\nCallsign=ABC123\r\n";
  ASSERT_TRUE(tltest::writeFile(userFile, userBytes));

  g_instance = GetModuleHandleA(nullptr);  // the event texts come from this program's string table
  tltest::MessageSink sink;
  RecordingRecord record;
  WorkerParams params;
  params.instance = payload.module();
  params.progressWindow = sink.window();
  params.uninstallRecord = &record;
  params.installProduct = true;
  params.productDir = productDir;
  ASSERT_TRUE(sink.runWorker(&params));

  ASSERT_FALSE(sink.messages().empty());
  const tltest::Posted& last = sink.messages().back();
  ASSERT_EQ(last.message, static_cast<UINT>(WM_INSTALL_DONE)) << tltest::describe(last);
  EXPECT_EQ(last.wParam, static_cast<WPARAM>(ExtractResult::WriteFailed)) << tltest::describe(last);

  // a.txt is whole, big.bin left nothing, z.txt was never started, the user's file is as it was.
  EXPECT_EQ(tltest::listFiles(productDir), (std::vector<std::string>{"a.txt", "settings.ini"}));
  std::string bytes;
  EXPECT_TRUE(tltest::readFile(productDir + "a.txt", &bytes) && bytes == files[0].bytes);
  EXPECT_TRUE(tltest::readFile(userFile, &bytes) && bytes == userBytes);
  // The uninstall record names the written file only.
  std::string list;
  for (const Event& e : record.events) list += "  " + e.tag + " " + e.params + "\n";
  ASSERT_GE(record.events.size(), 1u) << list;
  EXPECT_EQ(record.events[0].tag, "DeleteFile") << list;
  EXPECT_EQ(record.events[0].params, productDir + "a.txt") << list;
  for (const Event& e : record.events) EXPECT_EQ(e.params.find("big.bin"), std::string::npos) << list;
}

TEST_F(FullDiskTest, GuardedReplaceKeepsTheInstalledCopyAndLeavesNoTemporaryFile) {
  // The new copy is newer (3.4.0.2 over 3.4.0.1) but cannot be written whole.
  std::string installed;
  std::string newer;
  ASSERT_TRUE(tltest::readFile(tltest::fixturePath("version_3_4_0_1.dll"), &installed));
  ASSERT_TRUE(tltest::readFile(tltest::fixturePath("version_3_4_0_2.dll"), &newer));
  newer += tltest::patternBytes(400000, 5, false);  // past the end of the image: still a valid module
  PayloadFixture payload;
  ASSERT_TRUE(payload.build(temp.file("payload.dll"), {{"\\fs\\modules\\fsuipc.dll", newer}})) << payload.error();
  FileExtractorImpl extractor;
  ASSERT_TRUE(extractor.init(payload.module(), nullptr));

  const std::string modules = root + "modules";
  ASSERT_TRUE(CreateDirectoryA(modules.c_str(), nullptr));
  const std::string target = modules + "\\fsuipc.dll";
  ASSERT_TRUE(tltest::writeFile(target, installed));

  EXPECT_EQ(toInt(extractor.extractFile("/fs/modules/fsuipc.dll", target.c_str(), true)),
            toInt(ExtractResult::WriteFailed));
  EXPECT_EQ(extractor.lastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(tltest::listFiles(modules), std::vector<std::string>{"fsuipc.dll"});
  std::string bytes;
  EXPECT_TRUE(tltest::readFile(target, &bytes) && bytes == installed) << "the installed copy changed";
}

}  // namespace
