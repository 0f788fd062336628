// PageWelcome, the welcome page: greeting and picture (template 102). The only
// page without the frame's header bitmap.
#pragma once

#include <string>

#include "wizard/wizard_page.h"

class PageWelcome : public TL3Page {
 public:
  WORD getTemplateId() override;
  // Sets the welcome text on control 1015.
  void onCreate(Porter::WizardUI* wizard, HWND page) override;
  bool showsHeaderBitmap() override;  // false

  // Strings 105, 106, 107, 108 and 123 joined by one, two, two and two line
  // feeds; a string that cannot be loaded contributes an empty text.
  static std::string welcomeText();
};
