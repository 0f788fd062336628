#include "wizard/text_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

void addTrailingBackslash(std::string& path, const LeadBytes& leadBytes) {
  if (!path.empty() && !lastCharIsBackslash(path, leadBytes)) path.push_back('\\');
}

std::string intToString(int value) {
  // Through a 64-bit magnitude so INT_MIN has no overflow.
  long long v = value;
  bool negative = v < 0;
  unsigned long long magnitude = negative ? static_cast<unsigned long long>(-v) : static_cast<unsigned long long>(v);
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::string out;
  out.reserve(n + 1);
  if (negative) out.push_back('-');
  while (n > 0) out.push_back(digits[--n]);
  return out;
}

namespace {

// Rounds |value| to `digits` decimals, halves away from zero, and splits it the
// way the C runtime's fcvt does: the significant digit string (no sign, no
// point, no leading zeros) and dec, the count of digits before the point
// (zero or negative below 1).
void decimalDigits(double value, int digits, std::string* out, int* dec) {
  double magnitude = std::fabs(value);
  // glibc prints the exact binary value; 24 guard digits decide the half.
  char buffer[400];
  int guard = 24;
  int len = std::snprintf(buffer, sizeof buffer, "%.*f", digits + guard, magnitude);
  if (len <= 0 || len >= static_cast<int>(sizeof buffer)) {
    // Out of range for the buffer (|value| >= 1e300 or so): keep what fits.
    len = std::snprintf(buffer, sizeof buffer, "%.0f", magnitude);
    if (len <= 0 || len >= static_cast<int>(sizeof buffer)) len = static_cast<int>(sizeof buffer) - 1;
    buffer[len] = '\0';
    digits = 0;
    guard = 0;
  }
  std::string text(buffer, static_cast<size_t>(len));
  size_t point = text.find('.');
  std::string integer = point == std::string::npos ? text : text.substr(0, point);
  std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
  std::string all = integer + fraction.substr(0, static_cast<size_t>(digits));
  bool roundUp = fraction.size() > static_cast<size_t>(digits) && fraction[static_cast<size_t>(digits)] >= '5';
  if (roundUp) {
    int i = static_cast<int>(all.size()) - 1;
    while (i >= 0) {
      if (all[static_cast<size_t>(i)] == '9') {
        all[static_cast<size_t>(i)] = '0';
        --i;
      } else {
        ++all[static_cast<size_t>(i)];
        break;
      }
    }
    if (i < 0) {
      all.insert(all.begin(), '1');
      integer.insert(integer.begin(), '0');  // one more integer digit
    }
  }
  int integerDigits = static_cast<int>(integer.size());
  size_t firstNonZero = all.find_first_not_of('0');
  if (firstNonZero == std::string::npos) {
    // Rounded to zero: digits zeros after the point, as fcvt gives for 0, so
    // trimming leaves one of them like any other value's ("0.0", not "0.00").
    out->assign(static_cast<size_t>(digits), '0');
    *dec = 0;
    return;
  }
  *out = all.substr(firstNonZero);
  *dec = integerDigits - static_cast<int>(firstNonZero);
}

}  // namespace

std::string formatDecimal(double value, int digits, bool trimZeros) {
  if (digits < 0) digits = 0;
  if (digits > 300) digits = 300;
  std::string result;
  int dec = 0;
  bool negative = std::signbit(value) && value != 0.0;
  if (std::isnan(value) || std::isinf(value)) {
    result = std::isnan(value) ? "nan" : "inf";
    return negative ? "-" + result : result;
  }
  decimalDigits(value, digits, &result, &dec);
  if (trimZeros) {
    while (!result.empty() && static_cast<int>(result.size()) - 1 > dec && result.back() == '0') result.pop_back();
  }
  while (dec <= 0) {
    result.insert(result.begin(), '0');
    ++dec;
  }
  if (dec < static_cast<int>(result.size())) result.insert(static_cast<size_t>(dec), ".");
  if (negative) result.insert(result.begin(), '-');
  return result;
}
