#include "pages/page_simconnect.h"

#include "install/install_options.h"
#include "platform/handles.h"
#include "platform/protected_security.h"
#include "pages/simconnect_command.h"
#include "pages/simconnect_package.h"
#include "resources/resource_ids.h"
#include "platform/ansi_code_page.h"
#include "wizard/strings.h"

namespace {
constexpr size_t kCommandLineChars = 260;
}

WORD PageSimConnect::getTemplateId() { return IDD_SIMCONNECT; }

int PageSimConnect::onEnter(Porter::WizardUI* wizard, HWND page) {
  wizard->setButtons(Porter::Enabled, Porter::Disabled, Porter::Disabled);
  return TL3Page::onEnter(wizard, page);
}

bool PageSimConnect::runSimConnectInstaller(const std::string& productDir, DWORD* error, HMODULE payload) {
  DWORD ignored = 0;
  DWORD& lastError = error != nullptr ? *error : ignored;
  lastError = 0;

  char systemDir[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(systemDir, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    lastError = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  const std::string program = msiexecPath(systemDir, ansiLeadBytes());

  // CreateProcessA may write into the command line, so it lives in a buffer
  // of its own; a product folder too long for it is refused, never cut.
  char commandLine[kCommandLineChars];
  if (!buildSimConnectCommandLine(productDir, commandLine, sizeof(commandLine))) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }

  // Held, and the payload's, from here until msiexec has ended.
  win::FileHandle package;
  PackageCheck check;
  ProtectedSecurity security(kElevatedFileSddl);  // for a package made anew
  if (!holdPayloadPackage(payload != nullptr ? payload : GetModuleHandleA(nullptr),
                          productDir + kSimConnectPackage, security.get(), &package, &check)) {
    lastError = check.error;
    return false;
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // The system folder as the current folder: never the product folder, which
  // standard users may be able to write.
  if (!CreateProcessA(program.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr, systemDir, &startup,
                      &process)) {
    lastError = GetLastError();
    return false;
  }
  win::KernelHandle processHandle(process.hProcess);
  win::KernelHandle threadHandle(process.hThread);
  // The wizard does not respond while msiexec runs: msiexec owns the screen.
  WaitForSingleObject(processHandle.get(), INFINITE);
  return true;
}

INT_PTR PageSimConnect::onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam,
                                  LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDC_SIMCONNECT_LAUNCH) {
    const auto* options = static_cast<const InstallOptions*>(wizard->getUserData());
    const std::string productDir = options != nullptr ? options->productDir : std::string();
    if (runSimConnectInstaller(productDir, nullptr)) {
      wizard->setButtons(Porter::Unchanged, Porter::Unchanged, Porter::Enabled);
      HWND button = GetDlgItem(page, IDC_SIMCONNECT_LAUNCH);
      EnableWindow(button, FALSE);
      ShowWindow(button, SW_HIDE);
    } else {
      const std::string text = loadResourceString(IDS_ERR_SIMCONNECT);
      const std::string caption = loadResourceString(IDS_ERROR_CAPTION);
      MessageBoxA(page, text.c_str(), caption.c_str(), MB_OK);
    }
    return 1;
  }
  return TL3Page::onMessage(wizard, page, message, wParam, lParam);
}
