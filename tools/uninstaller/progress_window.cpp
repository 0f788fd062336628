#include "tools/uninstaller/progress_window.h"

#include <commctrl.h>

#include <climits>

#include "platform/dll_search.h"

namespace uninst {

namespace {

const char kClassName[] = "TowerLinkUninstallProgress";

LRESULT CALLBACK progressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The run cannot be stopped half-way, so closing the window is ignored.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

bool registerClass(HINSTANCE instance) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = progressProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  if (RegisterClassExA(&wc)) return true;
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

ProgressWindow::~ProgressWindow() { close(); }

void ProgressWindow::close() {
  // The child windows go with their parent; the font only after they are gone.
  if (window_) DestroyWindow(window_);
  window_ = label_ = bar_ = nullptr;
  if (font_) DeleteObject(font_);
  font_ = nullptr;
}

bool ProgressWindow::create(HINSTANCE instance, const std::string& title, size_t steps) {
  if (window_) return true;
  // comctl32 is not a Known DLL: it is not imported, or the loader would look
  // for it beside the program first, but loaded from the system folder by
  // full path, once, and kept for the life of the process (its window class
  // must outlive every progress window).
  static SystemLibrary commonControls("comctl32.dll");
  using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto initCommonControls = commonControls.function<InitCommonControlsExFn>("InitCommonControlsEx");
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  if (initCommonControls) initCommonControls(&controls);
  if (!registerClass(instance)) return false;

  const int width = 420, height = 112;
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  window_ = CreateWindowExA(WS_EX_DLGMODALFRAME, kClassName, title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU, x, y,
                            width, height, nullptr, nullptr, instance, nullptr);
  if (!window_) return false;
  RECT client;
  GetClientRect(window_, &client);
  int inner = client.right - 24;
  label_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 12, 14,
                           inner, 20, window_, nullptr, instance, nullptr);
  bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 12, 44, inner, 20, window_, nullptr, instance,
                         nullptr);
  if (!label_ || !bar_) {
    DestroyWindow(window_);
    window_ = label_ = bar_ = nullptr;
    return false;
  }
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    font_ = CreateFontIndirectA(&metrics.lfMessageFont);
  }
  HGDIOBJ font = font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(DEFAULT_GUI_FONT);
  SendMessageA(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  LPARAM top = static_cast<LPARAM>(steps > static_cast<size_t>(INT_MAX) ? INT_MAX : steps);
  SendMessageA(bar_, PBM_SETRANGE32, 0, top > 0 ? top : 1);
  SendMessageA(bar_, PBM_SETPOS, 0, 0);
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  pump();
  return true;
}

void ProgressWindow::show(size_t done, const std::string& caption) {
  if (!window_) return;
  SetWindowTextA(label_, caption.c_str());
  WPARAM position = static_cast<WPARAM>(done > static_cast<size_t>(INT_MAX) ? INT_MAX : done);
  SendMessageA(bar_, PBM_SETPOS, position, 0);
  pump();
}

void ProgressWindow::pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace uninst
