// Small text helpers shared by every subsystem. Pure: no <windows.h>.
#pragma once

#include <string>

#include "wizard/ansi_chars.h"

// Appends one backslash unless the text's last character already is one
// (characters as leadBytes tells them; the Windows build's one-argument form
// with the system's code page is in wizard/ansi_code_page.h). The text must
// not be empty (an empty text is left empty).
void addTrailingBackslash(std::string& path, const LeadBytes& leadBytes);

// Decimal text of a signed 32-bit value, with a leading '-' when negative.
std::string intToString(int value);

// value rounded to digits decimals; with trimZeros, trailing fractional zeros
// are removed but one fractional digit stays (50.00, 2 -> "50.0"; 42.0, 0 -> "42").
std::string formatDecimal(double value, int digits, bool trimZeros);
