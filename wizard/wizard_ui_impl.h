// WizardUIImpl, the one implementation of the wizard frame: a modeless dialog
// that owns the page windows, switches the current page and routes its four
// buttons to it. Single-threaded: every call runs on the thread that created it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "wizard/wizard_page.h"
#include "wizard/wizard_ui.h"

// One page in the frame's list: its dialog window and its (non-owned) object.
struct PageEntry {
  HWND window;
  Porter::WizardUIPage* page;
};

class WizardUIImpl : public Porter::WizardUI {
 public:
  // Not created, no pages, no user data. Tests construct their own frames this
  // way; the program uses the singleton behind getWizardUI.
  WizardUIImpl();
  // Releases the page list only: calls no page and destroys no window. The
  // frame window (if still there) forgets this object, so a late message
  // cannot reach freed memory.
  ~WizardUIImpl() override;
  WizardUIImpl(const WizardUIImpl&) = delete;
  WizardUIImpl& operator=(const WizardUIImpl&) = delete;

  // Creates the frame, hidden, from a dialog template. False when already
  // created (the existing frame is left alone), when the dialog cannot be made,
  // or when one of the four buttons is missing (the half-made window is then
  // destroyed). On false nothing of this object changes except the instance.
  bool create(HINSTANCE instance, WORD templateId, int nextId, int backId, int cancelId, int finishId,
              int32_t pageX, int32_t pageY) override;
  // Creates the page's dialog (hidden, placed by page x / page y), appends it
  // and calls its onCreate. False for a null page, before create, when the
  // page dialog cannot be made, or when a ControlPosition names a control the
  // frame does not have; the page is then not in the list and gets no onCreate.
  bool addPage(Porter::WizardUIPage* page) override;
  // Centres the frame in the work area, shows it and makes page 0 current.
  // False before create or with no pages (the frame stays hidden).
  bool start() override;
  // Enables/disables Cancel, Back, Next+Finish per ButtonState. False when not
  // created.
  bool setButtons(Porter::ButtonState cancelState, Porter::ButtonState backState,
                  Porter::ButtonState nextState) override;
  bool next() override;  // goToPage(current + 1)
  bool back() override;  // goToPage(current - 1)
  int getCurrentIndex() override;  // -1 when no page is current
  // Switches to page index through showPage (the current index included: the
  // page leaves and enters again). False, with nothing changed, for an index
  // outside 0 .. page count - 1.
  bool goToPage(int index) override;
  // Current page leaves, every page gets onDestroy and loses its window, the
  // frame is destroyed, the quit message is posted and created is cleared.
  // Safe from inside any page callback; a nested call while one is under way,
  // or a call when not created, does nothing.
  void shutdown() override;
  void setUserData(void* data) override;
  void* getUserData() override;
  HINSTANCE getInstance() override;

  // For tests and tools: the frame window (null when not created) and the
  // window of page index (null outside the list).
  HWND frameWindow() const { return created_ ? frameWindow_ : nullptr; }
  HWND pageWindow(int index) const;
  int pageCount() const { return static_cast<int>(pages_.size()); }

  // Keyboard handling for the message loop: true when message was a key for
  // the wizard and has been handled (do not dispatch it). Tab and Shift+Tab
  // move through the current page's controls and the frame's buttons in
  // template order, arrows through a group of radio buttons, Space ticks and
  // picks, Alt+letter presses the button with that underlined letter, Enter
  // presses the focused push button or else Next (Finish on the last page),
  // Escape presses Cancel. A disabled button is never reached and its key
  // only beeps. Messages of other windows are left alone (false).
  bool handleDialogMessage(MSG* message);

  // The frame's dialog procedure: stores the frame object at WM_INITDIALOG and
  // routes the four button commands to the current page; the command of a
  // disabled button (the close box while Cancel is disabled) only beeps.
  static INT_PTR CALLBACK frameDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  // The page switch behind start, goToPage and shutdown; index -1 leaves the
  // current page without entering another. Re-reads the current index and the
  // created flag after every callback, so a page may move on or shut down from
  // inside onLeave/onEnter. False when not created or index is out of range.
  bool showPage(int index);
  INT_PTR onCommand(int id);
  // After a page switch: the focus goes to the current page's first control
  // that takes it, else to Next (Finish on the last page) when enabled, else
  // to the frame.
  void focusCurrentPage();
  static bool isPushButton(HWND window);
  void applyButtonState(int controlId, Porter::ButtonState state, bool isBack);
  // Resolves page x or page y; false when a ControlPosition control is missing.
  bool resolvePosition(int32_t encoded, bool horizontal, HWND page, int* out) const;

  // Field order as the frame's data layout describes it.
  bool created_ = false;
  HINSTANCE instance_ = nullptr;
  HWND frameWindow_ = nullptr;
  std::vector<PageEntry> pages_;
  int currentIndex_ = -1;
  int nextId_ = 0;
  int backId_ = 0;
  int cancelId_ = 0;
  int finishId_ = 0;
  int32_t pageX_ = 0;
  int32_t pageY_ = 0;
  void* userData_ = nullptr;

  bool shuttingDown_ = false;  // guards shutdown against a nested call
};
