// PageLicense, the licence page: agreement text and acceptance box (template 103).
#pragma once

#include "wizard/wizard_page.h"

class PageLicense : public TL3Page {
 public:
  WORD getTemplateId() override;
};
