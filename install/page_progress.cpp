#include "install/page_progress.h"

#include <commctrl.h>

#include <new>

#include "install/addon_registration.h"
#include "install/documentation.h"
#include "install/install_options.h"
#include "install/progress_channel.h"
#include "install/progress_display.h"
#include "payload/payload_check.h"
#include "resources/resource_ids.h"
#include "system/product_settings.h"
#include "system/start_menu.h"
#include "system/uninstall_contract.h"
#include "wizard/strings.h"
#include "wizard/text_format.h"

namespace {

constexpr char kDescription[] = "";
constexpr char kIconFile[] = "towerlink.ico";
constexpr char kUninstallerFile[] = "tluninstall.exe";
constexpr char kFsProgramFile[] = "towerlink_fs.exe";
constexpr char kFsxProgramFile[] = "towerlink_fsx.exe";
constexpr char kIconLibraryFile[] = "tlimage.dll";
constexpr LPARAM kBarRange = 0x03E80000;  // low word 0, high word 1000

// The timer that draws a frame while no message of the worker comes.
constexpr UINT_PTR kFrameTimer = 1;

}  // namespace

WORD PageProgress::getTemplateId() { return IDD_PROGRESS; }

PageProgress::~PageProgress() {
  if (workerThread) WaitForSingleObject(workerThread.get(), INFINITE);
}

void PageProgress::onCreate(Porter::WizardUI* wizard, HWND page) {
  bar = GetDlgItem(page, IDC_PROGRESS_BAR);
  percent = GetDlgItem(page, IDC_PROGRESS_PERCENT);
  frames.setControls(bar, percent, GetDlgItem(page, IDC_PROGRESS_STATUS));
  SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, kBarRange);
  SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETSTEP, 1, 0);
  SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
  TL3Page::onCreate(wizard, page);
}

int PageProgress::fail(Porter::WizardUI* wizard, HWND page, const std::string& text) {
  const std::string caption = loadResourceString(IDS_ERROR_CAPTION);
  MessageBoxA(page, text.c_str(), caption.c_str(), MB_OK);
  wizard->shutdown();
  return 1;
}

int PageProgress::onEnter(Porter::WizardUI* wizard, HWND page) {
  // Nothing may leave this page or end the program while the run is prepared
  // and while the worker runs.
  wizard->setButtons(Porter::Disabled, Porter::Disabled, Porter::Disabled);
  const auto* options = static_cast<const InstallOptions*>(wizard->getUserData());
  if (options == nullptr) return fail(wizard, page, loadResourceString(IDS_ERR_UNINSTALLER));
  const std::string& productDir = options->productDir;
  // Every step below and the worker follow the same scope: a simulator version
  // ticked without a folder is not part of the run anywhere.
  const RunScope scope = runScope(*options);

  // Nothing changes before the payload is proven sound. The check has run
  // since the program started; should it still run, the page waits for it
  // here, shown, with the focus taken off the page left behind (a key must
  // not change a hidden choice meanwhile). A damaged or missing stream ends
  // the run with the number its extraction would have shown, before anything
  // is written.
  ShowWindow(page, SW_SHOW);
  SetFocus(page);
  const int payload = payloadCheck().result(wizard->getInstance());
  if (payload != 0) {
    return fail(wizard, page, loadResourceString(IDS_ERR_INSTALL) + "\n(" + intToString(payload) + ")");
  }

  uninstallRecord = createUninstallerSetup(record::kRecordName, kDescription, (productDir + kIconFile).c_str(),
                                           (productDir + kUninstallerFile).c_str());
  if (uninstallRecord == nullptr) return fail(wizard, page, loadResourceString(IDS_ERR_UNINSTALLER));

  if (!writeProductSettings(productDir.c_str(), uninstallRecord)) {
    return fail(wizard, page, loadResourceString(IDS_ERR_REGISTRY));
  }

  if (scope.product &&
      !createStartMenuShortcuts((productDir + kFsProgramFile).c_str(), (productDir + kFsxProgramFile).c_str(),
                                (productDir + kUninstallerFile).c_str(), kDocumentationAddressSlash,
                                (productDir + kIconLibraryFile).c_str(), uninstallRecord)) {
    return fail(wizard, page, loadResourceString(IDS_ERR_STARTMENU));
  }

  // Flight Simulator X learns of the modules now; the worker writes them later.
  // The product's own module is registered only where the product runs too
  // (SameComputer: X on this computer implies the simulator runs here).
  if (scope.fsx && !configureFsx(true, scope.product, productDir.c_str())) {
    return fail(wizard, page, loadResourceString(IDS_ERR_FSX_CONFIG));
  }

  workerParams.reset(new (std::nothrow) WorkerParams());
  if (!workerParams) return fail(wizard, page, loadResourceString(IDS_ERR_EXTRACT_INIT));
  fillWorkerParams(*options, wizard->getInstance(), page, uninstallRecord, workerParams.get());
  totalBytes = 0;
  doneBytes = 0;
  fileBytes = 0;

  if (!startWorker(page, installWorker, workerParams.get())) {
    workerParams.reset();  // no thread ever saw it
    return fail(wizard, page, loadResourceString(IDS_ERR_EXTRACT_INIT));
  }
  frames.start(page, kFrameTimer);
  return TL3Page::onEnter(wizard, page);
}

bool PageProgress::startWorker(HWND page, LPTHREAD_START_ROUTINE routine, void* params) {
  // An end message of an earlier worker for this window that was never
  // received must not end this run.
  int stale;
  claimInstallDone(page, &stale);
  HANDLE thread = CreateThread(nullptr, 0, routine, params, 0, nullptr);
  if (thread == nullptr) return false;
  workerThread.reset(thread);
  return true;
}

void PageProgress::updateProgress(HWND /*page*/) {
  const uint64_t written = static_cast<uint64_t>(static_cast<uint32_t>(doneBytes)) + static_cast<uint32_t>(fileBytes);
  const ProgressDisplay display =
      progressDisplay(static_cast<int64_t>(written), static_cast<int64_t>(static_cast<uint32_t>(totalBytes)));
  // Every message reaches the bar and the label, and they always hold the
  // latest count; a control is only written when what it holds changes (the
  // bar has 1001 positions and the label 101 texts, but a run posts thousands
  // of messages).
  if (display.barPosition != shownBar) {
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(display.barPosition), 0);
    shownBar = display.barPosition;
    frames.barChanged();
  }
  if (display.label != shownLabel) {
    SetWindowTextA(percent, display.label.c_str());
    shownLabel = display.label;
    frames.labelChanged();
  }
}

void PageProgress::afterChannelMessage(HWND page) {
  frames.drawIfDue(page);
  frames.restIfCaughtUp();
}

bool PageProgress::commitUninstallRecord() {
  if (uninstallRecord == nullptr) return false;
  Porter::UninstallerSetup* record = uninstallRecord;
  uninstallRecord = nullptr;  // commit ends the object whatever it returns
  return record->commit();
}

void PageProgress::endRun(Porter::WizardUI* wizard, HWND page, WPARAM result) {
  // The controls show the run's last state from here on, also behind a
  // message box.
  frames.stop(page);
  // The worker posts the end message as its last use of the parameters and
  // the record; waiting for its thread to return makes that hand-over
  // independent of what it still does on its way out.
  WaitForSingleObject(workerThread.get(), INFINITE);
  workerParams.reset();
  workerThread.reset();

  if (result != 0) {
    fail(wizard, page,
         loadResourceString(IDS_ERR_INSTALL) + "\n(" + intToString(static_cast<int>(result)) + ")");
    return;
  }
  if (!commitUninstallRecord()) {
    fail(wizard, page, loadResourceString(IDS_ERR_UNINSTALLER));
    return;
  }
  const auto* options = static_cast<const InstallOptions*>(wizard->getUserData());
  if (options != nullptr && options->setupType == ProductOnly) {
    wizard->next();  // the SimConnect page
  } else {
    wizard->goToPage(wizard->getCurrentIndex() + 2);  // the finished page, over the SimConnect page
  }
}

INT_PTR PageProgress::onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_INSTALL_TOTAL && message <= WM_INSTALL_DONE && !workerThread) {
    // No run is under way: nothing to show. A text the channel made is
    // released (the channel ignores any other value).
    if (message == WM_INSTALL_FILE) releaseFileText(lParam);
    return 1;
  }
  switch (message) {
    case WM_INSTALL_TOTAL:
      totalBytes = static_cast<int32_t>(static_cast<uint32_t>(wParam));
      return 1;
    case WM_INSTALL_FILE:
      // 0: the worker had no memory for the text. Any other value that the
      // channel did not post is not the worker's.
      if (lParam != 0 && !isFileText(lParam)) return 1;
      frames.showStatus(fileTextOf(lParam));
      releaseFileText(lParam);
      afterChannelMessage(page);
      return 1;
    case WM_INSTALL_FILE_DONE:
      frames.showStatus("");
      doneBytes = static_cast<int32_t>(static_cast<uint32_t>(doneBytes) + static_cast<uint32_t>(fileBytes));
      fileBytes = 0;
      updateProgress(page);
      afterChannelMessage(page);
      return 1;
    case WM_INSTALL_PROGRESS:
      fileBytes = static_cast<int32_t>(static_cast<uint32_t>(wParam));
      updateProgress(page);
      afterChannelMessage(page);
      return 1;
    case WM_INSTALL_DONE: {
      int result = 0;
      if (claimInstallDone(page, &result)) endRun(wizard, page, static_cast<WPARAM>(result));
      return 1;
    }
    case WM_TIMER:
      if (wParam != kFrameTimer || !frames.running()) break;
      frames.drawIfDue(page);
      return 1;
    case WM_ERASEBKGND:
      // The page paints over the controls that do not draw themselves
      // (uncovered, say): the next frame draws them again.
      frames.pageErased();
      break;
    default:
      break;
  }
  return TL3Page::onMessage(wizard, page, message, wParam, lParam);
}
