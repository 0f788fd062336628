#include "install/progress_display.h"

#include "wizard/text_format.h"

ProgressDisplay progressDisplay(int64_t written, int64_t total) {
  // The quotient is taken in double and stored as float, so that the bar and
  // the label are computed from the same 32-bit value.
  const float r = total > 0 ? static_cast<float>(static_cast<double>(written) / static_cast<double>(total)) : 0.0f;
  ProgressDisplay display;
  display.barPosition = static_cast<int>(r * 1000.0);
  display.label = formatDecimal(r * 100.0, 0, true) + "%";
  return display;
}
