#include "tools/uninstaller/feedback.h"

#include <algorithm>

#include "tools/uninstaller/relaunch.h"
#include "platform/handles.h"

namespace uninst {

std::string logFilePath() {
  std::string temp = temporaryFolder();
  return temp.empty() ? std::string() : temp + "tluninstall.log";
}

bool writeLogFile(const std::string& text) {
  std::string path = logFilePath();
  if (path.empty()) return false;
  std::string data;
  for (char c : text) {
    if (c == '\n') data += "\r\n";
    else data.push_back(c);
  }
  if (data.empty() || data.back() != '\n') data += "\r\n";
  win::FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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
  writeLogFile(caption + ": " + (problem ? "incomplete" : "complete") + "\n" + text);
}

}  // namespace uninst
