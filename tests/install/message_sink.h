// A headless receiver for the progress channel: a message-only window that
// records every message of a run, and a driver that runs installWorker on a
// real thread while pumping the window's queue.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install/worker.h"

namespace tltest {

// One posted message as it arrived; text is the file text of WM_INSTALL_FILE
// (its heap copy is released on arrival, as the page does).
struct Posted {
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::string text;
};

std::string describe(const Posted& posted);

class MessageSink {
 public:
  MessageSink();
  ~MessageSink();
  MessageSink(const MessageSink&) = delete;
  MessageSink& operator=(const MessageSink&) = delete;

  HWND window() const { return window_; }
  const std::vector<Posted>& messages() const { return messages_; }
  void clear() { messages_.clear(); }

  // Handles everything already queued for the window.
  void drain();

  // Starts installWorker(params) with CreateThread, pumps until
  // WM_INSTALL_DONE has arrived and the thread has ended (the extractor is a
  // singleton: the next run may start only then). False when the thread could
  // not start or the run did not end within timeoutMs; messages() holds what
  // arrived either way.
  bool runWorker(WorkerParams* params, DWORD timeoutMs = 120000);

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  std::vector<Posted> messages_;
  bool done_ = false;
};

}  // namespace tltest
