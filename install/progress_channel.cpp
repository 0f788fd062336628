// ProgressCB: the worker-side end of the progress channel. It only posts, so
// the worker never waits for the page.
#include "install/progress_channel.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {

// Null: PostMessageA (a constant, so no static initialiser runs first).
std::atomic<ChannelPost> channelPost{nullptr};

BOOL post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const ChannelPost replacement = channelPost.load(std::memory_order_relaxed);
  return replacement != nullptr ? replacement(window, message, wParam, lParam)
                                : PostMessageA(window, message, wParam, lParam);
}

// Between two tries of the end message: long enough for the page to empty
// part of its queue, short beside the run.
constexpr DWORD kEndRetryMs = 10;

// The heap copy that WM_INSTALL_FILE carries. Allocated with new[] here and
// released only by releaseFileText, so sender and receiver agree on the heap
// whatever module the receiver lives in (both link this file).
char* copyText(const char* text) {
  size_t length = std::strlen(text);
  char* copy = new (std::nothrow) char[length + 1];
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

}  // namespace

void setChannelPost(ChannelPost replacement) {
  channelPost.store(replacement, std::memory_order_relaxed);
}

bool postInstallDone(HWND window, int result) {
  for (;;) {
    if (post(window, WM_INSTALL_DONE, static_cast<WPARAM>(result), 0)) return true;
    // A window that is gone will never read it (the program is shutting
    // down); anything else is a full queue, which the page is emptying.
    if (!IsWindow(window)) return false;
    Sleep(kEndRetryMs);
  }
}

const char* fileTextOf(LPARAM lParam) {
  return lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
}

void releaseFileText(LPARAM lParam) { delete[] reinterpret_cast<char*>(lParam); }

ProgressCB::ProgressCB(HWND window) : targetWindow(window) { text[0] = '\0'; }

void ProgressCB::setTotal(uint32_t total) {
  post(targetWindow, WM_INSTALL_TOTAL, static_cast<WPARAM>(total), 0);
}

void ProgressCB::fileStarted(const char* /*name*/, const char* targetPath) {
  if (targetPath == nullptr) targetPath = "";
  // The fixed buffer keeps the last path for anyone who reads it on this
  // thread; it is cut at 259 characters and never travels to the page, which
  // may handle the message long after the next file has overwritten it.
  size_t length = std::strlen(targetPath);
  if (length >= sizeof(text)) length = sizeof(text) - 1;
  std::memcpy(text, targetPath, length);
  text[length] = '\0';

  // The page gets a copy of its own, whole, whatever its length. Without
  // memory the message still goes out (the status line stays empty, the bar
  // keeps counting).
  char* copy = copyText(targetPath);
  LPARAM lParam = reinterpret_cast<LPARAM>(copy);
  if (!post(targetWindow, WM_INSTALL_FILE, 0, lParam)) {
    // Nobody will ever see this copy: the queue is full or the window is gone.
    releaseFileText(lParam);
  }
}

void ProgressCB::fileProgress(uint32_t /*compressedDone*/, uint32_t /*compressedTotal*/, uint32_t uncompressedDone,
                              uint32_t uncompressedTotal) {
  post(targetWindow, WM_INSTALL_PROGRESS, static_cast<WPARAM>(uncompressedDone),
               static_cast<LPARAM>(uncompressedTotal));
}

void ProgressCB::fileFinished() { post(targetWindow, WM_INSTALL_FILE_DONE, 0, 0); }
