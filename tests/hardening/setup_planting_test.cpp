// setup.exe started from a folder full of planted libraries, as from a
// downloads folder: a copy of the real program next to a library for every
// name it or the system's components load, each of which leaves a marker file
// when its DllMain runs. The wizard is walked to the product folder page, the
// folder browser (which loads shell components late) is opened and closed,
// and the run is cancelled. No marker may appear.
//
// What this can and cannot show under Wine 8: Wine keeps its builtin copy for
// most of these names whatever is planted, and the libraries setup.exe loads
// after its entry routine (winex11.drv, uxtheme, msimg32 and the shell's) are
// among those; so under Wine this stays a guard, and dll_search_test shows the
// loader really taking planted copies without the hardening. One name is left
// out: Wine maps a planted "shcore.dll" while it resolves the static imports of
// its own shlwapi.dll and shell32.dll, before any code of setup.exe runs, as it
// has no Known DLLs. On Windows shcore is a Known DLL, and setup.exe imports no
// library that is not one (the import check in tests/ship).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/hardening/child_process.h"
#include "resources/resource_ids.h"
#include "tests/support/test_support.h"

namespace {

using tlharden::RunningProgram;
using tltest::ScopedTempDir;

const char kFrameCaption[] = "TowerLink Installer";

// Libraries setup.exe or the components it uses load, and names commonly
// planted for hijacking.
const char* const kPlantedNames[] = {
    "version.dll",   "comctl32.dll",  "uxtheme.dll",   "dwmapi.dll",       "propsys.dll",  "cryptbase.dll",
    "winmm.dll",     "msimg32.dll",   "imm32.dll",     "oleaut32.dll",     "comdlg32.dll", "explorerframe.dll",
    "riched20.dll",  "msctf.dll",     "actxprxy.dll",  "userenv.dll",      "profapi.dll",  "secur32.dll",
    "sspicli.dll",   "wintrust.dll",  "crypt32.dll",   "windowscodecs.dll", "dbghelp.dll", "apphelp.dll",
    "mpr.dll",       "netapi32.dll",  "shfolder.dll",  "linkinfo.dll",     "ntshrui.dll",  "cscapi.dll",
    "msi.dll",       "textshaping.dll",
};

struct ControlQuery {
  int id;
  const char* text;  // null: any text
  HWND found;
};

BOOL CALLBACK matchControl(HWND window, LPARAM parameter) {
  ControlQuery* query = reinterpret_cast<ControlQuery*>(parameter);
  if (GetDlgCtrlID(window) == query->id && IsWindowVisible(window) && IsWindowEnabled(window)) {
    char text[64] = "";
    GetWindowTextA(window, text, sizeof text);
    if (query->text == nullptr || lstrcmpA(text, query->text) == 0) {
      query->found = window;
      return FALSE;
    }
  }
  return TRUE;
}

// A visible, enabled control of the frame or its current page, waited for.
// Pages reuse ids (1006 is a radio button on the setup type page and the
// Change... button on the folder page), so a click that must land on one page
// names the control's text too: a page still showing while the wizard moves
// on can then not take it.
HWND waitForControl(HWND frame, int id, DWORD timeoutMs = 15000, const char* text = nullptr) {
  const DWORD start = GetTickCount();
  do {
    ControlQuery query{id, text, nullptr};
    EnumChildWindows(frame, matchControl, reinterpret_cast<LPARAM>(&query));
    if (query.found != nullptr) return query.found;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

// Posted, never sent: a click that opens a modal box would block the sender.
::testing::AssertionResult click(HWND frame, int id, const char* text = nullptr) {
  HWND control = waitForControl(frame, id, 15000, text);
  if (control == nullptr) return ::testing::AssertionFailure() << "control " << id << " never became usable";
  PostMessageA(control, BM_CLICK, 0, 0);
  return ::testing::AssertionSuccess();
}

struct DialogQuery {
  DWORD processId;
  HWND frame;
  HWND found;
};

// A named callback, not a lambda: i686 needs the stdcall convention.
BOOL CALLBACK matchOtherDialog(HWND window, LPARAM parameter) {
  DialogQuery* query = reinterpret_cast<DialogQuery*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char name[16] = "";
  GetClassNameA(window, name, sizeof name);
  if (owner == query->processId && window != query->frame && IsWindowVisible(window) &&
      lstrcmpA(name, "#32770") == 0) {
    query->found = window;
    return FALSE;
  }
  return TRUE;
}

// A visible top-level dialog of the process other than the frame, waited for.
HWND waitForOtherDialog(const RunningProgram& program, HWND frame, DWORD timeoutMs = 15000) {
  DialogQuery query{program.processId(), frame, nullptr};
  const DWORD start = GetTickCount();
  do {
    EnumWindows(matchOtherDialog, reinterpret_cast<LPARAM>(&query));
    if (query.found != nullptr) return query.found;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

HWND waitForFrame(const RunningProgram& program, DWORD timeoutMs = 30000) {
  const DWORD start = GetTickCount();
  do {
    HWND frame = program.findWindow(kFrameCaption);
    if (frame != nullptr) return frame;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

std::vector<std::string> markersIn(const ScopedTempDir& dir) {
  std::vector<std::string> found;
  for (const std::string& file : tltest::listFiles(dir.path())) {
    if (file.size() > 7 && file.compare(file.size() - 7, 7, ".loaded") == 0) found.push_back(file);
  }
  return found;
}

// Welcome, licence (accepted), setup type (this computer runs the product
// only, so no simulator is needed), product folder with its folder browser
// opened and closed, then Cancel and Yes. Success when the program has ended
// with status 0.
::testing::AssertionResult walkAndCancel(RunningProgram& setup) {
  HWND frame = waitForFrame(setup);
  if (frame == nullptr) return ::testing::AssertionFailure() << "the wizard never showed";
  for (int id : {IDC_NEXT, IDC_LICENSE_ACCEPT, IDC_NEXT, IDC_TYPE_PRODUCT, IDC_NEXT}) {
    ::testing::AssertionResult clicked = click(frame, id);
    if (!clicked) return clicked;
  }
  // Shell components are loaded now, if ever. A fresh prefix starts its
  // desktop process for the first browser, which takes a while.
  ::testing::AssertionResult clicked = click(frame, IDC_TLDIR_CHANGE, "&Change...");
  if (!clicked) return clicked;
  HWND browser = waitForOtherDialog(setup, frame, 60000);
  if (browser == nullptr) return ::testing::AssertionFailure() << "the folder browser never opened";
  Sleep(500);  // let it fill its tree
  PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
  // The button under the browser counts as usable while the browser is still
  // up (only the frame is disabled), and a closing browser would pass for the
  // confirmation below: wait until it is gone.
  const DWORD closing = GetTickCount();
  while (IsWindow(browser) && IsWindowVisible(browser) && GetTickCount() - closing < 15000) Sleep(50);
  if (IsWindow(browser) && IsWindowVisible(browser)) {
    return ::testing::AssertionFailure() << "the folder browser did not close";
  }
  if (waitForControl(frame, IDC_TLDIR_CHANGE, 15000, "&Change...") == nullptr) {
    return ::testing::AssertionFailure() << "the folder browser did not close";
  }
  clicked = click(frame, IDC_CANCEL);
  if (!clicked) return clicked;
  HWND confirm = waitForOtherDialog(setup, frame);
  if (confirm == nullptr) return ::testing::AssertionFailure() << "no confirmation after Cancel";
  PostMessageA(confirm, WM_COMMAND, IDYES, 0);
  DWORD exitCode = 99;
  if (!setup.waitForExit(30000, &exitCode)) {
    return ::testing::AssertionFailure() << "setup.exe did not end after a confirmed Cancel";
  }
  if (exitCode != 0) return ::testing::AssertionFailure() << "setup.exe ended with status " << exitCode;
  return ::testing::AssertionSuccess();
}

TEST(SetupPlanting, PlantedLibrariesNeverRunWhileTheWizardIsUsed) {
  ScopedTempDir dir;
  ASSERT_TRUE(dir.valid());
  ASSERT_TRUE(tlharden::copyFile(TL_SETUP_EXE, dir.file("setup.exe"))) << TL_SETUP_EXE;
  for (const char* name : kPlantedNames) ASSERT_TRUE(tlharden::copyFile(TL_MARKER_DLL, dir.file(name))) << name;

  std::vector<std::string> markers;
  {
    RunningProgram setup;  // ends the program, if it is still running, before the folder goes
    ASSERT_TRUE(setup.start(dir.file("setup.exe"), dir.path())) << setup.error();
    EXPECT_TRUE(walkAndCancel(setup));
    markers = markersIn(dir);  // a planted library that broke the walk is named here too
  }
  EXPECT_EQ(markers, std::vector<std::string>{}) << "planted libraries that ran inside setup.exe";
}

}  // namespace
