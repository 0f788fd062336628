#include "pages/page_license.h"

#include "resources/resource_ids.h"

WORD PageLicense::getTemplateId() { return IDD_LICENSE; }
