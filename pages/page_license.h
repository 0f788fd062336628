// PageLicense, the licence page: agreement text and acceptance box (template
// 103). Next is available exactly while the box is ticked.
#pragma once

#include <string>

#include "wizard/wizard_page.h"

class PageLicense : public TL3Page {
 public:
  WORD getTemplateId() override;
  // Fills edit 1002 with the agreement and clears box 1003.
  void onCreate(Porter::WizardUI* wizard, HWND page) override;
  // updateLicenseNextState, then the default (header bitmap shown).
  int onEnter(Porter::WizardUI* wizard, HWND page) override;
  // WM_COMMAND from box 1003 runs updateLicenseNextState and returns 1;
  // everything else gets the default.
  INT_PTR onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) override;

  // Next (and Finish) enabled when box 1003 is ticked, disabled otherwise;
  // Cancel and Back are left as they are.
  static void updateLicenseNextState(Porter::WizardUI* wizard, HWND page);
  // String 109, then strings 139 to 177, each followed by "\r\n\r\n" (the
  // line breaks a multi-line edit box needs).
  static std::string licenceText();
};
