// What the progress page shows for a number of bytes written out of a run's
// total: the bar position in thousandths and the percentage label. Pure: no
// <windows.h>.
#pragma once

#include <cstdint>
#include <string>

struct ProgressDisplay {
  int barPosition = 0;  // 0..1000 for 0 <= written <= total
  std::string label;    // "38%"
};

// r = written / total as a 32-bit float; bar = r * 1000.0 truncated toward
// zero; label = r * 100.0 rounded to a whole number (halves up) and "%". A
// total of 0 (or below) shows 0 and "0%" instead of dividing by zero.
ProgressDisplay progressDisplay(int64_t written, int64_t total);
