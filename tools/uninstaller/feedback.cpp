#include "tools/uninstaller/feedback.h"

#include <algorithm>

#include "tools/uninstaller/relaunch.h"
#include "platform/handles.h"

namespace uninst {

bool writeLogFile(const std::wstring& folder, const std::string& text) {
  if (folder.empty()) return false;
  const std::wstring path = folder + kLogName;
  std::string data;
  for (char c : text) {
    if (c == '\n') data += "\r\n";
    else data.push_back(c);
  }
  if (data.empty() || data.back() != '\n') data += "\r\n";
  // CREATE_NEW: never into a file or link that is already there.
  win::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  size_t written = 0;
  while (written < data.size()) {
    DWORD chunk = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - written, 1u << 20));
    if (!WriteFile(file.get(), data.data() + written, want, &chunk, nullptr) || chunk == 0) return false;
    written += chunk;
  }
  return true;
}

bool UserFeedback::confirm(const std::string& caption, const std::string& text) {
  if (level_ != UiLevel::Full) return true;
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void UserFeedback::begin(const std::string& title, size_t steps) {
  if (level_ == UiLevel::Silent) return;
  window_.create(instance_, title, steps + 1);  // the last step is the record itself
}

void UserFeedback::step(size_t done, const std::string& caption) { window_.show(done, caption); }

void UserFeedback::end() { window_.close(); }

void UserFeedback::report(const std::string& caption, const std::string& text, bool problem) {
  if (level_ == UiLevel::Full) {
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | (problem ? MB_ICONWARNING : MB_ICONINFORMATION));
    return;
  }
  bool ownFolder = false;
  if (logFolder_.empty()) {
    DWORD error = 0;
    logFolder_ = createPrivateFolder(&error);
    ownFolder = !logFolder_.empty();
  }
  if (writeLogFile(logFolder_, caption + ": " + (problem ? "incomplete" : "complete") + "\n" + text) && ownFolder) {
    // No launcher waits to tidy up after this run: the log and its folder are
    // kept for reading until the next restart, as after a run from a copy.
    MoveFileExW((logFolder_ + kLogName).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExW(logFolder_.substr(0, logFolder_.size() - 1).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

}  // namespace uninst
