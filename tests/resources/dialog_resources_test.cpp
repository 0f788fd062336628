// The nine dialog templates as the compiled module holds them: read back with
// FindResourceExA in English (Canada) and parsed field by field, so a style
// the resource compiler added, a moved control or a changed text shows up.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_template.h"
#include "resources/resource_ids.h"

namespace {

constexpr LANGID kUiLanguage = 0x1009;  // English (Canada)

constexpr DWORD F = 0x80C800C8, P = 0x40000048;
constexpr DWORD PB = 0x50010000, CB = 0x50010003, CBM = 0x50012003, RB = 0x50002009, GB = 0x50000007,
                TXL = 0x50020000, TXC = 0x50020001, BMP = 0x5000000E, HID = 0x40020000, ED = 0x50A10804,
                PR = 0x50800001;

struct Control {
  LONG id;
  const char* cls;
  DWORD style;
  short x, y, cx, cy;
  const char* text;  // nullptr when the text is a bitmap's resource number
  WORD bitmap;
};

struct Template {
  WORD id;
  DWORD style;
  short cx, cy;
  const char* caption;
  BYTE charset;
  std::vector<Control> controls;
};

const std::vector<Template>& expectedTemplates() {
  static const std::vector<Template> templates = {
      {IDD_FRAME, F, 300, 260, "TowerLink Installer", 1,
       {{1001, "BUTTON", PB, 187, 239, 50, 14, "<< &Back", 0},
        {2, "BUTTON", PB, 7, 239, 50, 14, "Cancel", 0},
        {3, "BUTTON", PB, 243, 239, 50, 14, "&Next >>", 0},
        {1014, "BUTTON", PB, 243, 239, 50, 14, "&Finish", 0},
        {1016, "STATIC", BMP, 234, 7, 59, 21, nullptr, 107},
        {1012, "STATIC", HID, 7, 38, 8, 8, "", 0}}},
      {IDD_WELCOME, P, 290, 192, "", 0,
       {{1015, "STATIC", TXC, 7, 94, 275, 91, "", 0},
        {-1, "STATIC", BMP, 60, 7, 167, 77, nullptr, 103}}},
      {IDD_LICENSE, P, 290, 192, "", 0,
       {{1002, "EDIT", ED, 7, 47, 275, 105, "", 0},
        {-1, "STATIC", TXL, 7, 7, 275, 24,
         "Please read the following License Agreement.  To install this software, you must accept the terms of the "
         "agreement.",
         0},
        {-1, "STATIC", TXL, 7, 35, 275, 8, "TowerLink Software License Agreement", 0},
        {1003, "BUTTON", CB, 7, 160, 275, 10, "I accept all the terms of the preceeding License Agreement.", 0},
        {-1, "STATIC", TXL, 7, 177, 166, 8, "Check this box and click Next to continue installtion.", 0}}},
      {IDD_TYPE, P, 290, 192, "", 0,
       {{-1, "STATIC", TXL, 7, 15, 275, 52,
         "You can run TowerLink on the same computer as Flight Simulator, or you can run it on a separate computer "
         "connected via a network.  In that case, this installer must be run on both computers.\n\nPlease select "
         "the appropriate option below.",
         0},
        {-1, "STATIC", TXL, 7, 100, 275, 10, "Run TowerLink and Flight Simulator on separate computers:", 0},
        {1004, "BUTTON", RB, 7, 71, 275, 17, "Run TowerLink and Flight Simulator on the same computer", 0},
        {1005, "BUTTON", RB, 7, 113, 275, 10, "This computer will run TowerLink only", 0},
        {1006, "BUTTON", RB, 7, 127, 275, 10, "This computer will run Flight Simulator only", 0}}},
      {IDD_TLDIR, P, 290, 192, "", 0,
       {{1007, "STATIC", TXL, 7, 7, 275, 17, "Please choose a directory in which to install TowerLink.", 0},
        {1023, "BUTTON", GB, 7, 35, 275, 38, "TowerLink Directory", 0},
        {1005, "STATIC", TXL, 17, 52, 192, 8, "C:\\Program Files\\TowerLink\\", 0},
        {1006, "BUTTON", PB, 221, 49, 50, 14, "&Change...", 0}}},
      {IDD_PROGRESS, P, 290, 192, "", 0,
       {{1008, "MSCTLS_PROGRESS32", PR, 7, 92, 251, 14, "", 0},
        {-1, "STATIC", TXC, 7, 48, 275, 17, "TowerLink is now installing....", 0},
        {1013, "STATIC", TXL, 261, 95, 21, 8, "100%", 0},
        {1011, "STATIC", TXC, 7, 111, 275, 32, "Static", 0}}},
      {IDD_FINISHED, P, 290, 192, "", 0,
       {{-1, "STATIC", TXL, 7, 7, 275, 34,
         "Congratulations!  The installation completed successfully.  If you are running TowerLink and Flight "
         "Simulator on separate computers, ensure that you run this installer on both computers.",
         0},
        {1010, "BUTTON", CB, 7, 82, 275, 10, "View the TowerLink README file", 0},
        {1011, "BUTTON", CBM, 7, 52, 275, 17,
         "Read the TowerLink User Guide to learn how to get started flying using TowerLink", 0}}},
      {IDD_FSDIR, P, 290, 192, "", 0,
       {{1007, "STATIC", TXL, 7, 27, 275, 17,
         "There are multiple versions of Flight Simulator installed on this computer.  Please choose which you "
         "want to use with TowerLink.",
         0},
        {1024, "BUTTON", CB, 20, 54, 262, 10, "Microsoft Flight Simulator X", 0},
        {1026, "BUTTON", CB, 20, 70, 262, 10, "Microsoft Flight Simulator 2004", 0},
        {1025, "BUTTON", CB, 20, 86, 262, 10, "Microsoft Flight Simulator 2002", 0}}},
      {IDD_SIMCONNECT, P, 290, 192, "", 0,
       {{-1, "STATIC", TXL, 22, 62, 245, 35,
         "In order for TowerLink to communicate with Flilght Simulator X over the network, you must setup "
         "SimConnect on this computer.  Click below to launch the SimConnect installer.  When it has successfully "
         "completed installation, click Next to proceed.",
         0},
        {1025, "BUTTON", PB, 82, 105, 124, 14, "Launch SimConnect Installer...", 0}}},
  };
  return templates;
}

// The raw bytes of one template in the user-interface language; empty when absent.
std::string templateBytes(WORD id) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceExA(self, MAKEINTRESOURCEA(5) /* RT_DIALOG */, MAKEINTRESOURCEA(id), kUiLanguage);
  if (!found) return std::string();
  HGLOBAL loaded = LoadResource(self, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return std::string();
  return std::string(static_cast<const char*>(data), SizeofResource(self, found));
}

std::string describe(const Control& c) {
  return "control " + std::to_string(c.id) + " (" + (c.text ? "\"" + std::string(c.text) + "\"" : "bitmap") + ")";
}

TEST(DialogResources, EveryTemplateMatchesItsTable) {
  for (const Template& expected : expectedTemplates()) {
    SCOPED_TRACE("template " + std::to_string(expected.id));
    const std::string bytes = templateBytes(expected.id);
    ASSERT_FALSE(bytes.empty()) << "no template in language 0x1009";
    tltest::DialogTemplate t;
    std::string error;
    ASSERT_TRUE(tltest::parseDialogTemplateEx(bytes.data(), bytes.size(), &t, &error)) << error;

    EXPECT_EQ(expected.style, t.style) << std::hex << "style 0x" << t.style;
    EXPECT_EQ(0u, t.exStyle);
    EXPECT_EQ(0u, t.helpId);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(expected.cx, t.cx);
    EXPECT_EQ(expected.cy, t.cy);
    EXPECT_EQ(expected.caption, t.title);
    EXPECT_FALSE(t.menu.isOrdinal || !t.menu.text.empty()) << "a menu";
    EXPECT_FALSE(t.windowClass.isOrdinal || !t.windowClass.text.empty()) << "a private dialog class";
    ASSERT_TRUE(t.hasFont);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ(400, t.weight);
    EXPECT_EQ(0, t.italic);
    EXPECT_EQ(expected.charset, t.charset);
    EXPECT_EQ("MS Shell Dlg", t.typeface);

    ASSERT_EQ(expected.controls.size(), t.items.size());
    for (size_t i = 0; i < t.items.size(); ++i) {
      const Control& c = expected.controls[i];
      const tltest::DialogItem& item = t.items[i];
      SCOPED_TRACE("position " + std::to_string(i) + ", " + describe(c));
      EXPECT_EQ(c.id, item.id);
      EXPECT_EQ(c.cls, tltest::className(item.windowClass));
      EXPECT_EQ(c.style, item.style) << std::hex << "style 0x" << item.style;
      EXPECT_EQ(0u, item.exStyle);
      EXPECT_EQ(c.x, item.x);
      EXPECT_EQ(c.y, item.y);
      EXPECT_EQ(c.cx, item.cx);
      EXPECT_EQ(c.cy, item.cy);
      if (c.text) {
        EXPECT_FALSE(item.title.isOrdinal);
        EXPECT_EQ(c.text, item.title.text);
      } else {
        EXPECT_TRUE(item.title.isOrdinal) << "bitmap named by text \"" << item.title.text << "\"";
        EXPECT_EQ(c.bitmap, item.title.ordinal);
      }
      EXPECT_EQ(0, item.extraBytes);
    }
  }
}

// Controls of the licence page must not overlap: the acceptance box was fitted
// into the band between the licence text and the closing instruction.
TEST(DialogResources, LicencePageControlsDoNotOverlap) {
  const std::string bytes = templateBytes(IDD_LICENSE);
  tltest::DialogTemplate t;
  std::string error;
  ASSERT_TRUE(tltest::parseDialogTemplateEx(bytes.data(), bytes.size(), &t, &error)) << error;
  for (size_t i = 0; i < t.items.size(); ++i) {
    const tltest::DialogItem& a = t.items[i];
    EXPECT_LE(a.x + a.cx, t.cx) << "item " << i << " sticks out on the right";
    EXPECT_LE(a.y + a.cy, t.cy) << "item " << i << " sticks out at the bottom";
    for (size_t j = i + 1; j < t.items.size(); ++j) {
      const tltest::DialogItem& b = t.items[j];
      const bool apart = a.x + a.cx <= b.x || b.x + b.cx <= a.x || a.y + a.cy <= b.y || b.y + b.cy <= a.y;
      EXPECT_TRUE(apart) << "items " << i << " and " << j << " overlap";
    }
  }
}

// The parser itself must refuse what is not a complete extended template,
// or the table test above could pass on garbage.
TEST(DialogResources, ParserRefusesTruncatedAndPlainTemplates) {
  const std::string bytes = templateBytes(IDD_FRAME);
  ASSERT_FALSE(bytes.empty());
  tltest::DialogTemplate t;
  std::string error;
  for (size_t cut : {size_t{0}, size_t{3}, size_t{25}, bytes.size() / 2, bytes.size() - 1}) {
    EXPECT_FALSE(tltest::parseDialogTemplateEx(bytes.data(), cut, &t, &error)) << "cut at " << cut;
  }
  std::string plain = bytes;
  plain[2] = 0;  // signature no longer 0xFFFF: an old-style DLGTEMPLATE
  plain[3] = 0;
  EXPECT_FALSE(tltest::parseDialogTemplateEx(plain.data(), plain.size(), &t, &error));
  EXPECT_EQ("not an extended template", error);
}

// A dialog procedure that leaves everything to the dialog manager (a named
// function: lambdas lack the stdcall convention on i686).
INT_PTR CALLBACK ignoreMessages(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Each page template also has to come alive: the dialog manager creates every
// control class (the progress bar needs the common controls) from the bytes.
TEST(DialogResources, EveryTemplateCreatesAWindowWithAllItsControls) {
  HMODULE self = GetModuleHandleA(nullptr);
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&icc));
  // Pages are child windows: they need the frame as parent, as in the wizard.
  HWND frame = CreateDialogParamA(self, MAKEINTRESOURCEA(IDD_FRAME), nullptr, ignoreMessages, 0);
  ASSERT_NE(nullptr, frame) << "error " << GetLastError();
  for (const Template& expected : expectedTemplates()) {
    SCOPED_TRACE("template " + std::to_string(expected.id));
    HWND window = expected.id == IDD_FRAME
                      ? frame
                      : CreateDialogParamA(self, MAKEINTRESOURCEA(expected.id), frame, ignoreMessages, 0);
    ASSERT_NE(nullptr, window) << "error " << GetLastError();
    int children = 0;
    // The frame comes first in the table, before any page is its child.
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) ++children;
    EXPECT_EQ(static_cast<int>(expected.controls.size()), children);
    EXPECT_FALSE(IsWindowVisible(window)) << "templates are created hidden";
    for (const Control& c : expected.controls) {
      if (c.id == -1) continue;
      HWND control = GetDlgItem(window, c.id);
      ASSERT_NE(nullptr, control) << describe(c);
      const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE));
      EXPECT_EQ(c.style & WS_VISIBLE, style & WS_VISIBLE) << describe(c);
    }
    if (window != frame) DestroyWindow(window);
  }
  DestroyWindow(frame);
}

}  // namespace
