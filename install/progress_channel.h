// The progress channel: five private messages posted by the installation worker
// to the progress page window, and ProgressCB, the extractor's status sink that
// turns reports into those messages. The worker never sends, it only posts.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "payload/file_extractor.h"
#include "platform/handles.h"

constexpr UINT WM_INSTALL_TOTAL = WM_USER + 0x100;      // wParam total bytes, lParam 0
constexpr UINT WM_INSTALL_FILE = WM_USER + 0x101;       // wParam 0, lParam file text (see below)
constexpr UINT WM_INSTALL_FILE_DONE = WM_USER + 0x102;  // wParam 0, lParam 0
constexpr UINT WM_INSTALL_PROGRESS = WM_USER + 0x103;   // wParam bytes of the file so far, lParam its size
constexpr UINT WM_INSTALL_DONE = WM_USER + 0x104;       // wParam result (0 = success), lParam 0

// WM_INSTALL_FILE carries, in lParam, a heap copy of the target path made for
// that one message (any length): the receiver owns it and must release it with
// releaseFileText() once shown. A message that is never received leaks only
// that copy. fileTextOf() gives the text. Any program on the desktop can post
// these messages (there is no UIPI on XP), so the channel keeps the addresses
// of the copies it has posted and not yet seen released: for any other value
// (0 included) fileTextOf() gives "" and releaseFileText() does nothing.
const char* fileTextOf(LPARAM lParam);
void releaseFileText(LPARAM lParam);
// Whether lParam is a copy that the channel posted and nobody has released.
bool isFileText(LPARAM lParam);

// Every message of the channel goes through this one platform call. Windows
// refuses a post while 10,000 messages wait in the receiving thread's queue,
// and a full-size run posts more than that, so a user-interface thread that
// stalls for a moment can make posts fail; tests replace the call to produce
// that on demand. Null puts PostMessageA back. Set it only while no worker
// runs and no ProgressCB exists (its posting thread makes the call).
using ChannelPost = BOOL(WINAPI*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void setChannelPost(ChannelPost post);

// Posts WM_INSTALL_DONE with result. A progress message that cannot be posted
// only leaves the bar behind, but without its end message the page would wait
// forever with every button disabled: this one is posted again, 10 ms apart,
// until it is queued or the window is gone. True when it was queued.
bool postInstallDone(HWND window, int result);

// The end message that postInstallDone queued for window, once: true with its
// result in *result, and forgotten. False when none was posted (a message
// forged by another program), and *result is unchanged.
bool claimInstallDone(HWND window, int* result);

// Every report becomes one message, in the order of the reports. Under Wine
// each post is a request to the Wine server that costs the posting thread
// about as much as creating a small file, and a run posts thousands. So the
// reports wait in a short ring, and a thread of the channel's own posts them
// from there, in order, every kPostEveryMs: the worker hands a report over
// without a request of its own, its file work and the posts go on side by
// side, and the page is woken once for the messages of several files. The
// screen shows a frame every 40 ms, so nothing shows later for it. Nothing
// waits for the page. Without that thread (it could not be started) each
// report is posted at once by its caller.
class ProgressCB : public Porter::FileExtractorStatus {
 public:
  explicit ProgressCB(HWND targetWindow);
  ~ProgressCB();  // posts what still waits, then ends the posting thread
  ProgressCB(const ProgressCB&) = delete;
  ProgressCB& operator=(const ProgressCB&) = delete;
  void setTotal(uint32_t total);  // posts WM_INSTALL_TOTAL

  void fileStarted(const char* name, const char* targetPath) override;
  void fileProgress(uint32_t compressedDone, uint32_t compressedTotal, uint32_t uncompressedDone,
                    uint32_t uncompressedTotal) override;
  void fileFinished() override;

  // Returns once every message handed over so far has been posted. The
  // worker calls it before its end message, which must come last.
  void flush();

 private:
  struct Waiting {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  static constexpr size_t kRing = 1024;  // a power of two
  static constexpr DWORD kPostEveryMs = 10;
  static DWORD WINAPI postingThread(LPVOID self);
  void add(UINT message, WPARAM wParam, LPARAM lParam);
  // Posts one report; a file text that cannot be posted is released.
  void postReport(UINT message, WPARAM wParam, LPARAM lParam);
  void postWaiting();  // on the posting thread
  // Returns once the first count messages handed over have been posted.
  void waitUntilPosted(size_t count);

  HWND targetWindow;
  char text[260];  // the last target path, cut at 259 characters (kept for callers that read it)
  // Written by the worker at added_, read by the posting thread up to it;
  // posted_ is the posting thread's count. Both only grow.
  Waiting ring_[kRing];
  std::atomic<size_t> added_{0};
  std::atomic<size_t> posted_{0};
  std::atomic<bool> ending_{false};
  win::KernelHandle wake_;    // wakes the posting thread before its time
  win::KernelHandle poster_;  // the posting thread
};
