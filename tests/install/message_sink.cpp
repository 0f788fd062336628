#include "tests/install/message_sink.h"

#include "install/progress_channel.h"

namespace tltest {

namespace {

const char kClassName[] = "TowerLinkTestMessageSink";

ATOM registerSinkClass(WNDPROC proc) {
  static ATOM atom = 0;
  if (atom == 0) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    atom = RegisterClassA(&wc);
  }
  return atom;
}

const char* messageName(UINT message) {
  switch (message) {
    case WM_INSTALL_TOTAL: return "TOTAL";
    case WM_INSTALL_FILE: return "FILE";
    case WM_INSTALL_FILE_DONE: return "FILE_DONE";
    case WM_INSTALL_PROGRESS: return "PROGRESS";
    case WM_INSTALL_DONE: return "DONE";
    default: return "other";
  }
}

// Closes a thread handle on every way out.
class ThreadHandle {
 public:
  explicit ThreadHandle(HANDLE handle) : handle_(handle) {}
  ~ThreadHandle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

std::string describe(const Posted& posted) {
  std::string text = messageName(posted.message);
  text += " w=" + std::to_string(static_cast<unsigned long long>(posted.wParam));
  text += " l=" + std::to_string(static_cast<long long>(posted.lParam));
  if (posted.message == WM_INSTALL_FILE) text += " \"" + posted.text + "\"";
  return text;
}

MessageSink::MessageSink() {
  registerSinkClass(&MessageSink::windowProc);
  window_ = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                            nullptr);
  if (window_ != nullptr) SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageSink::~MessageSink() {
  if (window_ != nullptr) {
    drain();  // releases the file texts still queued
    DestroyWindow(window_);
  }
}

LRESULT CALLBACK MessageSink::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* sink = reinterpret_cast<MessageSink*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (sink == nullptr || message < WM_INSTALL_TOTAL || message > WM_INSTALL_DONE) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  Posted posted;
  posted.message = message;
  posted.wParam = wParam;
  posted.lParam = lParam;
  if (message == WM_INSTALL_FILE) {
    posted.text = fileTextOf(lParam);
    releaseFileText(lParam);
  }
  if (message == WM_INSTALL_DONE) sink->done_ = true;
  sink->messages_.push_back(posted);
  return 0;
}

void MessageSink::drain() {
  MSG msg;
  while (PeekMessageA(&msg, window_, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

bool MessageSink::runWorker(WorkerParams* params, DWORD timeoutMs) {
  done_ = false;
  ThreadHandle thread(CreateThread(nullptr, 0, installWorker, params, 0, nullptr));
  if (thread.get() == nullptr) return false;
  // A plain GetMessage loop, as the installer's own message loop runs: one
  // wait per message. The timer only bounds a run that never ends.
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  const UINT_PTR timer = SetTimer(window_, 1, 250, nullptr);
  bool timedOut = false;
  MSG msg;
  while (!done_) {
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
    if (msg.hwnd == window_ && msg.message == WM_TIMER) {
      if (GetTickCount64() >= deadline) {
        timedOut = true;
        break;
      }
      // A worker that ended without its end message: nothing more will come.
      if (WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0) {
        drain();
        break;
      }
      continue;
    }
    DispatchMessageA(&msg);
  }
  if (timer != 0) KillTimer(window_, timer);
  // The extractor is a singleton: the next run may start only once this
  // thread has closed it.
  WaitForSingleObject(thread.get(), INFINITE);
  drain();
  return done_ && !timedOut;
}

}  // namespace tltest
