// The entry routine, run as its own process against test resources: a
// complete wizard starts on the welcome page and ends with status 0 after a
// confirmed Cancel; a wizard that cannot be assembled says so and ends with a
// non-zero status instead of waiting forever for a quit message.
#include <windows.h>

#include <gtest/gtest.h>

#include "resources/resource_ids.h"
#include "tests/wizard/wizard_process.h"

namespace {

constexpr DWORD kWindowTimeoutMs = 30000;

TEST(WizardEntryTest, AssembledWizardStartsOnTheWelcomePageAndEndsOnConfirmedCancel) {
  ChildProcess setup;
  // Any command line: the program ignores it.
  ASSERT_TRUE(setup.start("wizard_entry_ok.exe /S /D=C:\\elsewhere --help")) << "error " << setup.error();
  const HWND frame = waitForDialogOf(setup.id(), IDC_PAGE_PLACEHOLDER, kWindowTimeoutMs);
  ASSERT_NE(nullptr, frame) << "the wizard frame never became visible";
  EXPECT_EQ("TowerLink Installer", windowText(frame));

  EXPECT_EQ(8, countChildDialogs(frame, false)) << "every page window exists from the start";
  EXPECT_EQ(1, countChildDialogs(frame, true));
  // The visible page is the welcome page (the only template with 1015).
  HWND welcomeText = nullptr;
  for (HWND child = GetWindow(frame, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowVisible(child) && GetDlgItem(child, IDC_WELCOME_TEXT) != nullptr) welcomeText = GetDlgItem(child, IDC_WELCOME_TEXT);
  }
  EXPECT_NE(nullptr, welcomeText);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(frame, IDC_BACK)));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(frame, IDC_NEXT)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(frame, IDC_FINISH)));

  // The close box asks first; Yes ends the run through the message loop.
  PostMessageA(frame, WM_CLOSE, 0, 0);
  const HWND confirm = waitForDialogOf(setup.id(), IDYES, kWindowTimeoutMs);
  ASSERT_NE(nullptr, confirm) << "no cancel confirmation";
  clickButton(confirm, IDYES);
  DWORD status = 12345;
  ASSERT_TRUE(setup.wait(kWindowTimeoutMs, &status)) << "the program did not end after a confirmed Cancel";
  EXPECT_EQ(0u, status);
}

TEST(WizardEntryTest, WizardThatCannotBeAssembledReportsAndExitsNonZero) {
  const char* const programs[] = {
      "wizard_entry_broken.exe",  // create fails: the frame lacks its Finish button
      "wizard_entry_nopage.exe",  // addPage fails on the seventh page, six exist
  };
  for (const char* program : programs) {
    SCOPED_TRACE(program);
    ChildProcess setup;
    ASSERT_TRUE(setup.start(program)) << "error " << setup.error();
    const HWND box = waitForDialogOf(setup.id(), IDOK, kWindowTimeoutMs);
    ASSERT_NE(nullptr, box) << "no error message";
    EXPECT_EQ("TowerLink Installer Error", windowText(box));
    EXPECT_FALSE(windowText(GetDlgItem(box, 0xFFFF)).empty()) << "the error box says nothing";
    EXPECT_EQ(nullptr, findDialogOf(setup.id(), IDC_PAGE_PLACEHOLDER)) << "a half-made wizard is on screen";
    clickButton(box, IDOK);
    DWORD status = 12345;
    ASSERT_TRUE(setup.wait(kWindowTimeoutMs, &status)) << "the program hangs after the error";
    EXPECT_EQ(1u, status);
  }
}

}  // namespace
