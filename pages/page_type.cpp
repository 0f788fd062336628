#include "pages/page_type.h"

#include "resources/resource_ids.h"

WORD PageType::getTemplateId() { return IDD_TYPE; }
