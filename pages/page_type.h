// PageType, the setup type page (template 104): which computer runs what, and,
// on Next, which Flight Simulator versions the registry shows installed.
#pragma once

#include "wizard/wizard_page.h"

struct InstallOptions;

// Where the installed simulator versions are recorded (under HKLM).
constexpr const char* kFs2002Key = "Software\\Microsoft\\Microsoft Games\\Flight Simulator\\8.0";
constexpr const char* kFs2004Key = "Software\\Microsoft\\Microsoft Games\\Flight Simulator\\9.0";
constexpr const char* kFsxKey = "Software\\Microsoft\\Microsoft Games\\Flight Simulator\\10.0";
constexpr const char* kFs2002Value = "EXE Path";
constexpr const char* kFs2004Value = "EXE Path";
constexpr const char* kFsxValue = "SetupPath";  // not "EXE Path" as the older two

class PageType : public TL3Page {
 public:
  WORD getTemplateId() override;
  // Selects radio 1004 and stores the setup type.
  void onCreate(Porter::WizardUI* wizard, HWND page) override;
  // Reads the simulator folders, decides the flags, and either moves on with
  // next or shows message 128 and stays. Always 1.
  int onNext(Porter::WizardUI* wizard, HWND page) override;
  // WM_COMMAND from 1004, 1005 or 1006 stores the setup type and returns 1.
  INT_PTR onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) override;

  // Each folder whose registry value can be read is replaced by it; the others
  // keep what they held (a folder once found is never cleared).
  static void detectSimulators(InstallOptions* options);

 private:
  static void storeSetupType(Porter::WizardUI* wizard, HWND page);
};
