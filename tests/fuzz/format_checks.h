// What formatDecimal promises for any double, 0..20 decimals and either trim
// setting; shared by the fuzz target and its regression cases.
//
// Input layout: 8 bytes of the double (little-endian bit pattern), one byte
// whose value modulo 21 is the number of decimals, one byte whose low bit is
// trimZeros. Shorter inputs are padded with zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tlfuzz {

// Empty when every promise held, else which one broke, with the arguments and
// the text that came back.
std::string checkFormatDecimal(double value, int digits, bool trimZeros);
std::string checkFormatDecimalInput(const uint8_t* data, size_t size);

}  // namespace tlfuzz
