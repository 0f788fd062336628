// The real Feedback: message boxes and the progress window for a normal run,
// the progress window alone for /passive, nothing at all for /S; the passive
// and silent runs write their outcome to a log file instead of a final
// message box. The log goes into the run's private folder (relaunch.h), never
// to a fixed name in the temporary folder, where anyone could have put a link
// or a file of that name in advance.
#pragma once

#include <windows.h>

#include <string>

#include "tools/uninstaller/command_line.h"
#include "tools/uninstaller/progress_window.h"
#include "tools/uninstaller/uninstaller.h"

namespace uninst {

class UserFeedback : public Feedback {
 public:
  // logFolder: the private folder the program runs from (closing backslash),
  // or empty, when a new private folder is made for the log if one is written.
  UserFeedback(HINSTANCE instance, UiLevel level, const std::wstring& logFolder)
      : instance_(instance), level_(level), logFolder_(logFolder) {}

  bool confirm(const std::string& caption, const std::string& text) override;
  void begin(const std::string& title, size_t steps) override;
  void step(size_t done, const std::string& caption) override;
  void end() override;
  void report(const std::string& caption, const std::string& text, bool problem) override;

 private:
  HINSTANCE instance_;
  UiLevel level_;
  std::wstring logFolder_;
  ProgressWindow window_;
};

// Writes text (lines ended with CRLF) as folder + "tluninstall.log", a file
// that must not exist yet. Returns false when it cannot be written.
bool writeLogFile(const std::wstring& folder, const std::string& text);

}  // namespace uninst
