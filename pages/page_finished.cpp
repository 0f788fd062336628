#include "pages/page_finished.h"

#include <shellapi.h>

#include <string>

#include "install/documentation.h"
#include "install/install_options.h"
#include "resources/resource_ids.h"
#include "wizard/ansi_code_page.h"

namespace {
constexpr char kReadmeFile[] = "readme.txt";
}

WORD PageFinished::getTemplateId() { return IDD_FINISHED; }

int PageFinished::onEnter(Porter::WizardUI* wizard, HWND page) {
  wizard->setButtons(Porter::Disabled, Porter::Disabled, Porter::Unchanged);
  return TL3Page::onEnter(wizard, page);
}

int PageFinished::onFinish(Porter::WizardUI* wizard, HWND page) {
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof(info);
  info.fMask = 0;
  info.hwnd = page;
  info.lpVerb = "open";
  info.nShow = SW_SHOWNORMAL;

  if (IsDlgButtonChecked(page, IDC_FINISHED_GUIDE) == BST_CHECKED) {
    info.lpFile = kDocumentationAddress;
    info.lpDirectory = nullptr;
    ShellExecuteExA(&info);
  }
  if (IsDlgButtonChecked(page, IDC_FINISHED_README) == BST_CHECKED) {
    const auto* options = static_cast<const InstallOptions*>(wizard->getUserData());
    std::string folder = options != nullptr ? options->productDir : std::string();
    if (!folder.empty()) addTrailingBackslash(folder);
    info.lpFile = kReadmeFile;
    info.lpDirectory = folder.c_str();
    ShellExecuteExA(&info);
  }
  return TL3Page::onFinish(wizard, page);
}
