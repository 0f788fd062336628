#include "pages/page_type.h"

#include "install/install_options.h"
#include "pages/registry_text.h"
#include "pages/simulator_choice.h"
#include "resources/resource_ids.h"
#include "wizard/strings.h"

WORD PageType::getTemplateId() { return IDD_TYPE; }

void PageType::storeSetupType(Porter::WizardUI* wizard, HWND page) {
  auto* options = static_cast<InstallOptions*>(wizard->getUserData());
  if (options == nullptr) return;
  // Tested in this order; a group of auto radios has exactly one checked.
  if (IsDlgButtonChecked(page, IDC_TYPE_SAME) == BST_CHECKED) {
    options->setupType = SameComputer;
  } else if (IsDlgButtonChecked(page, IDC_TYPE_PRODUCT) == BST_CHECKED) {
    options->setupType = ProductOnly;
  } else if (IsDlgButtonChecked(page, IDC_TYPE_SIMULATOR) == BST_CHECKED) {
    options->setupType = SimulatorOnly;
  }
}

void PageType::onCreate(Porter::WizardUI* wizard, HWND page) {
  CheckRadioButton(page, IDC_TYPE_SAME, IDC_TYPE_SIMULATOR, IDC_TYPE_SAME);
  storeSetupType(wizard, page);
  TL3Page::onCreate(wizard, page);
}

void PageType::detectSimulators(InstallOptions* options) {
  readRegistryText(HKEY_LOCAL_MACHINE, kFs2002Key, kFs2002Value, &options->fs2002Dir);
  readRegistryText(HKEY_LOCAL_MACHINE, kFs2004Key, kFs2004Value, &options->fs2004Dir);
  readRegistryText(HKEY_LOCAL_MACHINE, kFsxKey, kFsxValue, &options->fsxDir);
}

int PageType::onNext(Porter::WizardUI* wizard, HWND page) {
  auto* options = static_cast<InstallOptions*>(wizard->getUserData());
  if (options == nullptr) return 1;
  detectSimulators(options);
  const SimulatorDecision decision = decideSimulators(!options->fs2002Dir.empty(), !options->fs2004Dir.empty(),
                                                      !options->fsxDir.empty(), options->setupType);
  if (decision.setFlags) {
    options->useFs2002 = decision.flags.fs2002;
    options->useFs2004 = decision.flags.fs2004;
    options->useFsx = decision.flags.fsx;
  }
  if (decision.goNext) {
    wizard->next();
  } else {
    const std::string text = loadResourceString(IDS_ERR_NO_SIMULATOR);
    const std::string caption = loadResourceString(IDS_ERROR_CAPTION);
    MessageBoxA(page, text.c_str(), caption.c_str(), MB_OK);
  }
  return 1;
}

INT_PTR PageType::onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    const WORD id = LOWORD(wParam);
    if (id == IDC_TYPE_SAME || id == IDC_TYPE_PRODUCT || id == IDC_TYPE_SIMULATOR) {
      storeSetupType(wizard, page);
      return 1;
    }
  }
  return TL3Page::onMessage(wizard, page, message, wParam, lParam);
}
