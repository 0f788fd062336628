#include "install/page_progress.h"

#include <commctrl.h>

#include <new>

#include "install/addon_registration.h"
#include "install/documentation.h"
#include "install/install_options.h"
#include "install/progress_channel.h"
#include "install/progress_display.h"
#include "resources/resource_ids.h"
#include "system/product_settings.h"
#include "system/start_menu.h"
#include "wizard/strings.h"
#include "wizard/text_format.h"

namespace {

constexpr char kDisplayName[] = "TowerLink";
constexpr char kDescription[] = "";
constexpr char kIconFile[] = "towerlink.ico";
constexpr char kUninstallerFile[] = "tluninstall.exe";
constexpr char kFsProgramFile[] = "towerlink_fs.exe";
constexpr char kFsxProgramFile[] = "towerlink_fsx.exe";
constexpr char kIconLibraryFile[] = "tlimage.dll";
constexpr LPARAM kBarRange = 0x03E80000;  // low word 0, high word 1000

// While a run is under way, what changed is drawn once per frame, 25 frames
// a second (see startFrames).
constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT kFrameMs = 40;

// Switches a control's own drawing on or off; switched off, it still takes
// every change.
void setRedraw(HWND control, bool on) {
  if (control != nullptr) SendMessageA(control, WM_SETREDRAW, on ? TRUE : FALSE, 0);
}

bool runsProduct(int32_t type) { return type == SameComputer || type == ProductOnly; }
bool runsSimulator(int32_t type) { return type == SameComputer || type == SimulatorOnly; }

}  // namespace

WORD PageProgress::getTemplateId() { return IDD_PROGRESS; }

PageProgress::~PageProgress() {
  if (workerThread) WaitForSingleObject(workerThread.get(), INFINITE);
}

void PageProgress::onCreate(Porter::WizardUI* wizard, HWND page) {
  bar = GetDlgItem(page, IDC_PROGRESS_BAR);
  status = GetDlgItem(page, IDC_PROGRESS_STATUS);
  percent = GetDlgItem(page, IDC_PROGRESS_PERCENT);
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
  const int32_t type = options->setupType;

  uninstallRecord = createUninstallerSetup(kDisplayName, kDescription, (productDir + kIconFile).c_str(),
                                           (productDir + kUninstallerFile).c_str());
  if (uninstallRecord == nullptr) return fail(wizard, page, loadResourceString(IDS_ERR_UNINSTALLER));

  if (!writeProductSettings(productDir.c_str(), uninstallRecord)) {
    return fail(wizard, page, loadResourceString(IDS_ERR_REGISTRY));
  }

  if (runsProduct(type) &&
      !createStartMenuShortcuts((productDir + kFsProgramFile).c_str(), (productDir + kFsxProgramFile).c_str(),
                                (productDir + kUninstallerFile).c_str(), kDocumentationAddressSlash,
                                (productDir + kIconLibraryFile).c_str(), uninstallRecord)) {
    return fail(wizard, page, loadResourceString(IDS_ERR_STARTMENU));
  }

  // Flight Simulator X learns of the modules now; the worker writes them later.
  if (runsSimulator(type) && options->useFsx &&
      !configureFsx(true, type == SameComputer, productDir.c_str())) {
    return fail(wizard, page, loadResourceString(IDS_ERR_FSX_CONFIG));
  }

  workerParams.reset(new (std::nothrow) WorkerParams());
  if (!workerParams) return fail(wizard, page, loadResourceString(IDS_ERR_EXTRACT_INIT));
  fillWorkerParams(*options, wizard->getInstance(), page, uninstallRecord, workerParams.get());
  totalBytes = 0;
  doneBytes = 0;
  fileBytes = 0;

  HANDLE thread = CreateThread(nullptr, 0, installWorker, workerParams.get(), 0, nullptr);
  if (thread == nullptr) {
    workerParams.reset();  // no thread ever saw it
    return fail(wizard, page, loadResourceString(IDS_ERR_EXTRACT_INIT));
  }
  workerThread.reset(thread);
  startFrames(page);
  return TL3Page::onEnter(wizard, page);
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
    barChanged = true;
  }
  if (display.label != shownLabel) {
    SetWindowTextA(percent, display.label.c_str());
    shownLabel = display.label;
  }
}

void PageProgress::showStatus(const char* text) {
  if (!framing) {
    SetWindowTextA(status, text);
    return;
  }
  // Written with the next frame: a file that begins and ends between two
  // frames could not be seen anyway.
  try {
    statusText.assign(text);
  } catch (const std::bad_alloc&) {
    statusText.clear();  // the status line goes blank; the bar keeps counting
  }
  statusChanged = true;
}

// Drawing while the worker runs. A run changes the controls thousands of
// times in a few seconds; under Wine the progress bar draws itself inside
// every PBM_SETPOS (about a millisecond) and a static text at the next idle
// moment, so drawn at that rate the page would cost as much time as the
// installation itself. During the run the bar therefore takes its positions
// with drawing switched off and the status line's text waits in the page;
// a timer draws what changed once per display frame. The bar and the label
// always hold the latest count, and the screen follows within a frame.
void PageProgress::startFrames(HWND page) {
  framing = SetTimer(page, kFrameTimer, kFrameMs, nullptr) != 0;
  if (!framing) return;  // no timer: every control draws itself at once
  setRedraw(bar, false);
  barChanged = true;
}

void PageProgress::drawFrame() {
  if (barChanged && bar != nullptr) {
    setRedraw(bar, true);
    RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    setRedraw(bar, false);
  }
  barChanged = false;
  if (statusChanged) {
    SetWindowTextA(status, statusText.c_str());
    if (status != nullptr) UpdateWindow(status);
  }
  statusChanged = false;
}

void PageProgress::stopFrames(HWND page) {
  if (!framing) return;
  KillTimer(page, kFrameTimer);
  framing = false;
  if (statusChanged) SetWindowTextA(status, statusText.c_str());
  statusChanged = false;
  setRedraw(bar, true);
  if (bar != nullptr) InvalidateRect(bar, nullptr, TRUE);
  barChanged = false;
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
  stopFrames(page);
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
  switch (message) {
    case WM_INSTALL_TOTAL:
      totalBytes = static_cast<int32_t>(static_cast<uint32_t>(wParam));
      return 1;
    case WM_INSTALL_FILE:
      showStatus(fileTextOf(lParam));
      releaseFileText(lParam);
      return 1;
    case WM_INSTALL_FILE_DONE:
      showStatus("");
      doneBytes = static_cast<int32_t>(static_cast<uint32_t>(doneBytes) + static_cast<uint32_t>(fileBytes));
      fileBytes = 0;
      updateProgress(page);
      return 1;
    case WM_INSTALL_PROGRESS:
      fileBytes = static_cast<int32_t>(static_cast<uint32_t>(wParam));
      updateProgress(page);
      return 1;
    case WM_INSTALL_DONE:
      if (workerThread) endRun(wizard, page, wParam);
      return 1;
    case WM_TIMER:
      if (wParam != kFrameTimer || !framing) break;
      drawFrame();
      return 1;
    case WM_ERASEBKGND:
      // The page paints over the undrawn bar (uncovered, say): the next frame
      // draws it again even if its position has not changed.
      if (framing) barChanged = true;
      break;
    default:
      break;
  }
  return TL3Page::onMessage(wizard, page, message, wParam, lParam);
}
