#include "pages/page_simconnect.h"

#include "resources/resource_ids.h"

WORD PageSimConnect::getTemplateId() { return IDD_SIMCONNECT; }
