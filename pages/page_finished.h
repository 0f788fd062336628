// PageFinished, the finished page: documents to open (template 107).
#pragma once

#include "wizard/wizard_page.h"

class PageFinished : public TL3Page {
 public:
  WORD getTemplateId() override;
};
