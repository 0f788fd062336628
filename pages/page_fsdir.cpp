#include "pages/page_fsdir.h"

#include "resources/resource_ids.h"

WORD PageFSDir::getTemplateId() { return IDD_FSDIR; }
