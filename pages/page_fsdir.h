// PageFSDir, the simulator version page (template 108): a choice among several
// installed Flight Simulator versions. Passes itself over when exactly one
// version is selected.
#pragma once

#include "wizard/wizard_page.h"

class PageFSDir : public TL3Page {
 public:
  WORD getTemplateId() override;
  // Exactly one flag set: next, and 1 at once (never shown). Otherwise each
  // flag becomes "its folder is not empty", boxes 1025/1026/1024 show them,
  // then the default.
  int onEnter(Porter::WizardUI* wizard, HWND page) override;
  // SimulatorOnly: goToPage(current - 2), back to the setup type page over the
  // product folder page; otherwise back. Always 1.
  int onBack(Porter::WizardUI* wizard, HWND page) override;
  // WM_COMMAND from 1024, 1025 or 1026 stores that box's state in its flag
  // and returns 1.
  INT_PTR onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) override;
};
