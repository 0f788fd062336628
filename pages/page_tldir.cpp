#include "pages/page_tldir.h"

#include <objbase.h>
#include <shlobj.h>

#include "install/install_options.h"
#include "pages/registry_text.h"
#include "platform/ansi_code_page.h"
#include "platform/scoped.h"
#include "resources/resource_ids.h"
#include "system/product_settings.h"

namespace {

constexpr char kFallbackProgramFiles[] = "C:\\Program Files";
constexpr char kProductFolderName[] = "TowerLink";

}  // namespace

WORD PageTLDir::getTemplateId() { return IDD_TLDIR; }

std::string PageTLDir::defaultProductDir() {
  std::string folder;
  readRegistryText(HKEY_LOCAL_MACHINE, kProductKeyPath, kProductDirValue, &folder);
  if (folder.empty()) {
    char programFiles[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles) == S_OK && programFiles[0] != '\0') {
      folder = programFiles;
    } else {
      folder = kFallbackProgramFiles;
    }
    addTrailingBackslash(folder);
    folder += kProductFolderName;
  }
  addTrailingBackslash(folder);
  return folder;
}

void PageTLDir::setFolder(Porter::WizardUI* wizard, HWND page, const std::string& path) {
  auto* options = static_cast<InstallOptions*>(wizard->getUserData());
  if (options != nullptr) options->productDir = path;
  SetDlgItemTextA(page, IDC_TLDIR_PATH, path.c_str());
}

void PageTLDir::onCreate(Porter::WizardUI* wizard, HWND page) {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  comInitialized_ = SUCCEEDED(result);  // S_OK and S_FALSE both need a CoUninitialize
  setFolder(wizard, page, defaultProductDir());
  TL3Page::onCreate(wizard, page);
}

void PageTLDir::browse(Porter::WizardUI* wizard, HWND page) {
  BROWSEINFOA info = {};
  info.hwndOwner = page;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;  // 0x41
  // The browser's item list belongs to the caller (the COM allocator).
  win::TaskMemory<ITEMIDLIST> chosen(SHBrowseForFolderA(&info));
  if (chosen.get() == nullptr) return;  // cancelled: the folder stays
  char path[MAX_PATH] = {};
  if (!SHGetPathFromIDListA(chosen.get(), path) || path[0] == '\0') return;
  std::string folder = path;
  addTrailingBackslash(folder);  // the chosen folder itself, without the product name
  setFolder(wizard, page, folder);
}

int PageTLDir::onNext(Porter::WizardUI* wizard, HWND) {
  const auto* options = static_cast<const InstallOptions*>(wizard->getUserData());
  const int32_t type = options != nullptr ? options->setupType : SameComputer;
  if (type != SameComputer && type != SimulatorOnly) {
    wizard->goToPage(wizard->getCurrentIndex() + 2);
  } else {
    wizard->next();
  }
  return 1;
}

INT_PTR PageTLDir::onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDC_TLDIR_CHANGE) {
    browse(wizard, page);
    return 1;
  }
  return TL3Page::onMessage(wizard, page, message, wParam, lParam);
}

void PageTLDir::onDestroy(Porter::WizardUI* wizard, HWND page) {
  if (comInitialized_) {
    CoUninitialize();
    comInitialized_ = false;
  }
  TL3Page::onDestroy(wizard, page);
}
