#include "tests/e2e/ui_automation.h"

#include <cstdlib>

namespace ui {

DWORD scaled(DWORD ms) {
  static const DWORD factor = [] {
    const char* value = std::getenv("TL_TEST_TIME_FACTOR");
    const long parsed = value != nullptr ? std::strtol(value, nullptr, 10) : 1;
    return parsed >= 1 && parsed <= 100 ? static_cast<DWORD>(parsed) : 1u;
  }();
  if (ms == INFINITE || ms > (INFINITE - 1) / factor) return ms == INFINITE ? INFINITE : INFINITE - 1;
  return ms * factor;
}

namespace {

constexpr UINT kTextTimeoutMs = 2000;
constexpr int kMessageBoxTextId = 0xFFFF;

struct Search {
  DWORD pid;
  const std::string* caption;
  bool dialogsOnly;
  std::vector<HWND>* found;
};

BOOL CALLBACK collect(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (search->pid != 0 && owner != search->pid) return TRUE;
  if (search->dialogsOnly) {
    char className[32] = {};
    GetClassNameA(window, className, sizeof(className));
    if (std::string(className) != "#32770") return TRUE;
  }
  if (text(window) == *search->caption) search->found->push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> topLevelWindows(DWORD pid, const std::string& caption, bool dialogsOnly) {
  std::vector<HWND> found;
  Search search{pid, &caption, dialogsOnly, &found};
  EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
  return found;
}

std::string text(HWND window) {
  if (window == nullptr) return std::string();
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &length)) {
    return std::string();
  }
  std::vector<char> buffer(length + 1, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                           SMTO_ABORTIFHUNG, kTextTimeoutMs, &copied)) {
    return std::string();
  }
  return std::string(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
}

bool click(HWND parent, int id) {
  HWND control = GetDlgItem(parent, id);
  if (control == nullptr) return false;
  return PostMessageA(control, BM_CLICK, 0, 0) != FALSE;
}

bool isEnabled(HWND parent, int id) {
  HWND control = GetDlgItem(parent, id);
  return control != nullptr && IsWindowEnabled(control);
}

bool isVisible(HWND parent, int id) {
  HWND control = GetDlgItem(parent, id);
  return control != nullptr && IsWindowVisible(control);
}

bool isChecked(HWND parent, int id) {
  HWND control = GetDlgItem(parent, id);
  if (control == nullptr) return false;
  DWORD_PTR state = 0;
  if (!SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &state)) return false;
  return state == BST_CHECKED;
}

MessageBox waitForMessageBox(DWORD pid, const std::string& caption, DWORD timeoutMs) {
  MessageBox box;
  waitFor(
      [&] {
        for (HWND window : topLevelWindows(pid, caption, true)) {
          // A message box has its text control; a wizard frame of the same
          // caption does not.
          if (IsWindowVisible(window) && GetDlgItem(window, kMessageBoxTextId) != nullptr) {
            box.window = window;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  if (box.window != nullptr) box.text = text(GetDlgItem(box.window, kMessageBoxTextId));
  return box;
}

bool answer(const MessageBox& box, int id, DWORD timeoutMs) {
  if (box.window == nullptr || !click(box.window, id)) return false;
  return waitFor([&] { return !IsWindow(box.window); }, timeoutMs);
}

HWND focusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (thread == 0 || !GetGUIThreadInfo(thread, &info)) return nullptr;
  return info.hwndFocus;
}

bool pressKey(HWND window, UINT virtualKey, bool alt) {
  HWND focus = focusOf(window);
  if (focus == nullptr) return false;
  const UINT scan = MapVirtualKeyA(virtualKey, 0 /* MAPVK_VK_TO_VSC */);
  // Repeat count 1, the scan code, bit 29 for Alt, bits 30-31 on the release.
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (alt ? (1 << 29) : 0);
  const LPARAM up = down | (1u << 30) | (1u << 31);
  return PostMessageA(focus, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, virtualKey, down) &&
         PostMessageA(focus, alt ? WM_SYSKEYUP : WM_KEYUP, virtualKey, up);
}

}  // namespace ui
