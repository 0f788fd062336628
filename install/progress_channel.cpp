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

// Guards what the worker and the page share below; held for a lookup or an
// insertion only. A spin lock needs no initialisation at run time.
std::atomic_flag channelLock = ATOMIC_FLAG_INIT;

class ChannelLocked {
 public:
  ChannelLocked() {
    while (channelLock.test_and_set(std::memory_order_acquire)) SwitchToThread();
  }
  ~ChannelLocked() { channelLock.clear(std::memory_order_release); }
  ChannelLocked(const ChannelLocked&) = delete;
  ChannelLocked& operator=(const ChannelLocked&) = delete;
};

// The copies posted and not yet released, oldest first: the only addresses a
// receiver may read or free. Each copy is one allocation, its link to the
// next one first and its text after it, so keeping it known allocates
// nothing more. The page takes them in the order they were posted, so a
// search from the front finds the one asked for at once.
struct PostedText {
  PostedText* next;
};
PostedText* firstPosted = nullptr;
PostedText* lastPosted = nullptr;

char* textOf(PostedText* posted) { return reinterpret_cast<char*>(posted + 1); }

// The copy whose text is at lParam, and the one before it (null for the
// first); null when lParam is none of them. Called with the lock held.
PostedText* findPosted(LPARAM lParam, PostedText** before) {
  *before = nullptr;
  for (PostedText* posted = firstPosted; posted != nullptr; posted = posted->next) {
    if (reinterpret_cast<LPARAM>(textOf(posted)) == lParam) return posted;
    *before = posted;
  }
  return nullptr;
}

bool isPostedText(LPARAM lParam) {
  ChannelLocked locked;
  PostedText* before;
  return lParam != 0 && findPosted(lParam, &before) != nullptr;
}

// The heap copy that WM_INSTALL_FILE carries, known to the channel. Allocated
// with new[] here and released only by releaseFileText, so sender and
// receiver agree on the heap whatever module the receiver lives in (both link
// this file). Null without memory.
LPARAM copyText(const char* text) {
  size_t length = std::strlen(text);
  char* block = new (std::nothrow) char[sizeof(PostedText) + length + 1];
  if (block == nullptr) return 0;
  PostedText* posted = new (block) PostedText{nullptr};
  std::memcpy(textOf(posted), text, length + 1);
  ChannelLocked locked;
  if (lastPosted != nullptr) {
    lastPosted->next = posted;
  } else {
    firstPosted = posted;
  }
  lastPosted = posted;
  return reinterpret_cast<LPARAM>(textOf(posted));
}

// End messages queued and not yet claimed, one per window (a few windows at
// most: a run posts one, and only tests run several).
struct PostedEnd {
  HWND window;
  int result;
};
PostedEnd postedEnds[8];
size_t postedEndCount = 0;

void rememberEnd(HWND window, int result) {
  ChannelLocked locked;
  for (size_t i = 0; i < postedEndCount; ++i) {
    if (postedEnds[i].window == window) {
      postedEnds[i].result = result;
      return;
    }
  }
  if (postedEndCount == sizeof(postedEnds) / sizeof(postedEnds[0])) {
    // Receivers that never claim (windows of tests): the oldest goes.
    std::memmove(postedEnds, postedEnds + 1, sizeof(postedEnds) - sizeof(postedEnds[0]));
    --postedEndCount;
  }
  postedEnds[postedEndCount++] = PostedEnd{window, result};
}

bool takeEnd(HWND window, int* result) {
  ChannelLocked locked;
  for (size_t i = 0; i < postedEndCount; ++i) {
    if (postedEnds[i].window == window) {
      *result = postedEnds[i].result;
      postedEnds[i] = postedEnds[--postedEndCount];
      return true;
    }
  }
  return false;
}

}  // namespace

void setChannelPost(ChannelPost replacement) {
  channelPost.store(replacement, std::memory_order_relaxed);
}

bool postInstallDone(HWND window, int result) {
  // Known before it can arrive.
  rememberEnd(window, result);
  for (;;) {
    if (post(window, WM_INSTALL_DONE, static_cast<WPARAM>(result), 0)) return true;
    // A window that is gone will never read it (the program is shutting
    // down); anything else is a full queue, which the page is emptying.
    if (!IsWindow(window)) {
      int dropped;
      takeEnd(window, &dropped);
      return false;
    }
    Sleep(kEndRetryMs);
  }
}

bool claimInstallDone(HWND window, int* result) { return takeEnd(window, result); }

bool isFileText(LPARAM lParam) { return isPostedText(lParam); }

// The copy stays valid until releaseFileText, which only the receiver calls.
const char* fileTextOf(LPARAM lParam) {
  return isPostedText(lParam) ? reinterpret_cast<const char*>(lParam) : "";
}

void releaseFileText(LPARAM lParam) {
  PostedText* posted;
  {
    ChannelLocked locked;
    PostedText* before;
    posted = lParam != 0 ? findPosted(lParam, &before) : nullptr;
    if (posted == nullptr) return;  // not one of ours, or released already
    (before != nullptr ? before->next : firstPosted) = posted->next;
    if (lastPosted == posted) lastPosted = before;
  }
  delete[] reinterpret_cast<char*>(posted);
}

ProgressCB::ProgressCB(HWND window) : targetWindow(window) {
  text[0] = '\0';
  wake_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (wake_.valid()) poster_.reset(CreateThread(nullptr, 0, &ProgressCB::postingThread, this, 0, nullptr));
}

ProgressCB::~ProgressCB() {
  if (!poster_.valid()) return;
  ending_.store(true, std::memory_order_release);
  SetEvent(wake_.get());
  WaitForSingleObject(poster_.get(), INFINITE);  // it posts what still waits first
}

// Posts what waits, then waits kPostEveryMs or until it is woken, and again,
// until the channel ends and nothing waits.
DWORD WINAPI ProgressCB::postingThread(LPVOID self) {
  ProgressCB& channel = *static_cast<ProgressCB*>(self);
  for (;;) {
    const bool ending = channel.ending_.load(std::memory_order_acquire);
    channel.postWaiting();
    if (ending) return 0;
    // Behind (the ring half full already): on at once.
    const size_t waiting =
        channel.added_.load(std::memory_order_acquire) - channel.posted_.load(std::memory_order_relaxed);
    if (waiting < kRing / 2) WaitForSingleObject(channel.wake_.get(), kPostEveryMs);
  }
}

void ProgressCB::postReport(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!post(targetWindow, message, wParam, lParam) && message == WM_INSTALL_FILE) {
    // Nobody will ever see this copy: the queue is full or the window is gone.
    releaseFileText(lParam);
  }
}

void ProgressCB::postWaiting() {
  const size_t added = added_.load(std::memory_order_acquire);
  for (size_t next = posted_.load(std::memory_order_relaxed); next != added; ++next) {
    const Waiting w = ring_[next % kRing];
    postReport(w.message, w.wParam, w.lParam);
    posted_.store(next + 1, std::memory_order_release);
  }
}

void ProgressCB::waitUntilPosted(size_t count) {
  if (posted_.load(std::memory_order_acquire) >= count) return;
  SetEvent(wake_.get());  // now, not at its next round
  while (posted_.load(std::memory_order_acquire) < count) Sleep(1);
}

void ProgressCB::flush() {
  if (poster_.valid()) waitUntilPosted(added_.load(std::memory_order_relaxed));
}

void ProgressCB::add(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!poster_.valid()) {
    postReport(message, wParam, lParam);
    return;
  }
  const size_t added = added_.load(std::memory_order_relaxed);
  // A full ring: the posting thread is behind (it never waits for the page).
  // Waiting until half of it is free wakes this thread once for many posts.
  if (added - posted_.load(std::memory_order_acquire) == kRing) waitUntilPosted(added - kRing / 2);
  ring_[added % kRing] = Waiting{message, wParam, lParam};
  added_.store(added + 1, std::memory_order_release);
}

void ProgressCB::setTotal(uint32_t total) {
  add(WM_INSTALL_TOTAL, static_cast<WPARAM>(total), 0);
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
  add(WM_INSTALL_FILE, 0, copyText(targetPath));
}

void ProgressCB::fileProgress(uint32_t /*compressedDone*/, uint32_t /*compressedTotal*/, uint32_t uncompressedDone,
                              uint32_t uncompressedTotal) {
  add(WM_INSTALL_PROGRESS, static_cast<WPARAM>(uncompressedDone), static_cast<LPARAM>(uncompressedTotal));
}

void ProgressCB::fileFinished() { add(WM_INSTALL_FILE_DONE, 0, 0); }
