// PageSimConnect, the SimConnect page (template 109): on a computer that runs
// only the product, runs SimConnect's installer package with msiexec.
#pragma once

#include <windows.h>

#include <string>

#include "wizard/wizard_page.h"

class PageSimConnect : public TL3Page {
 public:
  WORD getTemplateId() override;
  // Cancel enabled, Back and Next disabled until the installer has run; then
  // the default.
  int onEnter(Porter::WizardUI* wizard, HWND page) override;
  // WM_COMMAND from the launch button (1025) runs the installer and returns 1.
  // After it ran, Next is enabled and the button is disabled and hidden; when
  // it cannot be started, message 181 is shown and the page keeps waiting.
  INT_PTR onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) override;

  // Runs `msiexec /i "<productDir>simconnect.msi"` with the msiexec of the
  // system folder named as the program (never one found through the search
  // path, which begins with the installer's own folder), the system folder as
  // its current folder, and waits for it without a time-out; msiexec's exit
  // code is not examined. Before it starts, the package is held open against
  // writing, renaming and deleting until msiexec ends, and made to hold the
  // bytes of the payload of module (null: the program's own) (see
  // simconnect_package.h). False when the system folder is unknown, the
  // command does not fit its 260-character buffer, the package cannot be
  // made the payload's or the process cannot be started; *error (when given)
  // then holds the Windows error (ERROR_INSUFFICIENT_BUFFER for a command too
  // long), and 0 on success.
  static bool runSimConnectInstaller(const std::string& productDir, DWORD* error, HMODULE payload = nullptr);
};
