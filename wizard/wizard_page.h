// The page interface the frame drives, and TL3Page, the product's defaults.
#pragma once

#include <windows.h>

#include "wizard/wizard_ui.h"

namespace Porter {

class WizardUIPage {
 public:
  virtual WORD getTemplateId() = 0;                                                        // slot 0
  virtual void onCreate(WizardUI* wizard, HWND page) = 0;                                  // slot 1
  virtual int onEnter(WizardUI* wizard, HWND page) = 0;                                    // slot 2
  virtual int onNext(WizardUI* wizard, HWND page) = 0;                                     // slot 3
  virtual int onBack(WizardUI* wizard, HWND page) = 0;                                     // slot 4
  virtual int onCancel(WizardUI* wizard, HWND page) = 0;                                   // slot 5
  virtual int onFinish(WizardUI* wizard, HWND page) = 0;                                   // slot 6
  virtual INT_PTR onMessage(WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) = 0;  // 7
  virtual int onLeave(WizardUI* wizard, HWND page) = 0;                                    // slot 8
  virtual void onDestroy(WizardUI* wizard, HWND page) = 0;                                 // slot 9
  virtual bool showsHeaderBitmap() = 0;                                                    // slot 10

 protected:
  ~WizardUIPage() = default;  // pages are owned by the entry routine, never deleted by the frame
};

}  // namespace Porter

// Defaults for every slot but getTemplateId.
class TL3Page : public Porter::WizardUIPage {
 public:
  void onCreate(Porter::WizardUI* wizard, HWND page) override;
  int onEnter(Porter::WizardUI* wizard, HWND page) override;   // header bitmap rule, returns 1
  int onNext(Porter::WizardUI* wizard, HWND page) override;    // 0
  int onBack(Porter::WizardUI* wizard, HWND page) override;    // 0
  int onCancel(Porter::WizardUI* wizard, HWND page) override;  // confirmation 113/112, Yes shuts down; 1
  int onFinish(Porter::WizardUI* wizard, HWND page) override;  // shutdown; 1
  INT_PTR onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) override;  // 0
  int onLeave(Porter::WizardUI* wizard, HWND page) override;   // 0
  void onDestroy(Porter::WizardUI* wizard, HWND page) override;
  bool showsHeaderBitmap() override;                           // true

 protected:
  ~TL3Page() = default;
};

// The one dialog procedure of every page window.
INT_PTR CALLBACK pageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
