// The progress channel: five private messages posted by the installation worker
// to the progress page window, and ProgressCB, the extractor's status sink that
// turns reports into those messages. The worker never sends, it only posts.
#pragma once

#include <windows.h>

#include <cstdint>

#include "payload/file_extractor.h"

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
// runs.
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

// Every report becomes one message, in the order of the reports. The
// messages of a file's progress and its end wait in a short list and go out
// together: when the next file starts (its WM_INSTALL_FILE goes with them at
// once), when the list is full, when kFlushMs have passed since the last
// ones went, and at flush() and the end of the ProgressCB. A message posted
// while the page waits for one wakes it; a few posted together wake it once,
// which under Wine makes each post about as dear as a bare PostMessage from
// an idle thread. The page sees a file's name as it starts and its progress
// at most kFlushMs late.
class ProgressCB : public Porter::FileExtractorStatus {
 public:
  static constexpr DWORD kFlushMs = 50;
  explicit ProgressCB(HWND targetWindow);
  ~ProgressCB();  // posts what still waits
  ProgressCB(const ProgressCB&) = delete;
  ProgressCB& operator=(const ProgressCB&) = delete;
  void setTotal(uint32_t total);  // posts WM_INSTALL_TOTAL

  void fileStarted(const char* name, const char* targetPath) override;
  void fileProgress(uint32_t compressedDone, uint32_t compressedTotal, uint32_t uncompressedDone,
                    uint32_t uncompressedTotal) override;
  void fileFinished() override;

  // Posts every message that waits, in order. The worker calls it before its
  // end message.
  void flush();

 private:
  struct Waiting {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  void add(UINT message, WPARAM wParam, LPARAM lParam);

  HWND targetWindow;
  char text[260];  // the last target path, cut at 259 characters (kept for callers that read it)
  Waiting waiting_[32];
  size_t waitingCount_ = 0;
  DWORD lastFlush_ = 0;
};
