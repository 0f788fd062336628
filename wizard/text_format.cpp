#include "wizard/text_format.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

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

// The exact decimal expansion of a finite |value| >= 0 as "integer.fraction"
// (no point when there is no fraction). A double is m * 2^e exactly; for e < 0
// that is m * 5^-e / 10^-e, so the digits of one big integer (base 1e9,
// multiplied by small factors) give every digit without a C runtime printf.
std::string exactDecimal(double magnitude) {
  int exponent = 0;
  const double fraction = std::frexp(magnitude, &exponent);  // magnitude = fraction * 2^exponent
  unsigned long long mantissa = static_cast<unsigned long long>(std::ldexp(fraction, 53));
  exponent -= 53;
  std::vector<uint32_t> big;  // little-endian base-1e9 limbs
  const uint32_t kBase = 1000000000u;
  while (mantissa != 0) {
    big.push_back(static_cast<uint32_t>(mantissa % kBase));
    mantissa /= kBase;
  }
  auto multiply = [&big](uint32_t factor) {
    unsigned long long carry = 0;
    for (uint32_t& limb : big) {
      unsigned long long product = static_cast<unsigned long long>(limb) * factor + carry;
      limb = static_cast<uint32_t>(product % kBase);
      carry = product / kBase;
    }
    while (carry != 0) {
      big.push_back(static_cast<uint32_t>(carry % kBase));
      carry /= kBase;
    }
  };
  int scale = 0;  // decimal places of the result
  for (; exponent >= 29; exponent -= 29) multiply(1u << 29);
  if (exponent > 0) multiply(1u << exponent);
  for (; exponent <= -13; exponent += 13, scale += 13) multiply(1220703125u);  // 5^13
  for (; exponent < 0; ++exponent, ++scale) multiply(5u);
  std::string digits;
  for (size_t i = big.size(); i-- > 0;) {
    char limb[10];
    uint32_t v = big[i];
    for (int k = 8; k >= 0; --k, v /= 10) limb[k] = static_cast<char>('0' + v % 10);
    digits.append(limb, 9);
  }
  const size_t first = digits.find_first_not_of('0');
  digits = first == std::string::npos ? std::string() : digits.substr(first);
  if (digits.size() < static_cast<size_t>(scale) + 1) digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
  if (scale == 0) return digits;
  return digits.substr(0, digits.size() - static_cast<size_t>(scale)) + "." +
         digits.substr(digits.size() - static_cast<size_t>(scale));
}

// Rounds |value| to `digits` decimals, halves away from zero, and splits it the
// way the C runtime's fcvt does: the significant digit string (no sign, no
// point, no leading zeros) and dec, the count of digits before the point
// (zero or negative below 1). The exact binary value decides the half.
void decimalDigits(double value, int digits, std::string* out, int* dec) {
  std::string text = exactDecimal(std::fabs(value));
  size_t point = text.find('.');
  std::string integer = point == std::string::npos ? text : text.substr(0, point);
  std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
  if (fraction.size() < static_cast<size_t>(digits)) fraction.append(static_cast<size_t>(digits) - fraction.size(), '0');
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
