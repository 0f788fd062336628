// Fuzzes catalogue-name normalisation, selection by prefix, target paths and
// parent folders (see selection_checks.h for the input layout).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/selection_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string broken = tlfuzz::checkSelection(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "%s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
