#include "pages/page_tldir.h"

#include "resources/resource_ids.h"

WORD PageTLDir::getTemplateId() { return IDD_TLDIR; }
