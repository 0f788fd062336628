// The wizard frame and the page defaults, in-process under Wine with real
// windows: a frame like the installer's (wizard_test.rc) and recording pages
// that log every call the frame makes and can react from inside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wizard/wizard_test_ids.h"
#include "wizard/strings.h"
#include "wizard/wizard_ui_impl.h"

namespace {

using Log = std::vector<std::string>;
using Action = std::function<void(Porter::WizardUI*, HWND)>;

// A page that writes "name:call" into a log shared by all pages of a test.
class RecordingPage final : public TL3Page {
 public:
  RecordingPage(std::string name, WORD templateId, Log* log) : name_(std::move(name)), templateId_(templateId), log_(log) {}

  // Reactions; an onEnter action replaces the default onEnter (as a page that
  // moves the wizard on does), the others run before the configured result.
  Action enterAction, leaveAction, destroyAction, nextAction, backAction;
  int nextResult = 0;
  int backResult = 0;
  bool header = true;
  bool defaultCancel = false;  // run TL3Page's confirmation instead of recording only

  HWND window = nullptr;     // from onCreate
  UINT firstMessage = 0;     // first message that reached onMessage
  bool everShown = false;    // a WM_SHOWWINDOW(TRUE) arrived
  bool visibleAtEnter = false;
  int enterIndex = -2;       // current index seen by the last onEnter

  WORD getTemplateId() override {
    add("getTemplateId");
    return templateId_;
  }
  void onCreate(Porter::WizardUI*, HWND page) override {
    window = page;
    add("onCreate");
  }
  int onEnter(Porter::WizardUI* wizard, HWND page) override {
    add("onEnter");
    visibleAtEnter = IsWindowVisible(page) != FALSE;
    enterIndex = wizard->getCurrentIndex();
    if (enterAction) {
      enterAction(wizard, page);
      return 1;
    }
    return TL3Page::onEnter(wizard, page);
  }
  int onNext(Porter::WizardUI* wizard, HWND page) override {
    add("onNext");
    if (nextAction) nextAction(wizard, page);
    return nextResult;
  }
  int onBack(Porter::WizardUI* wizard, HWND page) override {
    add("onBack");
    if (backAction) backAction(wizard, page);
    return backResult;
  }
  int onCancel(Porter::WizardUI* wizard, HWND page) override {
    add("onCancel");
    return defaultCancel ? TL3Page::onCancel(wizard, page) : 1;
  }
  int onFinish(Porter::WizardUI* wizard, HWND page) override {
    add("onFinish");
    return TL3Page::onFinish(wizard, page);
  }
  INT_PTR onMessage(Porter::WizardUI* wizard, HWND page, UINT message, WPARAM wParam, LPARAM lParam) override {
    if (firstMessage == 0) firstMessage = message;
    if (message == WM_INITDIALOG) add("WM_INITDIALOG");
    if (message == WM_SHOWWINDOW && wParam) everShown = true;
    if (message == WM_COMMAND) add("WM_COMMAND " + std::to_string(LOWORD(wParam)));
    if (message >= WM_USER && message < 0x8000) add("WM_USER+" + std::to_string(message - WM_USER));
    return TL3Page::onMessage(wizard, page, message, wParam, lParam);
  }
  int onLeave(Porter::WizardUI* wizard, HWND page) override {
    add("onLeave");
    if (leaveAction) leaveAction(wizard, page);
    return TL3Page::onLeave(wizard, page);
  }
  void onDestroy(Porter::WizardUI* wizard, HWND page) override {
    add("onDestroy");
    if (destroyAction) destroyAction(wizard, page);
    TL3Page::onDestroy(wizard, page);
  }
  bool showsHeaderBitmap() override { return header; }

 private:
  void add(const char* call) { log_->push_back(name_ + ":" + call); }
  void add(const std::string& call) { add(call.c_str()); }

  std::string name_;
  WORD templateId_;
  Log* log_;
};

std::string join(const Log& log) {
  std::string out;
  for (const std::string& entry : log) out += entry + "\n";
  return out;
}

BOOL CALLBACK countDialog(HWND window, LPARAM param) {
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof(cls));
  if (lstrcmpA(cls, "#32770") == 0) ++*reinterpret_cast<int*>(param);
  return TRUE;
}

// Top-level dialogs of the test thread: frames and message boxes.
int countDialogsOfThisThread() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), countDialog, reinterpret_cast<LPARAM>(&count));
  return count;
}

// Page windows of a frame.
int countPageWindows(HWND frame) {
  int count = 0;
  EnumChildWindows(frame, countDialog, reinterpret_cast<LPARAM>(&count));
  return count;
}

// Dispatches everything pending; true when the quit message was among it.
bool pumpMessages() {
  bool quit = false;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return quit;
}

bool enabled(HWND control) { return IsWindowEnabled(control) != FALSE; }
bool visible(HWND control) { return IsWindowVisible(control) != FALSE; }

class WizardFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_instance = GetModuleHandleA(nullptr);
    pumpMessages();
  }

  void TearDown() override {
    frame_.shutdown();
    pumpMessages();
    EXPECT_EQ(0, countDialogsOfThisThread()) << "dialog windows left behind";
  }

  bool createFrame(WORD templateId = IDD_TEST_FRAME, int32_t x = Porter::CenteredPosition,
                   int32_t y = Porter::ControlPosition(IDC_PAGE_PLACEHOLDER)) {
    return frame_.create(g_instance, templateId, IDC_NEXT, IDC_BACK, IDC_CANCEL, IDC_FINISH, x, y);
  }

  RecordingPage* newPage(const std::string& name, WORD templateId = IDD_TEST_PAGE) {
    pages_.push_back(std::make_unique<RecordingPage>(name, templateId, &log_));
    return pages_.back().get();
  }

  // Creates the frame with pages P0..P(n-1) and clears the log.
  void assemble(int count) {
    ASSERT_TRUE(createFrame());
    for (int i = 0; i < count; ++i) ASSERT_TRUE(frame_.addPage(newPage("P" + std::to_string(i))));
    log_.clear();
  }

  RecordingPage* page(int index) { return pages_[static_cast<size_t>(index)].get(); }
  HWND button(int id) { return GetDlgItem(frame_.frameWindow(), id); }

  // The frame's reaction to one of its buttons, with a notification code in
  // the high word that the frame must ignore.
  INT_PTR press(int id) {
    return WizardUIImpl::frameDialogProc(frame_.frameWindow(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                         reinterpret_cast<LPARAM>(button(id)));
  }

  // Only the current page's window is visible.
  void expectOnlyVisiblePage(int index) {
    for (int i = 0; i < frame_.pageCount(); ++i) {
      EXPECT_EQ(i == index, visible(frame_.pageWindow(i))) << "page " << i << ", current " << index;
    }
  }

  Log log_;
  std::vector<std::unique_ptr<RecordingPage>> pages_;
  WizardUIImpl frame_;
};

TEST_F(WizardFrameTest, OnePageSeesItsCallsInOrderOverARun) {
  ASSERT_TRUE(createFrame());
  for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(frame_.addPage(newPage(name)));
  // All pages exist, hidden, before anything is shown.
  EXPECT_FALSE(visible(frame_.frameWindow()));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(visible(frame_.pageWindow(i)));
  EXPECT_EQ(-1, frame_.getCurrentIndex());

  ASSERT_TRUE(frame_.start());
  EXPECT_TRUE(visible(frame_.frameWindow()));
  EXPECT_EQ(1, press(IDC_NEXT));
  EXPECT_EQ(1, press(IDC_NEXT));
  EXPECT_EQ(1, press(IDC_BACK));
  expectOnlyVisiblePage(1);
  frame_.shutdown();

  const Log expected = {
      "A:getTemplateId", "A:WM_INITDIALOG", "A:onCreate",  // addPage A
      "B:getTemplateId", "B:WM_INITDIALOG", "B:onCreate",
      "C:getTemplateId", "C:WM_INITDIALOG", "C:onCreate",
      "A:onEnter",                                         // start
      "A:onNext",        "A:onLeave",       "B:onEnter",   // Next
      "B:onNext",        "B:onLeave",       "C:onEnter",   // Next
      "C:onBack",        "C:onLeave",       "B:onEnter",   // Back
      "B:onLeave",       "A:onDestroy",     "B:onDestroy", "C:onDestroy",  // shutdown
  };
  EXPECT_EQ(join(expected), join(log_));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(static_cast<UINT>(WM_INITDIALOG), page(i)->firstMessage) << "a message reached the page before WM_INITDIALOG";
    EXPECT_FALSE(page(i)->visibleAtEnter) << "onEnter must run before the page is shown";
    EXPECT_FALSE(IsWindow(page(i)->window));
  }
  EXPECT_TRUE(pumpMessages()) << "shutdown must post the quit message";
  EXPECT_EQ(nullptr, frame_.frameWindow());
  EXPECT_EQ(0, frame_.pageCount());
  EXPECT_EQ(-1, frame_.getCurrentIndex());
}

TEST_F(WizardFrameTest, PagesSkipANeighbourByTheirOwnNextAndBack) {
  assemble(5);
  ASSERT_TRUE(frame_.start());
  // Page 1 jumps forward over 2, page 3 jumps back over 2 - both return 1 so
  // the frame does not move a second time.
  page(1)->nextAction = [](Porter::WizardUI* w, HWND) { EXPECT_TRUE(w->goToPage(w->getCurrentIndex() + 2)); };
  page(1)->nextResult = 1;
  page(3)->backAction = [](Porter::WizardUI* w, HWND) { EXPECT_TRUE(w->goToPage(w->getCurrentIndex() - 2)); };
  page(3)->backResult = 1;

  ASSERT_TRUE(frame_.next());
  log_.clear();
  EXPECT_EQ(0, press(IDC_NEXT)) << "a page that handled Next itself makes the frame return 0";
  EXPECT_EQ(3, frame_.getCurrentIndex());
  EXPECT_EQ(0, press(IDC_BACK));
  EXPECT_EQ(1, frame_.getCurrentIndex());
  expectOnlyVisiblePage(1);
  const Log expected = {"P1:onNext", "P1:onLeave", "P3:onEnter", "P3:onBack", "P3:onLeave", "P1:onEnter"};
  EXPECT_EQ(join(expected), join(log_)) << "the skipped page gets neither onEnter nor onLeave";

  // A page that refuses Next without navigating stays current.
  page(1)->nextAction = nullptr;
  log_.clear();
  EXPECT_EQ(0, press(IDC_NEXT));
  EXPECT_EQ(1, frame_.getCurrentIndex());
  EXPECT_EQ(join({"P1:onNext"}), join(log_));
}

TEST_F(WizardFrameTest, IndicesOutsideTheListAreRefusedAndChangeNothing) {
  assemble(3);
  ASSERT_TRUE(frame_.start());
  ASSERT_TRUE(frame_.setButtons(Porter::Enabled, Porter::Enabled, Porter::Enabled));
  log_.clear();
  for (int index : {-1, -2, 3, 100, INT_MIN}) {
    SCOPED_TRACE(index);
    EXPECT_FALSE(frame_.goToPage(index));
  }
  EXPECT_FALSE(frame_.back()) << "back on page 0";
  ASSERT_TRUE(frame_.goToPage(2));
  log_.clear();
  ASSERT_TRUE(frame_.setButtons(Porter::Enabled, Porter::Disabled, Porter::Enabled));
  EXPECT_FALSE(frame_.next()) << "next on the last page";
  EXPECT_EQ(2, frame_.getCurrentIndex());
  EXPECT_TRUE(log_.empty()) << join(log_);
  expectOnlyVisiblePage(2);
  EXPECT_FALSE(enabled(button(IDC_BACK))) << "a refused move must not reset the buttons";
}

TEST_F(WizardFrameTest, NextFinishAndBackFollowTheIndexAfterEverySwitch) {
  assemble(4);
  ASSERT_TRUE(frame_.start());
  // Visit in an order that arrives at every index from both sides; after
  // each arrival Back is changed the other way, to prove the switch resets it.
  for (int index : {0, 1, 2, 3, 2, 0, 3, 1, 0, 0}) {
    SCOPED_TRACE(index);
    ASSERT_TRUE(frame_.goToPage(index));
    const bool last = index == 3;
    EXPECT_EQ(!last, visible(button(IDC_NEXT)));
    EXPECT_EQ(last, visible(button(IDC_FINISH)));
    EXPECT_EQ(index != 0, enabled(button(IDC_BACK)));
    EXPECT_TRUE(enabled(button(IDC_CANCEL)));
    expectOnlyVisiblePage(index);
    ASSERT_TRUE(frame_.setButtons(Porter::Unchanged, index == 0 ? Porter::Enabled : Porter::Disabled, Porter::Unchanged));
  }
}

TEST_F(WizardFrameTest, GoingToTheCurrentPageLeavesAndEntersAgainWithButtonsReset) {
  assemble(3);
  ASSERT_TRUE(frame_.start());
  ASSERT_TRUE(frame_.goToPage(1));
  ASSERT_TRUE(frame_.setButtons(Porter::Disabled, Porter::Disabled, Porter::Disabled));
  bool buttonsAtEnter = false;
  bool anyAtLeave = true;
  page(1)->enterAction = [&](Porter::WizardUI*, HWND) {
    buttonsAtEnter = enabled(button(IDC_CANCEL)) && enabled(button(IDC_BACK)) && enabled(button(IDC_NEXT));
  };
  page(1)->leaveAction = [&](Porter::WizardUI*, HWND) {
    anyAtLeave = enabled(button(IDC_CANCEL)) || enabled(button(IDC_BACK)) || enabled(button(IDC_NEXT));
  };
  log_.clear();
  ASSERT_TRUE(frame_.goToPage(1));
  EXPECT_EQ(join({"P1:onLeave", "P1:onEnter"}), join(log_));
  EXPECT_FALSE(anyAtLeave) << "a page still shown keeps its own buttons (the progress page's Cancel stays off)";
  EXPECT_TRUE(buttonsAtEnter) << "buttons are reset to Default before onEnter";
  EXPECT_TRUE(visible(page(1)->window));
}

struct ButtonCase {
  int index;
  Porter::ButtonState cancel, back, next;
  bool cancelOn, backOn, nextOn;  // expected afterwards; Finish follows Next
};

std::ostream& operator<<(std::ostream& out, const ButtonCase& c) {
  return out << "index " << c.index << " setButtons(" << c.cancel << ", " << c.back << ", " << c.next << ")";
}

TEST_F(WizardFrameTest, SetButtonsFollowsTheStateTable) {
  using namespace Porter;
  const auto other = static_cast<ButtonState>(7);  // any other value disables
  const ButtonCase cases[] = {
      {0, Default, Default, Default, true, false, true},
      {1, Default, Default, Default, true, true, true},
      {0, Enabled, Enabled, Enabled, true, true, true},
      {3, Disabled, Disabled, Disabled, false, false, false},
      {3, Unchanged, Unchanged, Disabled, true, true, false},
      {2, other, other, other, false, false, false},
      {0, Disabled, Unchanged, Enabled, false, false, true},
  };
  assemble(4);
  ASSERT_TRUE(frame_.start());
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c));
    ASSERT_TRUE(frame_.goToPage(c.index));
    ASSERT_TRUE(frame_.setButtons(c.cancel, c.back, c.next));
    EXPECT_EQ(c.cancelOn, enabled(button(IDC_CANCEL)));
    EXPECT_EQ(c.backOn, enabled(button(IDC_BACK)));
    EXPECT_EQ(c.nextOn, enabled(button(IDC_NEXT)));
    EXPECT_EQ(c.nextOn, enabled(button(IDC_FINISH))) << "Next and Finish share one state";
  }
}

TEST_F(WizardFrameTest, PageThatMovesOnFromOnEnterIsNeverShown) {
  assemble(3);
  page(1)->enterAction = [](Porter::WizardUI* w, HWND) { EXPECT_TRUE(w->next()); };
  ASSERT_TRUE(frame_.start());
  log_.clear();
  EXPECT_EQ(1, press(IDC_NEXT));
  EXPECT_EQ(2, frame_.getCurrentIndex());
  EXPECT_EQ(join({"P0:onNext", "P0:onLeave", "P1:onEnter", "P1:onLeave", "P2:onEnter"}), join(log_));
  EXPECT_FALSE(page(1)->everShown);
  expectOnlyVisiblePage(2);
  EXPECT_TRUE(visible(button(IDC_FINISH))) << "the outer switch must not undo the last page's buttons";
  EXPECT_FALSE(visible(button(IDC_NEXT)));
}

TEST_F(WizardFrameTest, ShutdownFromOnEnterStopsBeforeTouchingDestroyedWindows) {
  assemble(3);
  page(1)->enterAction = [](Porter::WizardUI* w, HWND) { w->shutdown(); };
  ASSERT_TRUE(frame_.start());
  const HWND frameWindow = frame_.frameWindow();
  log_.clear();
  EXPECT_EQ(1, press(IDC_NEXT));

  EXPECT_EQ(join({"P0:onNext", "P0:onLeave", "P1:onEnter", "P1:onLeave", "P0:onDestroy", "P1:onDestroy",
                  "P2:onDestroy"}),
            join(log_));
  EXPECT_FALSE(page(1)->everShown);
  EXPECT_FALSE(IsWindow(frameWindow));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(IsWindow(page(i)->window)) << i;
  MSG quit;
  EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  // Not created any more: every window operation refuses.
  EXPECT_FALSE(frame_.setButtons(Porter::Enabled, Porter::Enabled, Porter::Enabled));
  EXPECT_FALSE(frame_.start());
  EXPECT_FALSE(frame_.next());
  EXPECT_FALSE(frame_.addPage(page(0)));
}

TEST_F(WizardFrameTest, ShutdownFromLeaveOrDestroyRunsOnce) {
  assemble(3);
  // A page that shuts down again while shutdown is already under way. Each
  // reaction fires once, so a frame without a re-entry guard shows up as a
  // second onDestroy here instead of as endless recursion.
  page(0)->leaveAction = [fired = false](Porter::WizardUI* w, HWND) mutable {
    if (fired) return;
    fired = true;
    w->shutdown();
  };
  page(0)->destroyAction = [fired = false](Porter::WizardUI* w, HWND) mutable {
    if (fired) return;
    fired = true;
    w->shutdown();
  };
  ASSERT_TRUE(frame_.start());
  log_.clear();
  frame_.shutdown();
  EXPECT_EQ(join({"P0:onLeave", "P0:onDestroy", "P1:onDestroy", "P2:onDestroy"}), join(log_));
  EXPECT_TRUE(pumpMessages());
}

struct CloseCase {
  const char* how;
  bool sysCommand;
  Porter::ButtonState cancel;
  bool reachesPage;
};

TEST_F(WizardFrameTest, CloseBoxArrivesAsCancelOnlyWhileCancelIsEnabled) {
  const CloseCase cases[] = {
      {"WM_SYSCOMMAND SC_CLOSE", true, Porter::Enabled, true},
      {"WM_SYSCOMMAND SC_CLOSE", true, Porter::Disabled, false},
      {"WM_CLOSE", false, Porter::Enabled, true},
      {"WM_CLOSE", false, Porter::Disabled, false},
  };
  assemble(2);
  ASSERT_TRUE(frame_.start());
  ASSERT_TRUE(frame_.next());
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(std::string(c.how) + (c.cancel == Porter::Enabled ? ", Cancel enabled" : ", Cancel disabled"));
    ASSERT_TRUE(frame_.setButtons(c.cancel, Porter::Unchanged, Porter::Unchanged));
    log_.clear();
    if (c.sysCommand) {
      SendMessageA(frame_.frameWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
      SendMessageA(frame_.frameWindow(), WM_CLOSE, 0, 0);
    }
    pumpMessages();  // the dialog manager posts the Cancel command
    EXPECT_EQ(c.reachesPage ? join({"P1:onCancel"}) : std::string(), join(log_));
    EXPECT_TRUE(IsWindow(frame_.frameWindow()));
  }
}

TEST_F(WizardFrameTest, FrameRoutesOnlyItsFourButtonsToTheCurrentPage) {
  assemble(2);
  ASSERT_TRUE(frame_.start());
  ASSERT_TRUE(frame_.next());
  log_.clear();
  EXPECT_EQ(0, press(1234)) << "an unknown id";
  EXPECT_EQ(0, press(IDC_PAGE_PLACEHOLDER));
  EXPECT_EQ(0, WizardUIImpl::frameDialogProc(frame_.frameWindow(), WM_USER + 1, IDC_NEXT, 0)) << "not a command";
  EXPECT_TRUE(log_.empty()) << join(log_);
  // A disabled button's command reaches nobody, whichever way it arrives.
  ASSERT_TRUE(frame_.setButtons(Porter::Disabled, Porter::Disabled, Porter::Disabled));
  for (int id : {IDC_NEXT, IDC_BACK, IDC_CANCEL, IDC_FINISH}) EXPECT_EQ(0, press(id)) << "disabled " << id;
  EXPECT_TRUE(log_.empty()) << join(log_);
  EXPECT_EQ(1, frame_.getCurrentIndex());
  ASSERT_TRUE(frame_.setButtons(Porter::Enabled, Porter::Enabled, Porter::Enabled));
  EXPECT_EQ(1, press(IDC_CANCEL)) << "Cancel returns what onCancel returns";
  EXPECT_EQ(1, press(IDC_FINISH)) << "Finish returns what onFinish returns";
  EXPECT_EQ(join({"P1:onCancel", "P1:onFinish", "P1:onLeave", "P0:onDestroy", "P1:onDestroy"}), join(log_));
  EXPECT_TRUE(pumpMessages()) << "the default onFinish shuts the wizard down";
}

// One key as the message loop meets it: to handleDialogMessage first, to the
// window only when it was not taken; Shift held through the thread's key state.
void typeKey(WizardUIImpl* frame, UINT message, WPARAM key, bool shift) {
  BYTE state[256] = {};
  GetKeyboardState(state);
  state[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(state);
  // A key goes down and comes up again (a button is pressed by the second).
  const UINT upMessage = message == WM_KEYDOWN ? WM_KEYUP : 0;
  for (UINT m : {message, upMessage}) {
    if (m == 0) continue;
    MSG msg = {GetFocus(), m, key, m == WM_KEYUP ? static_cast<LPARAM>(0xC0000001u) : 1, 0, {0, 0}};
    if (!frame->handleDialogMessage(&msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  state[VK_SHIFT] = 0;
  SetKeyboardState(state);
  pumpMessages();
}

// Where the focus is: "P<index>:<id>" for a page control, "frame:<id>" for a
// frame button.
std::string focusName(const WizardUIImpl& frame) {
  HWND focus = GetFocus();
  if (focus == nullptr) return "none";
  HWND parent = GetParent(focus);
  if (parent == frame.frameWindow()) return "frame:" + std::to_string(GetDlgCtrlID(focus));
  for (int i = 0; i < frame.pageCount(); ++i) {
    if (parent == frame.pageWindow(i)) return "P" + std::to_string(i) + ":" + std::to_string(GetDlgCtrlID(focus));
  }
  return focus == frame.frameWindow() ? "frame" : "elsewhere";
}

struct KeyStep {
  const char* what;
  UINT message;  // 0: no key, only the state is looked at
  WPARAM key;
  bool shift;
  std::string focus;   // where the focus is afterwards
  std::string called;  // the page calls it made
};

// Keys through the frame's dialog manager: where the focus lands after a page
// change, Tab and Shift+Tab across page and frame buttons past disabled ones,
// Space on a box, Enter, Escape and Alt+letter pressing exactly what a click
// would, and nothing while the button is disabled.
TEST_F(WizardFrameTest, KeysMoveTheFocusAndPressWhatAClickWould) {
  assemble(3);
  ASSERT_TRUE(frame_.start());
  pumpMessages();
  const std::string box = ":" + std::to_string(IDC_TEST_PAGE_BOX);
  const std::string back = "frame:" + std::to_string(IDC_BACK), cancel = "frame:" + std::to_string(IDC_CANCEL),
                    next = "frame:" + std::to_string(IDC_NEXT), finish = "frame:" + std::to_string(IDC_FINISH);
  const KeyStep steps[] = {
      {"arrival: the page's first control", 0, 0, false, "P0" + box, ""},
      {"Tab: Back is disabled on the first page", WM_KEYDOWN, VK_TAB, false, cancel, ""},
      {"Tab", WM_KEYDOWN, VK_TAB, false, next, ""},
      {"Tab: round to the page; hidden Finish and hidden pages passed", WM_KEYDOWN, VK_TAB, false, "P0" + box, ""},
      {"Shift+Tab", WM_KEYDOWN, VK_TAB, true, next, ""},
      {"Shift+Tab", WM_KEYDOWN, VK_TAB, true, cancel, ""},
      {"Escape is Cancel", WM_KEYDOWN, VK_ESCAPE, false, cancel, "P0:onCancel"},
      {"Enter on a focused push button presses it", WM_KEYDOWN, VK_RETURN, false, cancel, "P0:onCancel"},
      {"Shift+Tab back to the box", WM_KEYDOWN, VK_TAB, true, "P0" + box, ""},
      {"Space ticks the box", WM_KEYDOWN, VK_SPACE, false, "P0" + box,
       "P0:WM_COMMAND " + std::to_string(IDC_TEST_PAGE_BOX)},
      {"Enter elsewhere is Next", WM_KEYDOWN, VK_RETURN, false, "P1" + box,
       "P0:onNext P0:onLeave P1:onEnter"},
      {"Alt+B is Back", WM_SYSCHAR, 'b', false, "P0" + box, "P1:onBack P1:onLeave P0:onEnter"},
      {"Alt+N is Next", WM_SYSCHAR, 'n', false, "P1" + box, "P0:onNext P0:onLeave P1:onEnter"},
      {"Enter", WM_KEYDOWN, VK_RETURN, false, "P2" + box, "P1:onNext P1:onLeave P2:onEnter"},
      {"last page: Tab reaches Finish, not the hidden Next", WM_KEYDOWN, VK_TAB, false, back, ""},
      {"Tab", WM_KEYDOWN, VK_TAB, false, cancel, ""},
      {"Tab", WM_KEYDOWN, VK_TAB, false, finish, ""},
  };
  for (const KeyStep& step : steps) {
    log_.clear();
    if (step.message != 0) typeKey(&frame_, step.message, step.key, step.shift);
    std::string called;
    for (const std::string& entry : log_) called += (called.empty() ? "" : " ") + entry;
    EXPECT_EQ(focusName(frame_), step.focus) << step.what;
    EXPECT_EQ(called, step.called) << step.what;
  }
  // Disabled buttons are never reached, and their keys press nothing.
  ASSERT_TRUE(frame_.setButtons(Porter::Disabled, Porter::Disabled, Porter::Disabled));
  SetFocus(GetDlgItem(frame_.pageWindow(2), IDC_TEST_PAGE_BOX));
  log_.clear();
  for (UINT key : {VK_ESCAPE, VK_RETURN, VK_TAB}) typeKey(&frame_, WM_KEYDOWN, key, false);
  EXPECT_EQ(focusName(frame_), "P2" + box) << "the box is the only control left to reach";
  EXPECT_TRUE(log_.empty()) << join(log_);
}

TEST_F(WizardFrameTest, SecondCreateIsRefusedAndLeavesTheFrameAlone) {
  assemble(1);
  const HWND first = frame_.frameWindow();
  EXPECT_FALSE(frame_.create(g_instance, IDD_TEST_FRAME, IDC_NEXT, IDC_BACK, IDC_CANCEL, IDC_FINISH, 0, 0));
  EXPECT_EQ(first, frame_.frameWindow());
  EXPECT_EQ(1, countDialogsOfThisThread());
  EXPECT_EQ(1, countPageWindows(first));
  ASSERT_TRUE(frame_.start());
  EXPECT_EQ(0, frame_.getCurrentIndex());
  // After shutdown the same object may be created again.
  frame_.shutdown();
  EXPECT_TRUE(pumpMessages());
  ASSERT_TRUE(createFrame());
  EXPECT_EQ(0, frame_.pageCount());
  EXPECT_EQ(-1, frame_.getCurrentIndex());
}

TEST_F(WizardFrameTest, FailuresAreReportedAndLeaveNothingBehind) {
  RecordingPage* page = newPage("X");
  // Before create: nothing works that touches windows.
  EXPECT_FALSE(frame_.addPage(page));
  EXPECT_FALSE(frame_.start());
  EXPECT_FALSE(frame_.goToPage(0));
  EXPECT_FALSE(frame_.setButtons(Porter::Enabled, Porter::Enabled, Porter::Enabled));
  frame_.shutdown();
  EXPECT_FALSE(pumpMessages()) << "shutdown of a frame never created must not post the quit message";

  // A frame template without the Finish button, or none at all.
  EXPECT_FALSE(createFrame(IDD_TEST_FRAME_NO_FINISH));
  EXPECT_EQ(0, countDialogsOfThisThread()) << "the half-made frame must be destroyed";
  EXPECT_FALSE(createFrame(IDD_TEST_MISSING));
  EXPECT_EQ(nullptr, frame_.frameWindow());

  // Pages that cannot be made; a frame without pages cannot start.
  ASSERT_TRUE(createFrame());
  EXPECT_FALSE(frame_.start());
  EXPECT_FALSE(visible(frame_.frameWindow()));
  EXPECT_FALSE(frame_.addPage(nullptr));
  EXPECT_FALSE(frame_.addPage(newPage("Missing", IDD_TEST_MISSING)));
  EXPECT_EQ(0, frame_.pageCount());
  for (const std::string& entry : log_) EXPECT_NE("Missing:onCreate", entry);
  frame_.shutdown();
  pumpMessages();

  // A placement control the frame does not have.
  ASSERT_TRUE(createFrame(IDD_TEST_FRAME_NO_PLACEHOLDER));
  log_.clear();
  EXPECT_FALSE(frame_.addPage(page));
  EXPECT_EQ(0, frame_.pageCount());
  EXPECT_EQ(join({"X:getTemplateId", "X:WM_INITDIALOG"}), join(log_)) << "no onCreate for a refused page";
  EXPECT_EQ(0, countPageWindows(frame_.frameWindow())) << "the refused page's window is destroyed";
}

struct PlacementCase {
  const char* name;
  int32_t x, y;
  WORD pageTemplate;
};

TEST_F(WizardFrameTest, PagesArePlacedInFrameClientCoordinates) {
  const PlacementCase cases[] = {
      {"installer: centred, placeholder top", Porter::CenteredPosition, Porter::ControlPosition(IDC_PAGE_PLACEHOLDER),
       IDD_TEST_PAGE},
      {"small page centred both ways", Porter::CenteredPosition, Porter::CenteredPosition, IDD_TEST_SMALL_PAGE},
      {"Back button's edges", Porter::ControlPosition(IDC_BACK), Porter::ControlPosition(IDC_BACK), IDD_TEST_SMALL_PAGE},
      {"literal", 11, 23, IDD_TEST_PAGE},
  };
  for (const PlacementCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(createFrame(IDD_TEST_FRAME, c.x, c.y));
    ASSERT_TRUE(frame_.addPage(newPage(c.name, c.pageTemplate)));
    const HWND frame = frame_.frameWindow();
    const HWND pageWindow = frame_.pageWindow(0);
    RECT frameRect, pageRect;
    GetWindowRect(frame, &frameRect);
    GetWindowRect(pageWindow, &pageRect);
    POINT topLeft{pageRect.left, pageRect.top};
    ScreenToClient(frame, &topLeft);

    auto expected = [&](int32_t encoded, bool horizontal) -> LONG {
      if (encoded == Porter::CenteredPosition) {
        return horizontal ? ((frameRect.right - frameRect.left) - (pageRect.right - pageRect.left)) / 2
                          : ((frameRect.bottom - frameRect.top) - (pageRect.bottom - pageRect.top)) / 2;
      }
      if (Porter::isControlPosition(encoded)) {
        // The control's template rectangle in dialog units, converted by the
        // dialog manager itself: independent of how the frame measures it.
        RECT units = Porter::positionControlId(encoded) == IDC_BACK ? RECT{187, 239, 237, 253} : RECT{7, 38, 15, 46};
        MapDialogRect(frame, &units);
        return horizontal ? units.left : units.top;
      }
      return encoded;
    };
    EXPECT_EQ(expected(c.x, true), topLeft.x);
    EXPECT_EQ(expected(c.y, false), topLeft.y);
    EXPECT_EQ(GetParent(pageWindow), frame);
    frame_.shutdown();
    pumpMessages();
  }
}

// Answers the next message box of the given thread with the given button and
// reports what it showed. Runs on a helper thread because the box's modal loop
// holds the test thread; the click is posted, never sent.
struct BoxSearch {
  HWND box = nullptr;
};

// A visible dialog with a No button: the Yes/No box, never the frame.
BOOL CALLBACK findYesNoBox(HWND window, LPARAM param) {
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof(cls));
  if (lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(window) && GetDlgItem(window, IDNO) != nullptr) {
    reinterpret_cast<BoxSearch*>(param)->box = window;
    return FALSE;
  }
  return TRUE;
}

struct BoxAnswer {
  std::string caption, text;
  HWND owner = nullptr;
  bool found = false;
};

std::thread answerMessageBox(DWORD uiThread, int buttonId, BoxAnswer* out) {
  return std::thread([=] {
    for (int attempt = 0; attempt < 1000 && !out->found; ++attempt) {
      BoxSearch search;
      EnumThreadWindows(uiThread, findYesNoBox, reinterpret_cast<LPARAM>(&search));
      if (search.box != nullptr) {
        char buffer[256] = {};
        GetWindowTextA(search.box, buffer, sizeof(buffer));
        out->caption = buffer;
        buffer[0] = '\0';
        GetDlgItemTextA(search.box, 0xFFFF, buffer, sizeof(buffer));
        out->text = buffer;
        out->owner = GetWindow(search.box, GW_OWNER);
        out->found = true;
        PostMessageA(GetDlgItem(search.box, buttonId), BM_CLICK, 0, 0);
        return;
      }
      Sleep(10);
    }
  });
}

TEST_F(WizardFrameTest, DefaultCancelAsksAndShutsDownOnlyOnYes) {
  assemble(3);
  for (int i = 0; i < 3; ++i) page(i)->defaultCancel = true;
  ASSERT_TRUE(frame_.start());
  ASSERT_TRUE(frame_.next());
  ASSERT_TRUE(frame_.setButtons(Porter::Unchanged, Porter::Disabled, Porter::Unchanged));
  log_.clear();

  BoxAnswer no;
  std::thread helper = answerMessageBox(GetCurrentThreadId(), IDNO, &no);
  EXPECT_EQ(1, press(IDC_CANCEL));
  helper.join();
  ASSERT_TRUE(no.found);
  EXPECT_EQ(TEST_CANCEL_CAPTION, no.caption);
  EXPECT_EQ(TEST_CANCEL_TEXT, no.text);
  EXPECT_EQ(frame_.frameWindow(), no.owner) << "a box owned by a page is owned by the page's top-level window";
  // No: nothing changed.
  EXPECT_EQ(join({"P1:onCancel"}), join(log_));
  EXPECT_EQ(1, frame_.getCurrentIndex());
  expectOnlyVisiblePage(1);
  EXPECT_FALSE(enabled(button(IDC_BACK)));
  EXPECT_TRUE(enabled(button(IDC_NEXT)));
  EXPECT_FALSE(pumpMessages());

  BoxAnswer yes;
  helper = answerMessageBox(GetCurrentThreadId(), IDYES, &yes);
  log_.clear();
  EXPECT_EQ(1, press(IDC_CANCEL));
  helper.join();
  ASSERT_TRUE(yes.found);
  EXPECT_EQ(join({"P1:onCancel", "P1:onLeave", "P0:onDestroy", "P1:onDestroy", "P2:onDestroy"}), join(log_));
  EXPECT_EQ(nullptr, frame_.frameWindow());
  EXPECT_TRUE(pumpMessages());
}

TEST_F(WizardFrameTest, HeaderBitmapFollowsThePageShown) {
  assemble(3);
  page(0)->header = false;
  const HWND header = GetDlgItem(frame_.frameWindow(), IDC_HEADER_BITMAP);
  ASSERT_NE(nullptr, header);
  ASSERT_TRUE(frame_.start());
  EXPECT_FALSE(visible(header)) << "welcome-like page";
  ASSERT_TRUE(frame_.next());
  EXPECT_TRUE(visible(header));
  ASSERT_TRUE(frame_.goToPage(2));
  EXPECT_TRUE(visible(header));
  ASSERT_TRUE(frame_.goToPage(0));
  EXPECT_FALSE(visible(header));
}

TEST_F(WizardFrameTest, PageWindowMessagesReachOnlyTheirPage) {
  assemble(2);
  ASSERT_TRUE(frame_.start());
  log_.clear();
  // A click on a page's own control goes to that page.
  SendMessageA(GetDlgItem(page(0)->window, IDC_TEST_PAGE_BOX), BM_CLICK, 0, 0);
  // Another thread's posted message reaches its page through the queue,
  // current or not.
  const HWND target = page(1)->window;
  std::thread([target] { PostMessageA(target, WM_USER + 0x104, 0, 0); }).join();
  pumpMessages();
  EXPECT_EQ(join({"P0:WM_COMMAND " + std::to_string(IDC_TEST_PAGE_BOX), "P1:WM_USER+260"}), join(log_));
}

TEST(WizardSingletonTest, OneFrameForTheWholeProcess) {
  Porter::WizardUI* frame = getWizardUI();
  ASSERT_NE(nullptr, frame);
  EXPECT_EQ(frame, getWizardUI());
  int record = 0;
  frame->setUserData(&record);
  EXPECT_EQ(&record, getWizardUI()->getUserData());
  frame->setUserData(nullptr);
  // It drives real windows like any frame.
  g_instance = GetModuleHandleA(nullptr);
  ASSERT_TRUE(frame->create(g_instance, IDD_TEST_FRAME, IDC_NEXT, IDC_BACK, IDC_CANCEL, IDC_FINISH,
                            Porter::CenteredPosition, Porter::ControlPosition(IDC_PAGE_PLACEHOLDER)));
  EXPECT_EQ(g_instance, frame->getInstance());
  frame->shutdown();
  EXPECT_TRUE(pumpMessages());
}

}  // namespace
