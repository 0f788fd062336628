#include "wizard/wizard_ui_impl.h"

namespace {

// Move without resizing, without changing the z-order and without redrawing.
constexpr UINT kMoveFlags = SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW;
static_assert(kMoveFlags == 0x000D, "page and frame moves use exactly these flags");

int width(const RECT& r) { return r.right - r.left; }
int height(const RECT& r) { return r.bottom - r.top; }

}  // namespace

Porter::WizardUI* getWizardUI() {
  // Created on first use and never deleted: pages and window user data hold
  // this pointer until the process ends.
  static WizardUIImpl* const frame = new WizardUIImpl();
  return frame;
}

WizardUIImpl::WizardUIImpl() = default;

WizardUIImpl::~WizardUIImpl() {
  if (frameWindow_ != nullptr && IsWindow(frameWindow_) &&
      GetWindowLongPtrA(frameWindow_, GWLP_USERDATA) ==
          reinterpret_cast<LONG_PTR>(static_cast<Porter::WizardUI*>(this))) {
    SetWindowLongPtrA(frameWindow_, GWLP_USERDATA, 0);
  }
}

bool WizardUIImpl::create(HINSTANCE instance, WORD templateId, int nextId, int backId, int cancelId, int finishId,
                          int32_t pageX, int32_t pageY) {
  if (created_) return false;
  instance_ = instance;
  // The frame object travels as Porter::WizardUI*: pageDialogProc reads it back
  // from this window's user data as exactly that type.
  HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, frameDialogProc,
                                   reinterpret_cast<LPARAM>(static_cast<Porter::WizardUI*>(this)));
  if (window == nullptr) return false;
  ShowWindow(window, SW_HIDE);
  const int ids[] = {nextId, backId, cancelId, finishId};
  for (int id : ids) {
    if (GetDlgItem(window, id) == nullptr) {
      DestroyWindow(window);
      return false;
    }
  }
  frameWindow_ = window;
  nextId_ = nextId;
  backId_ = backId;
  cancelId_ = cancelId;
  finishId_ = finishId;
  pageX_ = pageX;
  pageY_ = pageY;
  currentIndex_ = -1;
  created_ = true;
  return true;
}

bool WizardUIImpl::resolvePosition(int32_t encoded, bool horizontal, HWND page, int* out) const {
  if (encoded == Porter::CenteredPosition) {
    RECT frameRect{};
    RECT pageRect{};
    GetWindowRect(frameWindow_, &frameRect);
    GetWindowRect(page, &pageRect);
    // Signed division, truncating toward zero: a page wider than the frame
    // gets a negative offset rather than a huge one.
    *out = horizontal ? (width(frameRect) - width(pageRect)) / 2 : (height(frameRect) - height(pageRect)) / 2;
    return true;
  }
  if (Porter::isControlPosition(encoded)) {
    HWND control = GetDlgItem(frameWindow_, Porter::positionControlId(encoded));
    if (control == nullptr) return false;
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, frameWindow_, reinterpret_cast<POINT*>(&r), 2);
    *out = horizontal ? r.left : r.top;
    return true;
  }
  *out = encoded;
  return true;
}

bool WizardUIImpl::addPage(Porter::WizardUIPage* page) {
  if (page == nullptr || !created_) return false;
  HWND window = CreateDialogParamA(instance_, MAKEINTRESOURCEA(page->getTemplateId()), frameWindow_, pageDialogProc,
                                   reinterpret_cast<LPARAM>(page));
  if (window == nullptr) return false;
  // A page that shut the wizard down from its WM_INITDIALOG has taken the
  // frame (and with it this child) away.
  if (!created_) return false;
  ShowWindow(window, SW_HIDE);
  // The frame's dialog manager walks into the page: Tab goes from the page's
  // controls on to the frame's buttons and back, Alt+letter finds the page's
  // buttons too. The template stays as it is; the flag is set here.
  SetWindowLongPtrA(window, GWL_EXSTYLE, GetWindowLongPtrA(window, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  int x = 0;
  int y = 0;
  if (!resolvePosition(pageX_, true, window, &x) || !resolvePosition(pageY_, false, window, &y)) {
    // The frame template lacks the control that should place the page: a page
    // at an invented position would be worse than a refusal the caller sees.
    DestroyWindow(window);
    return false;
  }
  SetWindowPos(window, nullptr, x, y, 0, 0, kMoveFlags);
  pages_.push_back(PageEntry{window, page});
  page->onCreate(this, window);
  return true;
}

bool WizardUIImpl::start() {
  if (!created_ || pages_.empty()) return false;
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  RECT frameRect{};
  GetWindowRect(frameWindow_, &frameRect);
  // The work area's origin is deliberately not added: the frame is centred on
  // the work area's size, measured from the screen origin.
  const int x = (width(work) - width(frameRect)) / 2;
  const int y = (height(work) - height(frameRect)) / 2;
  SetWindowPos(frameWindow_, nullptr, x, y, 0, 0, kMoveFlags);
  ShowWindow(frameWindow_, SW_SHOW);
  showPage(0);
  return true;
}

bool WizardUIImpl::showPage(int index) {
  if (!created_) return false;
  if (index < -1 || index > static_cast<int>(pages_.size()) - 1) return false;
  const int oldIndex = currentIndex_;
  currentIndex_ = index;

  // Entries are copied before each callback: a callback may shut down (which
  // empties the list) or add a page (which may move the list's storage).
  if (oldIndex != -1 && created_) {
    const PageEntry old = pages_[static_cast<size_t>(oldIndex)];
    old.page->onLeave(this, old.window);
    if (created_) ShowWindow(old.window, SW_HIDE);
  }
  // Only once the old page is hidden: the progress page, whose buttons are
  // all disabled, must never be seen with an enabled Cancel on its way to the
  // next page. Current index is already the new one, so Default leaves Back
  // disabled exactly on page 0.
  setButtons(Porter::Default, Porter::Default, Porter::Default);

  int current = currentIndex_;
  if (current != -1) {
    if (!created_) return true;
    const PageEntry entering = pages_[static_cast<size_t>(current)];
    entering.page->onEnter(this, entering.window);
    if (!created_) return true;
    // onEnter may have moved on (a nested showPage hid this page and showed
    // the next); show whichever page is current now.
    current = currentIndex_;
    if (current >= 0 && current < static_cast<int>(pages_.size())) {
      ShowWindow(pages_[static_cast<size_t>(current)].window, SW_SHOW);
    }
  }

  if (!created_) return true;
  const bool last = currentIndex_ == static_cast<int>(pages_.size()) - 1;
  // Next and Finish share one place in the template: exactly one is visible.
  ShowWindow(GetDlgItem(frameWindow_, nextId_), last ? SW_HIDE : SW_SHOW);
  ShowWindow(GetDlgItem(frameWindow_, finishId_), last ? SW_SHOW : SW_HIDE);
  // Enter presses the visible one of the two.
  SendMessageA(frameWindow_, DM_SETDEFID, static_cast<WPARAM>(last ? finishId_ : nextId_), 0);
  if (currentIndex_ >= 0) focusCurrentPage();
  return true;
}

void WizardUIImpl::focusCurrentPage() {
  // Before start the frame is hidden: nothing to type into yet.
  if (!IsWindowVisible(frameWindow_)) return;
  const bool last = currentIndex_ == static_cast<int>(pages_.size()) - 1;
  HWND target = nullptr;
  // The page's first control that takes the focus, in template order.
  for (HWND child = GetWindow(pages_[static_cast<size_t>(currentIndex_)].window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongPtrA(child, GWL_STYLE) & WS_TABSTOP) != 0 && IsWindowVisible(child) &&
        IsWindowEnabled(child)) {
      target = child;
      break;
    }
  }
  if (target == nullptr) {
    HWND button = GetDlgItem(frameWindow_, last ? finishId_ : nextId_);
    if (button != nullptr && IsWindowEnabled(button)) target = button;
  }
  if (target != nullptr) {
    SendMessageA(frameWindow_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
  } else {
    // Nothing may be pressed (the progress page): the frame itself listens,
    // so Escape reaches the disabled Cancel and only beeps.
    SetFocus(frameWindow_);
  }
}

bool WizardUIImpl::isPushButton(HWND window) {
  // What the dialog manager itself asks of a control.
  const LRESULT code = SendMessageA(window, WM_GETDLGCODE, 0, 0);
  return (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

bool WizardUIImpl::handleDialogMessage(MSG* message) {
  if (!created_ || message->hwnd == nullptr) return false;
  if (message->hwnd != frameWindow_ && !IsChild(frameWindow_, message->hwnd)) return false;
  // Enter and Escape mean the same on every control, the licence text
  // included (a multi-line edit control would otherwise keep both, and hand
  // them to the page, which has no default button and no Cancel).
  if (message->message == WM_KEYDOWN && (message->wParam == VK_RETURN || message->wParam == VK_ESCAPE)) {
    HWND focus = GetFocus();
    int id = cancelId_;
    if (message->wParam == VK_RETURN) {
      // A focused push button is pressed (as a click would); anything else
      // presses the frame's default button, Next or, on the last page, Finish.
      if (focus != nullptr && isPushButton(focus) && IsWindowEnabled(focus) && IsChild(frameWindow_, focus)) {
        SendMessageA(GetParent(focus), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                     reinterpret_cast<LPARAM>(focus));
        return true;
      }
      id = currentIndex_ == static_cast<int>(pages_.size()) - 1 ? finishId_ : nextId_;
    }
    // A disabled button's command only beeps (onCommand).
    SendMessageA(frameWindow_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(frameWindow_, id)));
    return true;
  }
  return IsDialogMessageA(frameWindow_, message) != FALSE;
}

bool WizardUIImpl::goToPage(int index) {
  if (index < 0 || index > static_cast<int>(pages_.size()) - 1) return false;
  return showPage(index);
}

bool WizardUIImpl::next() { return goToPage(currentIndex_ + 1); }

bool WizardUIImpl::back() { return goToPage(currentIndex_ - 1); }

int WizardUIImpl::getCurrentIndex() { return currentIndex_; }

void WizardUIImpl::applyButtonState(int controlId, Porter::ButtonState state, bool isBack) {
  bool enable;
  switch (state) {
    case Porter::Unchanged:
      return;
    case Porter::Default:
      enable = !(isBack && currentIndex_ == 0);
      break;
    case Porter::Enabled:
      enable = true;
      break;
    default:  // Disabled, and any value the enumeration does not name
      enable = false;
      break;
  }
  EnableWindow(GetDlgItem(frameWindow_, controlId), enable ? TRUE : FALSE);
}

bool WizardUIImpl::setButtons(Porter::ButtonState cancelState, Porter::ButtonState backState,
                              Porter::ButtonState nextState) {
  if (!created_) return false;
  applyButtonState(cancelId_, cancelState, false);
  applyButtonState(backId_, backState, true);
  applyButtonState(nextId_, nextState, false);
  applyButtonState(finishId_, nextState, false);
  return true;
}

void WizardUIImpl::shutdown() {
  if (!created_ || shuttingDown_) return;
  shuttingDown_ = true;
  showPage(-1);
  // Index loop over a list that only this routine empties; each entry is
  // copied before its callback for the same reason as in showPage.
  for (size_t i = 0; i < pages_.size(); ++i) {
    const PageEntry entry = pages_[i];
    entry.page->onDestroy(this, entry.window);
    DestroyWindow(entry.window);
  }
  pages_.clear();
  DestroyWindow(frameWindow_);
  frameWindow_ = nullptr;
  PostQuitMessage(0);
  created_ = false;
  shuttingDown_ = false;
}

void WizardUIImpl::setUserData(void* data) { userData_ = data; }

void* WizardUIImpl::getUserData() { return userData_; }

HINSTANCE WizardUIImpl::getInstance() { return instance_; }

HWND WizardUIImpl::pageWindow(int index) const {
  if (index < 0 || index >= static_cast<int>(pages_.size())) return nullptr;
  return pages_[static_cast<size_t>(index)].window;
}

INT_PTR WizardUIImpl::onCommand(int id) {
  // A command with no current page (none yet, or after shutdown) has nobody
  // to go to.
  if (!created_ || currentIndex_ < 0 || currentIndex_ >= static_cast<int>(pages_.size())) return 0;
  const PageEntry current = pages_[static_cast<size_t>(currentIndex_)];
  if (id == nextId_ || id == backId_ || id == cancelId_ || id == finishId_) {
    // A disabled button's command goes nowhere. Windows' dialog manager already
    // drops the close box's Cancel while Cancel is disabled, but Wine's posts
    // it regardless; without this check the close box could end the installer
    // in the middle of a run, while the worker is still writing.
    HWND button = GetDlgItem(frameWindow_, id);
    if (button != nullptr && !IsWindowEnabled(button)) {
      MessageBeep(MB_OK);
      return 0;
    }
  }
  if (id == nextId_) {
    if (current.page->onNext(this, current.window) != 0) return 0;
    next();
    return 1;
  }
  if (id == backId_) {
    if (current.page->onBack(this, current.window) != 0) return 0;
    back();
    return 1;
  }
  if (id == cancelId_) return current.page->onCancel(this, current.window);
  if (id == finishId_) return current.page->onFinish(this, current.window);
  return 0;
}

INT_PTR CALLBACK WizardUIImpl::frameDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(window, GWLP_USERDATA, static_cast<LONG_PTR>(lParam));
  auto* frame = reinterpret_cast<Porter::WizardUI*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message != WM_COMMAND || frame == nullptr) return 0;
  // Only WizardUIImpl::create puts an object here, always this class.
  return static_cast<WizardUIImpl*>(frame)->onCommand(LOWORD(wParam));
}
