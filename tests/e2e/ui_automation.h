// Driving another process's windows from outside, the way a user would: find
// top-level windows by caption, read control texts, click buttons, answer
// message boxes. Clicks are posted (BM_CLICK), never sent, because a click may
// open a modal box and a sent message would wait for it; texts are read with
// SendMessageTimeout so a busy or hung target cannot block the driver.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ui {

// Top-level windows of process pid (0: any process) whose caption is exactly
// caption, in z-order; with dialogsOnly, only windows of the dialog class.
std::vector<HWND> topLevelWindows(DWORD pid, const std::string& caption, bool dialogsOnly);

// Text of a window of any process (empty on failure or time-out).
std::string text(HWND window);

// A wait of ms milliseconds stretched for a run whose programs are slower
// than the machine's own (make test-i686-emulated: emulated by qemu-user) by
// the factor in TL_TEST_TIME_FACTOR (1 when unset). Every wait for the other
// process goes through it.
DWORD scaled(DWORD ms);

// Polls every few milliseconds until condition() is true or timeoutMs passed
// (scaled). Returns the last value of condition().
template <typename Condition>
bool waitFor(Condition condition, DWORD timeoutMs) {
  timeoutMs = scaled(timeoutMs);
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return condition();
    Sleep(5);
  }
}

// Posts BM_CLICK to control id of parent. False when there is no such control.
bool click(HWND parent, int id);
bool isEnabled(HWND parent, int id);
bool isVisible(HWND parent, int id);
bool isChecked(HWND parent, int id);  // BM_GETCHECK == BST_CHECKED

// The window that has the keyboard focus in the thread of window (null when
// none has it).
HWND focusOf(HWND window);
// A key pressed and let go, as the keyboard delivers it, posted to the window
// that has the focus in the thread of window: WM_KEYDOWN and WM_KEYUP, or with
// alt WM_SYSKEYDOWN and WM_SYSKEYUP carrying the Alt flag (the target's
// TranslateMessage makes the WM_CHAR or WM_SYSCHAR of it). False when no
// window has the focus.
bool pressKey(HWND window, UINT virtualKey, bool alt = false);

// A message box of process pid with the given caption, as shown by
// MessageBoxA: its text (static control 0xFFFF) and its buttons.
struct MessageBox {
  HWND window = nullptr;
  std::string text;
};
// Waits up to timeoutMs for such a box. window is null when none appeared.
MessageBox waitForMessageBox(DWORD pid, const std::string& caption, DWORD timeoutMs);
// Clicks button id (IDOK, IDYES, IDNO) of the box and waits until it is gone.
bool answer(const MessageBox& box, int id, DWORD timeoutMs = 5000);

}  // namespace ui
