// PageFinished, the finished page (template 107): on Finish, opens the user
// guide and the readme file when their boxes are ticked, then ends the wizard.
#pragma once

#include "wizard/wizard_page.h"

class PageFinished : public TL3Page {
 public:
  WORD getTemplateId() override;
  // Cancel and Back disabled, Finish left as it is; then the default.
  int onEnter(Porter::WizardUI* wizard, HWND page) override;
  // Box 1011: the documentation address; box 1010: "readme.txt" in the
  // product folder; in that order, through ShellExecuteExA, whose results are
  // not examined. Then the default (shutdown).
  int onFinish(Porter::WizardUI* wizard, HWND page) override;
};
