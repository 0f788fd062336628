// The real Feedback: message boxes and the progress window for a normal run,
// the progress window alone for /passive, nothing at all for /S; the passive
// and silent runs write their outcome to %TEMP%\tluninstall.log instead of a
// final message box.
#pragma once

#include <windows.h>

#include <string>

#include "tools/uninstaller/command_line.h"
#include "tools/uninstaller/progress_window.h"
#include "tools/uninstaller/uninstaller.h"

namespace uninst {

class UserFeedback : public Feedback {
 public:
  UserFeedback(HINSTANCE instance, UiLevel level) : instance_(instance), level_(level) {}

  bool confirm(const std::string& caption, const std::string& text) override;
  void begin(const std::string& title, size_t steps) override;
  void step(size_t done, const std::string& caption) override;
  void end() override;
  void report(const std::string& caption, const std::string& text, bool problem) override;

 private:
  HINSTANCE instance_;
  UiLevel level_;
  ProgressWindow window_;
};

// The log file's path: %TEMP%\tluninstall.log.
std::string logFilePath();

// Replaces the log file with text (lines ended with CRLF). Returns false when
// it cannot be written.
bool writeLogFile(const std::string& text);

}  // namespace uninst
