#include "pages/page_welcome.h"

#include "resources/resource_ids.h"
#include "wizard/strings.h"

WORD PageWelcome::getTemplateId() { return IDD_WELCOME; }

std::string PageWelcome::welcomeText() {
  return loadResourceString(IDS_WELCOME_TITLE) + "\n" + loadResourceString(IDS_WELCOME_FOR) + "\n\n" +
         loadResourceString(IDS_WELCOME_BODY) + "\n\n" + loadResourceString(IDS_WELCOME_NEED) + "\n\n" +
         loadResourceString(IDS_WELCOME_EXIT_APPS);
}

void PageWelcome::onCreate(Porter::WizardUI* wizard, HWND page) {
  SetDlgItemTextA(page, IDC_WELCOME_TEXT, welcomeText().c_str());
  TL3Page::onCreate(wizard, page);
}

bool PageWelcome::showsHeaderBitmap() { return false; }
