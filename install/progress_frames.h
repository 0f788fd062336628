// How the progress page draws while the worker runs. A run changes the bar,
// the percentage and the status line thousands of times in a few seconds;
// under Wine the progress bar draws itself inside every PBM_SETPOS (about a
// millisecond) and a static text at the next idle moment, so drawn at that
// rate the page would cost as much time as the installation itself. During
// the run the three controls therefore take every change with their own
// drawing switched off (the status line's text waits here), and once per
// display frame the page has the changed ones draw themselves into a bitmap
// that is copied onto the page. The controls always hold the latest count;
// the screen follows within a frame.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

class ProgressFrames {
 public:
  ProgressFrames() = default;
  ProgressFrames(const ProgressFrames&) = delete;
  ProgressFrames& operator=(const ProgressFrames&) = delete;
  ~ProgressFrames() { freeCanvas(); }

  // 25 frames a second.
  static constexpr DWORD kFrameMs = 40;
  // How long the page rests once it has caught up with the worker, and how
  // old the message just handled may be for it to count as caught up.
  static constexpr DWORD kRestMs = 5;
  static constexpr LONG kCaughtUpMs = 2;

  // The page's three controls; any of them may be null.
  void setControls(HWND bar, HWND percent, HWND status);

  // Starts drawing by frames on the page: switches the controls' own drawing
  // off and starts the timer (id timerId) that draws a frame when no message
  // comes. False, with every control still drawing itself, when there is no
  // timer.
  bool start(HWND page, UINT_PTR timerId);
  bool running() const { return framing_; }
  // Gives the controls their own drawing back, with the status line's
  // latest text, and has them draw themselves.
  void stop(HWND page);

  // What changed since the last frame.
  void barChanged() { barDirty_ = true; }
  void labelChanged() { labelDirty_ = true; }
  // The status line's next text; while no frames are drawn it goes to the
  // control at once.
  void showStatus(const char* text);
  // The page painted its background over the controls.
  void pageErased();

  // Draws a frame when the last one is kFrameMs old or more.
  void drawIfDue(HWND page);
  // Draws what changed now.
  void draw(HWND page);
  // Rests for kRestMs once the page has caught up with the worker (see the
  // source).
  void restIfCaughtUp();

 private:
  // The bitmap the controls draw into, made with the first frame of a run
  // (as large as the largest control) and kept until the run stops: under
  // Wine making a device-compatible bitmap costs more than a control's drawing.
  bool makeCanvas(HDC pageDc);
  void freeCanvas();
  void printControl(HWND page, HDC pageDc, HWND control);

  HWND bar_ = nullptr;
  HWND percent_ = nullptr;
  HWND status_ = nullptr;
  UINT_PTR timer_ = 0;
  bool framing_ = false;
  // The status line's text while frames are drawn (null: none yet), in a
  // buffer of statusRoom_ bytes that grows as longer texts come.
  std::unique_ptr<char[]> statusText_;
  size_t statusRoom_ = 0;
  bool statusChanged_ = false;
  bool barDirty_ = false;
  bool labelDirty_ = false;
  bool statusDirty_ = false;
  DWORD lastFrame_ = 0;
  DWORD restEnded_ = 0;
  HDC canvas_ = nullptr;
  HBITMAP canvasBitmap_ = nullptr;
  HGDIOBJ canvasPrevious_ = nullptr;
};
