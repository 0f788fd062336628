#include "tests/fuzz/format_checks.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wizard/text_format.h"

namespace tlfuzz {

namespace {

std::string describe(double value, int digits, bool trimZeros, const std::string& text) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "formatDecimal(%.17g [%a], %d, %s) = \"", value, value, digits,
                trimZeros ? "true" : "false");
  return buffer + text + "\": ";
}

// The non-trimmed text with trailing fractional zeros removed, one kept.
std::string trimmed(const std::string& full) {
  const size_t point = full.find('.');
  if (point == std::string::npos) return full;
  size_t end = full.size();
  while (end > point + 2 && full[end - 1] == '0') --end;
  return full.substr(0, end);
}

}  // namespace

std::string checkFormatDecimal(double value, int digits, bool trimZeros) {
  const std::string text = formatDecimal(value, digits, trimZeros);
  const std::string what = describe(value, digits, trimZeros, text);

  if (std::isnan(value)) {
    if (text != "nan" && text != "-nan") return what + "not nan";
    return std::string();
  }
  if (std::isinf(value)) {
    if (text != (value < 0 ? "-inf" : "inf")) return what + "not a signed inf";
    return std::string();
  }

  // Shape: [-]digits[.digits], integer part without leading zeros.
  size_t i = 0;
  const bool minus = !text.empty() && text[0] == '-';
  if (minus) ++i;
  const size_t integerStart = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  const size_t integerDigits = i - integerStart;
  size_t fractionDigits = 0;
  bool hasPoint = false;
  if (i < text.size() && text[i] == '.') {
    hasPoint = true;
    ++i;
    const size_t fractionStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    fractionDigits = i - fractionStart;
  }
  if (i != text.size() || integerDigits == 0 || (hasPoint && fractionDigits == 0)) return what + "not a decimal number";
  if (integerDigits > 1 && text[integerStart] == '0') return what + "leading zero";
  if (minus != (value < 0)) return what + "sign differs from the value's";

  // Decimals: exactly `digits` untrimmed; trimmed, none for 0 decimals, else
  // between one and `digits` with no trailing zero after the first.
  if (!trimZeros && fractionDigits != static_cast<size_t>(digits)) return what + "wrong number of decimals";
  if (trimZeros) {
    if (digits == 0 && fractionDigits != 0) return what + "decimals although none were asked for";
    if (digits > 0 && (fractionDigits < 1 || fractionDigits > static_cast<size_t>(digits))) {
      return what + "decimals outside 1..digits";
    }
    if (fractionDigits > 1 && text.back() == '0') return what + "a trailing zero survived trimming";
    const std::string full = formatDecimal(value, digits, false);
    if (text != trimmed(full)) return what + "differs from the untrimmed \"" + full + "\" with its zeros removed";
  }

  // Read back, the text is the value rounded to `digits` decimals: within half
  // a unit of the last decimal, plus what strtod's own rounding can add.
  const double back = std::strtod(text.c_str(), nullptr);
  const double halfUnit = 0.5 * std::pow(10.0, -digits);
  const double larger = std::fmax(std::fabs(back), std::fabs(value));
  const double ulp = std::nextafter(larger, INFINITY) - larger;
  const double error = std::fabs(back - value);
  if (!(error <= halfUnit * (1 + 1e-9) + ulp)) {
    char buffer[120];
    std::snprintf(buffer, sizeof buffer, "reads back as %.17g, %.3g away (allowed %.3g)", back, error,
                  halfUnit + ulp);
    return what + buffer;
  }
  return std::string();
}

std::string checkFormatDecimalInput(const uint8_t* data, size_t size) {
  uint8_t bytes[10] = {};
  std::memcpy(bytes, data, size < sizeof bytes ? size : sizeof bytes);
  uint64_t bits = 0;
  for (int b = 7; b >= 0; --b) bits = (bits << 8) | bytes[b];
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return checkFormatDecimal(value, bytes[8] % 21, (bytes[9] & 1) != 0);
}

}  // namespace tlfuzz
