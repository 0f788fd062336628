// PageWelcome, the welcome page: greeting and picture (template 102).
#pragma once

#include "wizard/wizard_page.h"

class PageWelcome : public TL3Page {
 public:
  WORD getTemplateId() override;
};
