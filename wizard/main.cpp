// Entry routine of setup.exe: assembles the wizard (frame, options record,
// eight pages), shows it and runs the message loop until the frame shuts down.
// The command line and the show command are ignored.
#include <windows.h>
#include <commctrl.h>

#include "install/install_options.h"
#include "install/page_progress.h"
#include "pages/page_finished.h"
#include "pages/page_fsdir.h"
#include "pages/page_license.h"
#include "pages/page_simconnect.h"
#include "pages/page_tldir.h"
#include "pages/page_type.h"
#include "pages/page_welcome.h"
#include "payload/payload_check.h"
#include "resources/resource_ids.h"
#include "platform/held_folder.h"
#include "platform/dll_search.h"
#include "wizard/strings.h"
#include "wizard/wizard_ui.h"
#include "wizard/wizard_ui_impl.h"

namespace {

// Shown when the wizard cannot even be assembled; no page exists yet that
// could report it, and without a frame nothing would ever end the loop.
constexpr char kStartupFailedText[] =
    "The installer could not create its windows.\nThe installer will now close.";
constexpr char kErrorCaptionFallback[] = "TowerLink Installer Error";
constexpr int kStartupFailedExit = 1;

int failStartup(Porter::WizardUI* wizard) {
  std::string caption = loadResourceString(IDS_ERROR_CAPTION);
  if (caption.empty()) caption = kErrorCaptionFallback;
  // The box comes first: shutdown posts the quit message, and a pending quit
  // message would end the box's own loop before the user saw it.
  MessageBoxA(nullptr, kStartupFailedText, caption.c_str(), MB_OK);
  // Pages already added get their onDestroy and lose their windows; harmless
  // when create itself failed.
  wizard->shutdown();
  return kStartupFailedExit;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_instance = instance;

  // Before anything can load a library: from here on a library loaded by name
  // comes from the system folder, never from the folder setup.exe was started
  // in (see dll_search.h). Where the system offers neither means, the run goes
  // on as before; there is nothing the user could do about it.
  hardenDllSearch();
  // Where the system has it, no junction a non-administrator made is followed
  // by this process (see platform/held_folder.h for the folders it writes).
  win::enableRedirectionGuard();

  // The payload is proven sound on a thread of its own while the user reads
  // the first pages; the progress page takes the result before its first change.
  payloadCheck().start(instance);

  // comctl32 is not a Known DLL, so it is not imported (the loader would look
  // for it beside setup.exe first) but loaded by full path; it stays loaded
  // until every window of its progress bar class has gone with the loop.
  SystemLibrary commonControls("comctl32.dll");
  using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto initCommonControls = commonControls.function<InitCommonControlsExFn>("InitCommonControlsEx");
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);  // 8
  controls.dwICC = ICC_PROGRESS_CLASS;
  // Only the progress bar needs it; a failure shows as a page that cannot be made.
  if (initCommonControls != nullptr) initCommonControls(&controls);

  Porter::WizardUI* wizard = getWizardUI();
  if (!wizard->create(instance, IDD_FRAME, IDC_NEXT, IDC_BACK, IDC_CANCEL, IDC_FINISH, Porter::CenteredPosition,
                      Porter::ControlPosition(IDC_PAGE_PLACEHOLDER))) {
    return failStartup(wizard);
  }

  // Pages write into the record from their onCreate, so it is handed over
  // before the first addPage. It and the pages outlive the message loop.
  InstallOptions options;
  wizard->setUserData(&options);

  PageWelcome welcome;
  PageLicense license;
  PageType type;
  PageTLDir tlDir;
  PageFSDir fsDir;
  PageProgress progress;
  PageSimConnect simConnect;
  PageFinished finished;
  // Wizard order: the position here is the page index all navigation uses.
  Porter::WizardUIPage* const pages[] = {&welcome, &license, &type,       &tlDir,
                                         &fsDir,   &progress, &simConnect, &finished};
  for (Porter::WizardUIPage* page : pages) {
    if (!wizard->addPage(page)) return failStartup(wizard);
  }
  if (!wizard->start()) return failStartup(wizard);

  // The keyboard works as in any dialog: the frame's dialog manager takes the
  // keys meant for the wizard (Tab, Enter, Escape, arrows, Alt+letter) before
  // anything is dispatched. GetMessageA's -1 (an invalid filter window) cannot
  // happen with no filter, but ending on it beats spinning on it.
  auto* frame = static_cast<WizardUIImpl*>(wizard);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (frame->handleDialogMessage(&message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
