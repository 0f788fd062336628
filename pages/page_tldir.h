// PageTLDir, the product folder page (template 105).
#pragma once

#include "wizard/wizard_page.h"

class PageTLDir : public TL3Page {
 public:
  WORD getTemplateId() override;
};
