// ProgressCB against a real message-only window: what arrives, and that each
// file text reaches the page whole and intact however late it is read.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/install/message_sink.h"
#include "install/progress_channel.h"

namespace {

using tltest::MessageSink;

uint64_t privateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof(counters));
  // Wine leaves PrivateUsage at 0 and keeps the private commit charge in
  // PagefileUsage, as Windows also does.
  return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

TEST(ProgressChannel, ReportsArriveAsTheirMessagesWithFullThirtyTwoBitValues) {
  MessageSink sink;
  ASSERT_TRUE(sink.window() != nullptr);
  {
    ProgressCB progress(sink.window());
    progress.setTotal(4000000000u);  // above 2^31: must not turn negative on the way
    progress.fileStarted("\\tl\\tl\\tlimage.dll", "C:\\TowerLink\\tlimage.dll");
    progress.fileProgress(100, 200, 65536, 3900000000u);
    progress.fileProgress(200, 200, 3900000000u, 3900000000u);
    progress.fileFinished();
  }
  sink.drain();
  const auto& m = sink.messages();
  ASSERT_EQ(m.size(), 5u);
  EXPECT_EQ(m[0].message, WM_INSTALL_TOTAL);
  EXPECT_EQ(static_cast<uint32_t>(m[0].wParam), 4000000000u);
  EXPECT_EQ(m[1].message, WM_INSTALL_FILE);
  EXPECT_EQ(m[1].text, "C:\\TowerLink\\tlimage.dll") << "the target path, not the catalogue name";
  EXPECT_EQ(m[2].message, WM_INSTALL_PROGRESS);
  EXPECT_EQ(static_cast<uint32_t>(m[2].wParam), 65536u) << "uncompressed bytes so far";
  EXPECT_EQ(static_cast<uint32_t>(m[2].lParam), 3900000000u) << "uncompressed size";
  EXPECT_EQ(static_cast<uint32_t>(m[3].wParam), 3900000000u);
  EXPECT_EQ(m[4].message, WM_INSTALL_FILE_DONE);
  EXPECT_EQ(m[4].wParam, 0u);
  EXPECT_EQ(m[4].lParam, 0);
}

// Who posts what, recorded by the channel's one platform call.
struct PostRecord {
  static BOOL WINAPI post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    threads.push_back(GetCurrentThreadId());
    messages.push_back(message);
    return PostMessageA(window, message, wParam, lParam);
  }
  static std::vector<DWORD> threads;
  static std::vector<UINT> messages;
};
std::vector<DWORD> PostRecord::threads;
std::vector<UINT> PostRecord::messages;

TEST(ProgressChannel, TheReportingThreadNeverPostsAndFlushLeavesNothingBehind) {
  MessageSink sink;
  ASSERT_TRUE(sink.window() != nullptr);
  PostRecord::threads.clear();
  PostRecord::messages.clear();
  setChannelPost(&PostRecord::post);
  std::vector<UINT> reported;
  {
    // More reports than the channel holds at once, faster than they can be
    // posted: the reporter waits for room, never posts itself.
    ProgressCB progress(sink.window());
    progress.setTotal(1);
    reported.push_back(WM_INSTALL_TOTAL);
    for (int file = 0; file < 1500; ++file) {
      progress.fileStarted("n", "C:\\TowerLink\\f.dll");
      progress.fileProgress(0, 0, 1, 2);
      progress.fileProgress(0, 0, 2, 2);
      progress.fileFinished();
      reported.insert(reported.end(), {WM_INSTALL_FILE, WM_INSTALL_PROGRESS, WM_INSTALL_PROGRESS,
                                       WM_INSTALL_FILE_DONE});
    }
    progress.flush();
    // Every report posted once flush returns, so an end message posted now
    // comes after all of them.
    EXPECT_EQ(PostRecord::messages, reported);
    EXPECT_EQ(std::count(PostRecord::threads.begin(), PostRecord::threads.end(), GetCurrentThreadId()), 0);
  }
  setChannelPost(nullptr);
  sink.drain();
  std::vector<UINT> arrived;
  for (const auto& m : sink.messages()) arrived.push_back(m.message);
  EXPECT_EQ(arrived, reported) << "in the order of the reports";
}

TEST(ProgressChannel, EachFileTextSurvivesLaterFilesAndTheSendersEnd) {
  MessageSink sink;
  ASSERT_TRUE(sink.window() != nullptr);
  const std::string first = "C:\\Program Files\\TowerLink\\first.dll";
  const std::string longPath = "C:\\" + std::string(300, 'd') + "\\" + std::string(400, 'f') + ".bmp";
  const std::string third = "D:\\FS9\\modules\\tltrans9.dll";
  {
    // The page reads nothing until the sender has started every file and is
    // gone, as when the worker runs ahead of a busy user-interface thread.
    auto progress = std::make_unique<ProgressCB>(sink.window());
    progress->fileStarted("a", first.c_str());
    progress->fileStarted("b", longPath.c_str());
    progress->fileStarted("c", third.c_str());
  }
  sink.drain();
  const auto& m = sink.messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].text, first);
  EXPECT_EQ(m[1].text, longPath) << "a path beyond 259 characters is shown whole (" << m[1].text.size()
                                 << " of " << longPath.size() << " arrived)";
  EXPECT_EQ(m[2].text, third);
}

TEST(ProgressChannel, TextsThatCannotBePostedAreFreedAtOnce) {
  // A window that no longer exists: every post fails. Each undeliverable copy
  // of a 1 MiB path would stay allocated if it were not freed.
  HWND gone;
  {
    MessageSink sink;
    gone = sink.window();
  }
  ASSERT_FALSE(IsWindow(gone));
  const std::string huge(1u << 20, 'x');
  ProgressCB progress(gone);
  progress.fileStarted("warm-up", huge.c_str());
  const uint64_t before = privateBytes();
  for (int i = 0; i < 200; ++i) progress.fileStarted("n", huge.c_str());
  progress.flush();
  const uint64_t after = privateBytes();
  const uint64_t grown = after > before ? after - before : 0;
  EXPECT_LT(grown, 32u << 20) << "private bytes grew by " << (grown >> 20) << " MiB over 200 failed posts of "
                              << "1 MiB texts (200 MiB if none were freed)";
}

}  // namespace
