// One run of setup.exe under the driver's control: started as a process of
// its own, its wizard found by caption, its current page told apart by the
// controls each page template has, its frame buttons clicked.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/child_process.h"

namespace e2e {

// Wizard page indices, in wizard order.
enum Page : int { Welcome = 0, License, Type, TLDir, FSDir, Progress, SimConnect, Finished };
const char* pageName(int page);

class WizardSession {
 public:
  WizardSession() = default;
  // Ends the process if it is still running (a failed check must not leave
  // an installer behind in the prefix).
  ~WizardSession();
  WizardSession(const WizardSession&) = delete;
  WizardSession& operator=(const WizardSession&) = delete;

  // Starts exePath (a Windows path) in workDir and waits for its frame. False
  // when the process cannot start or no frame appears in time.
  bool start(const std::string& exePath, const std::string& workDir, DWORD timeoutMs = 30000);
  DWORD pid() const { return child_.id(); }
  HWND frame() const { return frame_; }

  // Index of the visible page, -1 when none is visible (between pages, or
  // after the frame was destroyed).
  int currentPage() const;
  HWND page() const;  // the visible page window, or null
  // The window of page `index`, shown or not (the wizard creates every page
  // when it starts), or null.
  HWND pageWindow(int index) const;
  bool waitForPage(int index, DWORD timeoutMs = 15000);

  // Posts BM_CLICK to a frame button (IDC_NEXT, IDC_BACK, IDC_CANCEL,
  // IDC_FINISH). False when it is missing, hidden or disabled.
  bool press(int buttonId);
  bool frameButtonEnabled(int buttonId) const;
  bool frameButtonVisible(int buttonId) const;

  // Waits for the process to end; *exitCode receives its exit code.
  bool waitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
  bool running() const;
  // Ends the process by force (clean-up after a failed check).
  void kill();

 private:
  tltest::ChildProcess child_;
  HWND frame_ = nullptr;
};

// Saves a screenshot named name when the driver runs for `make run`
// (TL_E2E_SCREENS names the folder): the driver leaves a request file there
// and waits until the script beside it has taken the picture and removed it.
void screenshot(const std::string& name);

// The same for a page that may be gone before the script could take it (the
// progress page of a small payload): the driver copies the screen itself, at
// once, into name.bmp in that folder, which the script turns into name.png.
void screenshotNow(const std::string& name);

}  // namespace e2e
