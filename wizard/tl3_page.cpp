#include "resources/resource_ids.h"
#include "wizard/strings.h"
#include "wizard/wizard_page.h"

void TL3Page::onCreate(Porter::WizardUI*, HWND) {}

int TL3Page::onEnter(Porter::WizardUI*, HWND page) {
  // The header bitmap belongs to the frame, the page's parent.
  HWND bitmap = GetDlgItem(GetParent(page), IDC_HEADER_BITMAP);
  if (bitmap != nullptr) ShowWindow(bitmap, showsHeaderBitmap() ? SW_SHOW : SW_HIDE);
  return 1;
}

int TL3Page::onNext(Porter::WizardUI*, HWND) { return 0; }

int TL3Page::onBack(Porter::WizardUI*, HWND) { return 0; }

int TL3Page::onCancel(Porter::WizardUI* wizard, HWND page) {
  const std::string text = loadResourceString(IDS_CANCEL_TEXT);
  const std::string caption = loadResourceString(IDS_CANCEL_CAPTION);
  if (MessageBoxA(page, text.c_str(), caption.c_str(), MB_YESNO) == IDYES) wizard->shutdown();
  return 1;
}

int TL3Page::onFinish(Porter::WizardUI* wizard, HWND) {
  wizard->shutdown();
  return 1;
}

INT_PTR TL3Page::onMessage(Porter::WizardUI*, HWND, UINT, WPARAM, LPARAM) { return 0; }

int TL3Page::onLeave(Porter::WizardUI*, HWND) { return 0; }

void TL3Page::onDestroy(Porter::WizardUI*, HWND) {}

bool TL3Page::showsHeaderBitmap() { return true; }

INT_PTR CALLBACK pageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The page object must be in place before anything can ask for it, so it is
  // stored first; messages before WM_INITDIALOG (WM_SETFONT) reach no page.
  if (message == WM_INITDIALOG) SetWindowLongPtrA(window, GWLP_USERDATA, static_cast<LONG_PTR>(lParam));
  auto* frame = reinterpret_cast<Porter::WizardUI*>(GetWindowLongPtrA(GetParent(window), GWLP_USERDATA));
  auto* page = reinterpret_cast<Porter::WizardUIPage*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (frame == nullptr || page == nullptr) return 0;
  return page->onMessage(frame, window, message, wParam, lParam);
}
