// PageType, the setup type page: which computer runs what (template 104).
#pragma once

#include "wizard/wizard_page.h"

class PageType : public TL3Page {
 public:
  WORD getTemplateId() override;
};
