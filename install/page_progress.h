// PageProgress, the progress page: prepares, starts and ends an installation
// run (template 106).
#pragma once

#include "wizard/wizard_page.h"

class PageProgress : public TL3Page {
 public:
  WORD getTemplateId() override;
};
