// Separators in paths of the double-byte ANSI code pages, where the second
// byte of a character can be 0x5C: every helper that looks for a backslash
// at the end of a folder or for the last one in a path, on one table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "pages/simconnect_command.h"
#include "payload/catalogue.h"
#include "platform/ansi_chars.h"
#include "wizard/text_format.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/ansi_code_page.h"
#endif

namespace {

// Lead-byte ranges as GetCPInfo gives them.
const uint8_t kCp932[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};
const uint8_t kCp936[] = {0x81, 0xFE, 0, 0};  // 949 and 950 have the same range
const uint8_t kSingleByte[] = {0, 0};

struct PathCase {
  const uint8_t* ranges;
  size_t rangesSize;
  const char* path;
  bool endsWithBackslash;
  const char* parent;  // text before the last backslash character
};

#define CP(table) table, sizeof(table)
const PathCase kCases[] = {
    // 932: 表 95 5C, ソ 83 5C, 能 94 5C, 濬 E0 5C end in the backslash byte.
    {CP(kCp932), "C:\\tl\x95\x5c", false, "C:"},
    {CP(kCp932), "C:\\tl\x95\x5c\\", true, "C:\\tl\x95\x5c"},
    {CP(kCp932), "C:\\\x83\x5c\\\x94\x5c", false, "C:\\\x83\x5c"},
    {CP(kCp932), "C:\\\xe0\x5c\\sound", false, "C:\\\xe0\x5c"},
    {CP(kCp932), "C:\\\x95\x95\x5c", true, "C:\\\x95\x95"},  // 0x95 0x95 is one character: the 5C stands alone
    {CP(kCp932), "C:\\\xb1\\", true, "C:\\\xb1"},             // half-width katakana: one byte
    {CP(kCp932), "C:\\Program Files", false, "C:"},
    {CP(kCp932), "E:\\", true, "E:"},
    {CP(kCp932), "", false, ""},
    // 936 乗 81 5C and 齖 FD 5C, 950 許 B3 5C and 功 A5 5C, 949 표 C7 A5 (949 has no
    // 5C trail byte); the three share the lead range 81-FE.
    {CP(kCp936), "D:\\\x81\x5c", false, "D:"},
    {CP(kCp936), "D:\\\xb3\x5c", false, "D:"},
    {CP(kCp936), "D:\\\xa5\x5c\\", true, "D:\\\xa5\x5c"},
    {CP(kCp936), "D:\\\xc7\xa5", false, "D:"},
    {CP(kCp936), "D:\\\xfd\x5c\\\xc7\xa5\\", true, "D:\\\xfd\x5c\\\xc7\xa5"},
    // A single-byte code page reads the same bytes as two characters.
    {CP(kSingleByte), "C:\\tl\x95\x5c", true, "C:\\tl\x95"},
};
#undef CP

TEST(AnsiChars, BackslashesAreFoundByCharacter) {
  for (const PathCase& c : kCases) {
    const LeadBytes lead = LeadBytes::fromRanges(c.ranges, c.rangesSize);
    const std::string path = c.path;
    SCOPED_TRACE(testing::PrintToString(path));
    EXPECT_EQ(lastCharIsBackslash(path, lead), c.endsWithBackslash);
    EXPECT_EQ(parentPath(path, lead), c.parent);

    // Every helper that completes a folder adds one backslash exactly when
    // the folder's last character is not one.
    const std::string folder = path.empty() || c.endsWithBackslash ? path : path + "\\";
    std::string appended = path;
    addTrailingBackslash(appended, lead);
    EXPECT_EQ(appended, folder);
    if (path.empty()) continue;
    EXPECT_EQ(buildTargetPath(path, "\\tl\\tl", "\\tl\\tl\\sound\\a.wav", lead), folder + "sound\\a.wav");
    EXPECT_EQ(parentPath(folder + "a.wav", lead), folder.substr(0, folder.size() - 1));
    EXPECT_EQ(msiexecPath(path, lead), folder + "msiexec.exe");
  }
  // A lead byte cut off at the end is a character of its own, and the walk
  // stops at the text's end. (No system call hands out such a text.)
  const LeadBytes cp932 = LeadBytes::fromRanges(kCp932, sizeof(kCp932));
  EXPECT_FALSE(lastCharIsBackslash("C:\\a\\\x95", cp932));
  EXPECT_EQ(parentPath("C:\\a\\\x95", cp932), "C:\\a");
}

#ifdef _WIN32
// The table read from the system agrees with the system's own test for every
// byte (run once as is and once under code page 932, see CMakeLists.txt).
TEST(AnsiChars, LeadBytesOfTheAnsiCodePageAreTheSystems) {
  const LeadBytes& lead = ansiLeadBytes();
  for (unsigned byte = 0; byte < 256; ++byte) {
    EXPECT_EQ(lead.isLead(static_cast<unsigned char>(byte)), IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE)
        << "byte " << byte << ", code page " << GetACP();
  }
  const char* expected = std::getenv("TL_EXPECT_ACP");
  if (expected != nullptr) EXPECT_EQ(GetACP(), std::strtoul(expected, nullptr, 10));
}
#endif

}  // namespace
