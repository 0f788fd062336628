#include "install/page_progress.h"

#include "resources/resource_ids.h"

WORD PageProgress::getTemplateId() { return IDD_PROGRESS; }
