#include "pages/page_fsdir.h"

#include "install/install_options.h"
#include "pages/simulator_choice.h"
#include "resources/resource_ids.h"

WORD PageFSDir::getTemplateId() { return IDD_FSDIR; }

int PageFSDir::onEnter(Porter::WizardUI* wizard, HWND page) {
  auto* options = static_cast<InstallOptions*>(wizard->getUserData());
  if (options == nullptr) return TL3Page::onEnter(wizard, page);
  if (exactlyOneSelected(options->useFs2002, options->useFs2004, options->useFsx)) {
    wizard->next();
    return 1;  // the wizard has moved on: no header bitmap rule for a page never shown
  }
  options->useFs2002 = !options->fs2002Dir.empty();
  options->useFs2004 = !options->fs2004Dir.empty();
  options->useFsx = !options->fsxDir.empty();
  CheckDlgButton(page, IDC_FSDIR_FS2002, options->useFs2002 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page, IDC_FSDIR_FS2004, options->useFs2004 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page, IDC_FSDIR_FSX, options->useFsx ? BST_CHECKED : BST_UNCHECKED);
  return TL3Page::onEnter(wizard, page);
}

int PageFSDir::onBack(Porter::WizardUI* wizard, HWND) {
  const auto* options = static_cast<const InstallOptions*>(wizard->getUserData());
  const int32_t type = options != nullptr ? options->setupType : SameComputer;
  if (type != SameComputer && type != ProductOnly) {
    wizard->goToPage(wizard->getCurrentIndex() - 2);
  } else {
    wizard->back();
  }
  return 1;
}

INT_PTR PageFSDir::onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    auto* options = static_cast<InstallOptions*>(wizard->getUserData());
    const WORD id = LOWORD(wParam);
    bool* flag = nullptr;
    if (options != nullptr) {
      if (id == IDC_FSDIR_FSX) flag = &options->useFsx;
      if (id == IDC_FSDIR_FS2002) flag = &options->useFs2002;
      if (id == IDC_FSDIR_FS2004) flag = &options->useFs2004;
    }
    if (flag != nullptr) {
      *flag = IsDlgButtonChecked(page, id) == BST_CHECKED;
      return 1;
    }
  }
  return TL3Page::onMessage(wizard, page, message, wParam, lParam);
}
