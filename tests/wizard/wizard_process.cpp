#include "tests/wizard/wizard_process.h"

#include <vector>

namespace {

bool isDialogClass(HWND window) {
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof(cls));
  return lstrcmpA(cls, "#32770") == 0;
}

struct DialogSearch {
  DWORD pid;
  int childId;
  HWND found;
};

BOOL CALLBACK matchDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->pid && IsWindowVisible(window) && isDialogClass(window) &&
      GetDlgItem(window, search->childId) != nullptr) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND findDialogOf(DWORD pid, int childId) {
  DialogSearch search{pid, childId, nullptr};
  EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND waitForDialogOf(DWORD pid, int childId, DWORD timeoutMs, DWORD pollMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (HWND found = findDialogOf(pid, childId)) return found;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(pollMs);
  }
}

std::string windowText(HWND window) {
  char buffer[512] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                           5000, &length)) {
    return std::string();
  }
  return std::string(buffer, static_cast<size_t>(length));
}

namespace {

struct DialogCount {
  bool visibleOnly;
  int count;
};

BOOL CALLBACK countDialog(HWND window, LPARAM param) {
  auto* c = reinterpret_cast<DialogCount*>(param);
  if (isDialogClass(window) && (!c->visibleOnly || IsWindowVisible(window))) ++c->count;
  return TRUE;
}

}  // namespace

int countChildDialogs(HWND frame, bool visibleOnly) {
  DialogCount count{visibleOnly, 0};
  EnumChildWindows(frame, countDialog, reinterpret_cast<LPARAM>(&count));
  return count.count;
}

void clickButton(HWND dialog, int buttonId) { PostMessageA(GetDlgItem(dialog, buttonId), BM_CLICK, 0, 0); }
