#include "install/message_sink.h"

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
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    drain();
    if (WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0) {
      drain();  // everything the thread posted is queued by now
      return done_;
    }
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) {
      // Do not leave a worker running into the next test's extractor.
      WaitForSingleObject(thread.get(), INFINITE);
      drain();
      return false;
    }
    HANDLE handle = thread.get();
    MsgWaitForMultipleObjects(1, &handle, FALSE, static_cast<DWORD>(deadline - now), QS_ALLPOSTMESSAGE);
  }
}

}  // namespace tltest
