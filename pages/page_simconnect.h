// PageSimConnect, the SimConnect page: runs SimConnect's installer on a product-only computer (template 109).
#pragma once

#include "wizard/wizard_page.h"

class PageSimConnect : public TL3Page {
 public:
  WORD getTemplateId() override;
};
