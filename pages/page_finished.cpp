#include "pages/page_finished.h"

#include "resources/resource_ids.h"

WORD PageFinished::getTemplateId() { return IDD_FINISHED; }
