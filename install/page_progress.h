// PageProgress, the progress page (template 106): prepares an installation run
// on the user-interface thread (uninstall record, product settings, Start menu
// shortcuts, Flight Simulator X registration), starts the worker thread,
// follows its posted messages with the bar, the percentage and the status
// line, and at the end either commits the uninstall record and moves on or
// reports the failure and closes the installer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "install/progress_frames.h"
#include "install/worker.h"
#include "platform/handles.h"
#include "system/uninstaller_setup.h"
#include "wizard/wizard_page.h"

class PageProgress : public TL3Page {
 public:
  PageProgress() = default;
  // A worker still running when the page object ends (the message loop ended
  // without its end message) is waited for before its parameters are freed,
  // so it never reads released memory.
  ~PageProgress();
  PageProgress(const PageProgress&) = delete;
  PageProgress& operator=(const PageProgress&) = delete;

  WORD getTemplateId() override;
  // Progress bar 1008: range 0..1000, step 1, position 0; then the default.
  void onCreate(Porter::WizardUI* wizard, HWND page) override;
  // Disables Cancel, Back and Next, waits for the payload check
  // (payload/payload_check.h) and starts the run. A damaged payload shows
  // message 121 with the extractor's number before anything is written; a
  // failing step shows its message (131, 129, 130, 182 or 110); each under
  // caption 122, and the wizard shuts down; what earlier steps did stays.
  // Returns 1.
  int onEnter(Porter::WizardUI* wizard, HWND page) override;
  // The five messages of the progress channel; 1 for them, the default for
  // every other message. They are acted on only while a run is under way, an
  // end message only when the channel queued it (its result is the channel's,
  // not the message's), and a file text only when the channel made it: any
  // program on the desktop can post these messages.
  INT_PTR onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) override;

  // Starts routine(params) on the worker thread; the run is under way from
  // here until its end message. onEnter starts installWorker with the
  // parameters it filled; tests start a routine of their own. False when no
  // thread could be started.
  bool startWorker(HWND page, LPTHREAD_START_ROUTINE routine, void* params);

  // Bar and percentage label from the bytes counted so far.
  void updateProgress(HWND page);
  // Commits the record (which ends it) and returns commit's result; false
  // when there is no record.
  bool commitUninstallRecord();

 private:
  // Message box owned by the page (caption 122, OK only), then shutdown.
  int fail(Porter::WizardUI* wizard, HWND page, const std::string& text);
  void endRun(Porter::WizardUI* wizard, HWND page, WPARAM result);
  // After each of the worker's messages: the frame if it is due, and a short
  // rest once the page has caught up with the worker.
  void afterChannelMessage(HWND page);

  // Fields in the order the page's state describes; set when the run starts.
  std::unique_ptr<WorkerParams> workerParams;       // owned; null after the end message
  Porter::UninstallerSetup* uninstallRecord = nullptr;  // owned until committed
  win::KernelHandle workerThread;                        // closed at the end message
  // The channel carries 32-bit unsigned counts; they are kept in these 32-bit
  // fields and read back as unsigned, so a run up to 4 GiB shows correctly.
  int32_t totalBytes = 0;
  int32_t doneBytes = 0;
  int32_t fileBytes = 0;

  // What the bar and the label show now (the label starts with its template
  // text, so the first update always writes it).
  int shownBar = 0;
  std::string shownLabel;

  // The controls a run changes, found when the page is created, and how they
  // are drawn while the worker runs.
  HWND bar = nullptr;
  HWND percent = nullptr;
  ProgressFrames frames;
};
