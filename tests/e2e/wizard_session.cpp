#include "tests/e2e/wizard_session.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/e2e/e2e_environment.h"
#include "tests/e2e/ui_automation.h"
#include "resources/resource_ids.h"

namespace e2e {
namespace {

constexpr char kFrameCaption[] = "TowerLink Installer";

struct Children {
  std::vector<HWND> pages;
};

BOOL CALLBACK collectPage(HWND window, LPARAM lParam) {
  auto* children = reinterpret_cast<Children*>(lParam);
  char className[32] = {};
  GetClassNameA(window, className, sizeof(className));
  if (std::string(className) == "#32770") children->pages.push_back(window);
  return TRUE;
}

bool has(HWND page, int id) { return GetDlgItem(page, id) != nullptr; }

// Each page template has a control no other page has (or a combination).
int identify(HWND page) {
  if (has(page, IDC_WELCOME_TEXT)) return Welcome;
  if (has(page, IDC_LICENSE_ACCEPT)) return License;
  if (has(page, IDC_FSDIR_FSX)) return FSDir;  // before Type and SimConnect: it shares ids with both
  if (has(page, IDC_TYPE_SAME)) return Type;
  if (has(page, IDC_TLDIR_GROUP)) return TLDir;
  if (has(page, IDC_PROGRESS_BAR)) return Progress;
  if (has(page, IDC_FINISHED_README)) return Finished;
  if (has(page, IDC_SIMCONNECT_LAUNCH)) return SimConnect;
  return -1;
}

}  // namespace

const char* pageName(int page) {
  static const char* const names[] = {"welcome", "licence", "type", "folder",
                                      "versions", "progress", "simconnect", "finished"};
  return page >= 0 && page < 8 ? names[page] : "none";
}

WizardSession::~WizardSession() = default;

bool WizardSession::start(const std::string& exePath, const std::string& workDir, DWORD timeoutMs) {
  tltest::StartOptions options;
  options.program = exePath;
  options.workingFolder = workDir;
  if (!child_.start("\"" + exePath + "\"", options)) {
    std::fprintf(stderr, "cannot start %s: error %lu\n", exePath.c_str(), child_.error());
    return false;
  }
  ui::waitFor(
      [&] {
        for (HWND window : ui::topLevelWindows(pid(), kFrameCaption, true)) {
          if (IsWindowVisible(window) && GetDlgItem(window, IDC_NEXT) != nullptr) {
            frame_ = window;
            return true;
          }
        }
        return !running();
      },
      timeoutMs);
  return frame_ != nullptr;
}

HWND WizardSession::page() const {
  if (frame_ == nullptr || !IsWindow(frame_)) return nullptr;
  Children children;
  EnumChildWindows(frame_, collectPage, reinterpret_cast<LPARAM>(&children));
  for (HWND window : children.pages) {
    if (GetParent(window) == frame_ && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

HWND WizardSession::pageWindow(int index) const {
  if (frame_ == nullptr || !IsWindow(frame_)) return nullptr;
  Children children;
  EnumChildWindows(frame_, collectPage, reinterpret_cast<LPARAM>(&children));
  for (HWND window : children.pages) {
    if (GetParent(window) == frame_ && identify(window) == index) return window;
  }
  return nullptr;
}

int WizardSession::currentPage() const {
  HWND window = page();
  return window != nullptr ? identify(window) : -1;
}

bool WizardSession::waitForPage(int index, DWORD timeoutMs) {
  const bool reached = ui::waitFor([&] { return currentPage() == index; }, timeoutMs);
  if (!reached) {
    std::fprintf(stderr, "waited for page %s, the wizard shows %s\n", pageName(index), pageName(currentPage()));
  }
  return reached;
}

bool WizardSession::frameButtonEnabled(int buttonId) const { return ui::isEnabled(frame_, buttonId); }
bool WizardSession::frameButtonVisible(int buttonId) const { return ui::isVisible(frame_, buttonId); }

bool WizardSession::press(int buttonId) {
  if (!frameButtonVisible(buttonId) || !frameButtonEnabled(buttonId)) return false;
  return ui::click(frame_, buttonId);
}

bool WizardSession::running() const {
  return child_.handle() != nullptr && WaitForSingleObject(child_.handle(), 0) == WAIT_TIMEOUT;
}

bool WizardSession::waitForExit(DWORD timeoutMs, DWORD* exitCode) {
  DWORD code = 0;
  if (!child_.wait(ui::scaled(timeoutMs), &code)) return false;
  if (exitCode != nullptr) *exitCode = code;
  return true;
}

void WizardSession::kill() { child_.terminate(); }

namespace {

// Where the pictures of `make run` go, with a backslash; empty when the
// driver runs as a test.
std::string screensFolder() {
  const char* folder = std::getenv("TL_E2E_SCREENS");
  return folder == nullptr || *folder == '\0' ? std::string() : windowsPath(folder) + "\\";
}

}  // namespace

void screenshot(const std::string& name) {
  const std::string folder = screensFolder();
  if (folder.empty()) return;
  const std::string request = folder + name + ".request";
  FILE* file = std::fopen(request.c_str(), "w");
  if (file == nullptr) return;
  std::fclose(file);
  // Give the picture a moment to settle after the page switch, then wait for
  // the script to take it.
  ui::waitFor([&] { return GetFileAttributesA(request.c_str()) == INVALID_FILE_ATTRIBUTES; }, 15000);
}

void screenshotNow(const std::string& name) {
  const std::string folder = screensFolder();
  if (folder.empty()) return;
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 0 || height <= 0) return;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as a .bmp file stores it
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return;
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  bool copied = false;
  if (memory != nullptr && bitmap != nullptr) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    copied = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, previous);
  }
  ReleaseDC(nullptr, screen);
  if (copied) {
    const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    header.biSizeImage = rowBytes * static_cast<DWORD>(height);
    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;  // "BM"
    fileHeader.bfOffBits = sizeof(fileHeader) + sizeof(header);
    fileHeader.bfSize = fileHeader.bfOffBits + header.biSizeImage;
    const std::string path = folder + name + ".bmp";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
      std::fwrite(&fileHeader, sizeof(fileHeader), 1, file);
      std::fwrite(&header, sizeof(header), 1, file);
      std::fwrite(bits, 1, header.biSizeImage, file);
      std::fclose(file);
    }
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (memory != nullptr) DeleteDC(memory);
}

}  // namespace e2e
