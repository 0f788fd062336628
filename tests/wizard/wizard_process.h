// Driving a wizard in another process, as a user would: start it, find its
// windows by process, read their state, answer its message boxes. Shared by
// the entry-routine tests and the start-up benchmark.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/child_process.h"

using tltest::ChildProcess;

// The first visible top-level dialog (#32770) of process pid that has a child
// with id childId; null when there is none.
HWND findDialogOf(DWORD pid, int childId);
// Polls findDialogOf every pollMs until timeoutMs; null on time-out.
HWND waitForDialogOf(DWORD pid, int childId, DWORD timeoutMs, DWORD pollMs = 10);

// Window text, read with a time-out so a hung target cannot hang the caller.
std::string windowText(HWND window);
// Child page dialogs (#32770) of a frame: how many, and how many are visible.
int countChildDialogs(HWND frame, bool visibleOnly);
// Presses a button of another thread's window: posted, never sent, so a modal
// loop it opens cannot block the caller.
void clickButton(HWND dialog, int buttonId);
