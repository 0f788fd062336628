// Characters, not bytes, of 8-bit text in the ANSI code page. Pure: no
// <windows.h>; the Windows side takes the lead bytes of the running system's
// code page from GetCPInfo (platform/ansi_code_page.h).
//
// In a double-byte code page (932 Japanese, 936 and 950 Chinese, 949 Korean) a
// lead byte starts a character of two bytes, and the second byte may be 0x5C,
// the backslash: in code page 932 "表" is 0x95 0x5C, "ソ" 0x83 0x5C and "能"
// 0x94 0x5C. A folder whose name ends in such a character does not end in a
// backslash. So separators are found by walking the characters from the
// start of the text (a trail byte can only be told from a character of its own
// by what comes before it), never by looking at bytes from the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Which bytes start a two-byte character.
class LeadBytes {
 public:
  // A single-byte code page: every byte is a character of its own.
  LeadBytes() = default;

  // From ranges laid out as CPINFO::LeadByte: pairs of the first and last
  // byte of a range, ended by a pair of zeros or by the end of size bytes.
  // Code page 932 is {0x81, 0x9F, 0xE0, 0xFC, 0, 0}.
  static LeadBytes fromRanges(const uint8_t* ranges, size_t size);

  bool isLead(unsigned char byte) const { return ((bits_[byte >> 5] >> (byte & 31u)) & 1u) != 0; }

 private:
  uint32_t bits_[8] = {};
};

// Position of the last backslash of path that is a character of its own, or
// std::string::npos. A lead byte and the byte after it are one character (a
// lead byte that is the text's last byte is one of its own), as CharNextExA
// walks them.
size_t findLastBackslash(const std::string& path, const LeadBytes& leadBytes);

// True when the last character of path is a backslash; false for "".
bool lastCharIsBackslash(const std::string& path, const LeadBytes& leadBytes);

// Appends one backslash unless the text's last character already is one
// (characters as leadBytes tells them; the Windows build's one-argument form
// with the system's code page is in platform/ansi_code_page.h). The text must
// not be empty (an empty text is left empty).
void addTrailingBackslash(std::string& path, const LeadBytes& leadBytes);
