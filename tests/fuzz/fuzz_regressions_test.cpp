// Every input that once broke a fuzz target's checks, run through the same
// checks on every test run.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/fuzz/format_checks.h"
#include "tests/fuzz/selection_checks.h"

namespace {

struct FuzzInput {
  const char* found;  // what it broke, when it was found
  std::string bytes;
};

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

const uint8_t* data(const std::string& bytes) { return reinterpret_cast<const uint8_t*>(bytes.data()); }

TEST(FormatDecimalFindings, InputsTheFuzzerBrokeHoldEveryPromise) {
  const FuzzInput inputs[] = {
      // 1.07e-255 with 10 decimals, trimmed: a value that rounds to zero kept
      // all ten zeros ("0.0000000000") instead of one.
      {"trimming of a value rounded to zero", std::string("\x00\x01\x00\x60\x30\x00\x00\x0b\x0a\x01", 10)},
  };
  for (const FuzzInput& input : inputs) {
    EXPECT_EQ(tlfuzz::checkFormatDecimalInput(data(input.bytes), input.bytes.size()), "")
        << input.found << ", input " << hex(input.bytes);
  }
}

}  // namespace
