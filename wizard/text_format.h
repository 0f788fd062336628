// Small text helpers shared by every subsystem. Pure: no <windows.h>.
#pragma once

#include <string>

// Decimal text of a signed 32-bit value, with a leading '-' when negative.
std::string intToString(int value);

// value rounded to digits decimals; with trimZeros, trailing fractional zeros
// are removed but one fractional digit stays (50.00, 2 -> "50.0"; 42.0, 0 -> "42").
std::string formatDecimal(double value, int digits, bool trimZeros);
