// PageTLDir, the product folder page (template 105): proposes the folder of an
// earlier installation or Program Files plus "TowerLink", lets the user browse
// for another, and holds the user-interface thread's COM apartment from its
// creation until the wizard shuts down.
#pragma once

#include <string>

#include "wizard/wizard_page.h"

class PageTLDir : public TL3Page {
 public:
  WORD getTemplateId() override;
  // Opens the apartment (CoInitializeEx, apartment-threaded), works out the
  // default folder and sets it.
  void onCreate(Porter::WizardUI* wizard, HWND page) override;
  // ProductOnly: goToPage(current + 2), over the simulator version page;
  // otherwise next. Always 1.
  int onNext(Porter::WizardUI* wizard, HWND page) override;
  // WM_COMMAND from the Change... button (1006) runs the folder browser and
  // returns 1.
  INT_PTR onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) override;
  // Closes the apartment opened by onCreate, then the default.
  void onDestroy(Porter::WizardUI* wizard, HWND page) override;

  // The folder to propose: "TLDir" of the product key when it holds one,
  // else Program Files (or "C:\Program Files" when the shell has none) plus
  // "TowerLink"; always with a closing backslash.
  static std::string defaultProductDir();

 private:
  // productDir becomes path and control 1005 shows it.
  static void setFolder(Porter::WizardUI* wizard, HWND page, const std::string& path);
  static void browse(Porter::WizardUI* wizard, HWND page);

  // CoUninitialize must balance only a CoInitializeEx that succeeded (a thread
  // already in another apartment model gets RPC_E_CHANGED_MODE and must not
  // be uninitialised on its owner's behalf).
  bool comInitialized_ = false;
};
