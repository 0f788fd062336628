// The small window that follows an uninstall: a caption line with the step
// being undone and a progress bar. Built in code (no dialog resource), so the
// uninstaller needs nothing from the installer's resources.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace uninst {

class ProgressWindow {
 public:
  ProgressWindow() = default;
  ~ProgressWindow();  // destroys the window
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // Creates and shows the window with title and a bar of steps steps. Returns
  // false (and shows nothing) when a window cannot be created; the caller then
  // carries on without one.
  bool create(HINSTANCE instance, const std::string& title, size_t steps);
  // Shows caption (literally: "&" is not a mnemonic) and moves the bar to done
  // of the steps, then handles pending window messages. No effect without a
  // window.
  void show(size_t done, const std::string& caption);
  // Handles pending messages so the window repaints during long steps.
  void pump();
  // Destroys the window (if any); create() may be called again afterwards.
  void close();

  HWND window() const { return window_; }
  HWND label() const { return label_; }
  HWND bar() const { return bar_; }

 private:
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  HWND bar_ = nullptr;
  HFONT font_ = nullptr;  // owned
};

}  // namespace uninst
