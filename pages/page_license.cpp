#include "pages/page_license.h"

#include "resources/resource_ids.h"
#include "wizard/strings.h"

namespace {
constexpr char kParagraphBreak[] = "\r\n\r\n";
}

WORD PageLicense::getTemplateId() { return IDD_LICENSE; }

std::string PageLicense::licenceText() {
  std::string text = loadResourceString(IDS_LICENSE_TITLE) + kParagraphBreak;
  for (UINT id = IDS_LICENSE_FIRST; id <= IDS_LICENSE_LAST; ++id) text += loadResourceString(id) + kParagraphBreak;
  return text;
}

void PageLicense::onCreate(Porter::WizardUI* wizard, HWND page) {
  SetDlgItemTextA(page, IDC_LICENSE_TEXT, licenceText().c_str());
  CheckDlgButton(page, IDC_LICENSE_ACCEPT, BST_UNCHECKED);
  TL3Page::onCreate(wizard, page);
}

void PageLicense::updateLicenseNextState(Porter::WizardUI* wizard, HWND page) {
  const bool accepted = IsDlgButtonChecked(page, IDC_LICENSE_ACCEPT) == BST_CHECKED;
  wizard->setButtons(Porter::Unchanged, Porter::Unchanged, accepted ? Porter::Enabled : Porter::Disabled);
}

int PageLicense::onEnter(Porter::WizardUI* wizard, HWND page) {
  updateLicenseNextState(wizard, page);
  return TL3Page::onEnter(wizard, page);
}

INT_PTR PageLicense::onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDC_LICENSE_ACCEPT) {
    updateLicenseNextState(wizard, page);
    return 1;
  }
  return TL3Page::onMessage(wizard, page, message, wParam, lParam);
}
