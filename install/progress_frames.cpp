#include "install/progress_frames.h"

#include <cstring>
#include <initializer_list>
#include <new>

namespace {

// Switches a control's own drawing on or off; switched off, it still takes
// every change.
void setRedraw(HWND control, bool on) {
  if (control != nullptr) SendMessageA(control, WM_SETREDRAW, on ? TRUE : FALSE, 0);
}

}  // namespace

bool ProgressFrames::makeCanvas(HDC pageDc) {
  if (canvas_ != nullptr) return true;
  LONG width = 0, height = 0;
  for (HWND control : {bar_, percent_, status_}) {
    RECT client;
    if (control == nullptr || !GetClientRect(control, &client)) continue;
    if (client.right > width) width = client.right;
    if (client.bottom > height) height = client.bottom;
  }
  if (width == 0 || height == 0) return false;
  canvas_ = CreateCompatibleDC(pageDc);
  canvasBitmap_ = CreateCompatibleBitmap(pageDc, width, height);
  if (canvas_ == nullptr || canvasBitmap_ == nullptr) {
    freeCanvas();
    return false;
  }
  canvasPrevious_ = SelectObject(canvas_, canvasBitmap_);
  return true;
}

void ProgressFrames::freeCanvas() {
  if (canvas_ != nullptr && canvasPrevious_ != nullptr) SelectObject(canvas_, canvasPrevious_);
  if (canvasBitmap_ != nullptr) DeleteObject(canvasBitmap_);
  if (canvas_ != nullptr) DeleteDC(canvas_);
  canvas_ = nullptr;
  canvasBitmap_ = nullptr;
  canvasPrevious_ = nullptr;
}

// Has a control whose own drawing is off draw its client area into the
// canvas (WM_PRINTCLIENT) and copies that onto the page where the control
// lies. Through a bitmap, because a static text control clips its drawing to
// its client rectangle in device units. Each control paints the whole of its
// client area, so what an earlier control left in the canvas never shows.
void ProgressFrames::printControl(HWND page, HDC pageDc, HWND control) {
  if (control == nullptr) return;
  RECT client;
  GetClientRect(control, &client);
  POINT origin = {0, 0};
  MapWindowPoints(control, page, &origin, 1);
  SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas_), PRF_CLIENT);
  BitBlt(pageDc, origin.x, origin.y, client.right, client.bottom, canvas_, 0, 0, SRCCOPY);
}

void ProgressFrames::setControls(HWND bar, HWND percent, HWND status) {
  bar_ = bar;
  percent_ = percent;
  status_ = status;
}

bool ProgressFrames::start(HWND page, UINT_PTR timerId) {
  framing_ = SetTimer(page, timerId, kFrameMs, nullptr) != 0;
  if (!framing_) return false;
  timer_ = timerId;
  for (HWND control : {bar_, percent_, status_}) setRedraw(control, false);
  barDirty_ = labelDirty_ = statusDirty_ = true;
  lastFrame_ = GetTickCount() - kFrameMs;  // the first frame is due at once
  restEnded_ = lastFrame_;
  return true;
}

void ProgressFrames::stop(HWND page) {
  if (!framing_) return;
  KillTimer(page, timer_);
  framing_ = false;
  if (statusChanged_) SetWindowTextA(status_, statusText_ ? statusText_.get() : "");
  statusChanged_ = false;
  for (HWND control : {bar_, percent_, status_}) {
    setRedraw(control, true);
    if (control != nullptr) InvalidateRect(control, nullptr, TRUE);
  }
  barDirty_ = labelDirty_ = statusDirty_ = false;
  freeCanvas();
}

void ProgressFrames::showStatus(const char* text) {
  if (!framing_) {
    SetWindowTextA(status_, text);
    return;
  }
  // Written with the next frame: a file that begins and ends between two
  // frames could not be seen anyway.
  const size_t size = std::strlen(text) + 1;
  if (size > statusRoom_) {
    statusText_.reset(new (std::nothrow) char[size]);
    statusRoom_ = statusText_ ? size : 0;
  }
  // Without memory the status line goes blank; the bar keeps counting.
  if (statusText_) std::memcpy(statusText_.get(), text, size);
  statusChanged_ = true;
}

void ProgressFrames::pageErased() {
  if (framing_) barDirty_ = labelDirty_ = statusDirty_ = true;
}

void ProgressFrames::drawIfDue(HWND page) {
  if (framing_ && GetTickCount() - lastFrame_ >= kFrameMs) draw(page);
}

void ProgressFrames::draw(HWND page) {
  lastFrame_ = GetTickCount();
  // Windows hands out WM_PAINT only from an otherwise empty queue, which the
  // worker's messages seldom leave: whatever else on the wizard waits for
  // painting (the page's heading once the page shows, say) is painted with
  // the frame. Painting the page over the three controls marks them for
  // this frame (pageErased).
  if (HIWORD(GetQueueStatus(QS_PAINT)) & QS_PAINT) {
    RedrawWindow(GetAncestor(page, GA_ROOT), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
  if (statusChanged_) {
    SetWindowTextA(status_, statusText_ ? statusText_.get() : "");
    statusChanged_ = false;
    statusDirty_ = true;
  }
  if (!barDirty_ && !labelDirty_ && !statusDirty_) return;
  HDC dc = GetDC(page);
  if (dc == nullptr) return;  // tried again with the next frame
  if (!makeCanvas(dc)) {
    ReleaseDC(page, dc);
    return;
  }
  if (barDirty_) printControl(page, dc, bar_);
  if (labelDirty_) printControl(page, dc, percent_);
  if (statusDirty_) printControl(page, dc, status_);
  ReleaseDC(page, dc);
  barDirty_ = labelDirty_ = statusDirty_ = false;
}

// The worker posts a message every few hundred microseconds. Woken for each
// one, the page would spend more on being woken (several Wine server requests
// per message) than on the message itself, and those requests queue with the
// worker's own file requests at the one Wine server. So once the page has
// caught up, that is, once the message it just handled was posted less than
// kCaughtUpMs ago, it rests for kRestMs while the next messages gather in its
// queue, and then takes them one by one. A message sent to the page's thread
// ends a rest at once. A rest never follows another within kRestMs of
// running, so the page keeps up even if posting times were misread. Every
// message is still handled, in order, within a few milliseconds.
void ProgressFrames::restIfCaughtUp() {
  if (!framing_) return;
  const DWORD now = GetTickCount();
  const LONG age = static_cast<LONG>(now - static_cast<DWORD>(GetMessageTime()));
  if (age < 0 || age >= kCaughtUpMs || now - restEnded_ < kRestMs) return;
  MsgWaitForMultipleObjectsEx(0, nullptr, kRestMs, QS_SENDMESSAGE, 0);
  restEnded_ = GetTickCount();
}
