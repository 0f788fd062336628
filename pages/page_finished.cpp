#include "pages/page_finished.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <string>

#include "install/documentation.h"
#include "install/install_options.h"
#include "platform/ansi_code_page.h"
#include "platform/dll_search.h"
#include "platform/file_names.h"
#include "platform/handles.h"
#include "platform/scoped.h"
#include "resources/resource_ids.h"

namespace {
constexpr char kReadmeFile[] = "readme.txt";

VARIANT bstrVariant(BSTR value) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = value;
  return v;
}

// Opens file (in folder, may be empty) through the desktop's shell, so that it
// runs with the shell's token, not the installer's elevated one: the desktop
// window's shell view, its Application object, IShellDispatch2::ShellExecute.
// Only from Vista on (where the installer runs elevated beside an unelevated
// shell); false where any step is missing (XP, no desktop shell running).
bool openThroughDesktopShell(const std::string& file, const std::string& folder) {
  // GetTickCount64 came with Vista.
  if (GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64") == nullptr) return false;
  SystemLibrary oleaut("oleaut32.dll");
  win::ComRef<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows,
                              windows.receive()))) {
    return false;
  }
  VARIANT none;
  none.vt = VT_EMPTY;
  long desktopWindow = 0;
  win::ComRef<IDispatch> desktop;
  if (windows->FindWindowSW(&none, &none, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                            reinterpret_cast<IDispatch**>(desktop.receive())) != S_OK || !desktop) {
    return false;
  }
  win::ComRef<IServiceProvider> provider;
  win::ComRef<IShellBrowser> browser;
  win::ComRef<IShellView> view;
  win::ComRef<IDispatch> background;
  win::ComRef<IShellFolderViewDual> folderView;
  win::ComRef<IDispatch> application;
  win::ComRef<IShellDispatch2> shell;
  if (FAILED(desktop->QueryInterface(IID_IServiceProvider, provider.receive())) ||
      FAILED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.receive())) ||
      FAILED(browser->QueryActiveShellView(reinterpret_cast<IShellView**>(view.receive()))) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.receive())) ||
      FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.receive())) ||
      FAILED(folderView->get_Application(reinterpret_cast<IDispatch**>(application.receive()))) ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, shell.receive()))) {
    return false;
  }
  win::Bstr fileText(oleaut, win::widen(file));
  win::Bstr folderText(oleaut, win::widen(folder));
  win::Bstr verb(oleaut, L"open");
  if (fileText.get() == nullptr || folderText.get() == nullptr || verb.get() == nullptr) return false;
  VARIANT arguments;
  arguments.vt = VT_EMPTY;
  VARIANT show;
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  return SUCCEEDED(shell->ShellExecute(fileText.get(), arguments, bstrVariant(folderText.get()),
                                       bstrVariant(verb.get()), show));
}

// As the user when the desktop shell can do it, else as the installer does.
void openDocument(SHELLEXECUTEINFOA* info) {
  if (openThroughDesktopShell(info->lpFile, info->lpDirectory != nullptr ? info->lpDirectory : "")) return;
  ShellExecuteExA(info);
}
}  // namespace

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
    openDocument(&info);
  }
  if (IsDlgButtonChecked(page, IDC_FINISHED_README) == BST_CHECKED) {
    const auto* options = static_cast<const InstallOptions*>(wizard->getUserData());
    std::string folder = options != nullptr ? options->productDir : std::string();
    if (!folder.empty()) addTrailingBackslash(folder);
    info.lpFile = kReadmeFile;
    info.lpDirectory = folder.c_str();
    openDocument(&info);
  }
  return TL3Page::onFinish(wizard, page);
}
