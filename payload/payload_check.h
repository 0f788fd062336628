// Proves a module's payload sound before the installation changes anything:
// every catalogue stream is inflated (nothing written) and its zlib check
// value compared, chunk by chunk, in the order the streams lie in the chunks.
// A run on a thread of its own starts with the program, so the check is
// usually done while the user still reads the first pages; the progress page
// asks for the result before its first change and waits there if need be.
#pragma once

#include <windows.h>

#include "platform/handles.h"

// 0 when the catalogue can be read and every stream inflates whole and
// checked; otherwise the extractor's result for the first stream in payload
// order that fails (8 damaged stream, 4 to 6 missing chunk, ...), or 4 when
// the catalogue cannot be read (as the worker reports an extractor that
// cannot be initialised). Runs on the calling thread.
int checkPayload(HMODULE module);

// One check of one module on a thread of its own.
class PayloadCheck {
 public:
  PayloadCheck() = default;
  // Waits for a check still running: its thread reads the module's resources.
  ~PayloadCheck();
  PayloadCheck(const PayloadCheck&) = delete;
  PayloadCheck& operator=(const PayloadCheck&) = delete;

  // Starts checking module on a new thread; does nothing when a check has
  // been started already. Without a thread, result() checks on its caller's.
  void start(HMODULE module);
  // The result of checkPayload for module. The started check when it is of
  // the same module (waited for, handling the calling thread's messages
  // meanwhile so that its windows stay drawn); otherwise a check on the
  // calling thread. A quit message met while waiting is posted again.
  int result(HMODULE module);

 private:
  static DWORD WINAPI run(LPVOID self);

  HMODULE module_ = nullptr;
  win::KernelHandle thread_;
  volatile LONG result_ = 0;  // written by the thread before it ends
};

// The program's one check, started by the entry routine and read by the
// progress page.
PayloadCheck& payloadCheck();
