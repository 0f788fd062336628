// Fuzzes formatDecimal over every double, 0..20 decimals and both trim
// settings (see format_checks.h for the input layout).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/format_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string broken = tlfuzz::checkFormatDecimalInput(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "%s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
