// PageFSDir, the simulator version page: a choice among several installed versions (template 108).
#pragma once

#include "wizard/wizard_page.h"

class PageFSDir : public TL3Page {
 public:
  WORD getTemplateId() override;
};
