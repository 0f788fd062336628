#include "pages/page_welcome.h"

#include "resources/resource_ids.h"

WORD PageWelcome::getTemplateId() { return IDD_WELCOME; }
