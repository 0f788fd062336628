#include "wizard/text_format.h"

#include "platform/ansi_chars.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct DecimalCase {
  double value;
  int digits;
  bool trim;
  const char* expected;
};

TEST(FormatDecimal, MatchesTheDocumentedExamplesAndPercentages) {
  const DecimalCase cases[] = {
      {42.0, 0, false, "42"},     {0.05, 3, false, "0.050"}, {50.10, 2, true, "50.1"},
      {50.00, 2, true, "50.0"},   {100.0, 0, true, "100"},   {37.5, 0, true, "38"},
      {36.5, 0, true, "37"},      {0.0, 0, true, "0"},       {0.4, 0, true, "0"},
      {0.5, 0, true, "1"},        {99.6, 0, true, "100"},    {0.996, 2, false, "1.00"},
      {-2.25, 1, false, "-2.3"},  {1234.5678, 2, false, "1234.57"}, {0.001, 3, true, "0.001"},
      {10.0, 0, true, "10"},      {0.0004, 3, false, "0.000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatDecimal(c.value, c.digits, c.trim), c.expected)
        << "value " << c.value << " digits " << c.digits << " trim " << c.trim;
  }
}

TEST(FormatDecimal, EveryPercentageOfAProgressBarRoundsHalfUp) {
  for (int done = 0; done <= 1000; ++done) {
    float r = static_cast<float>(done) / 1000.0f;
    std::string text = formatDecimal(r * 100.0, 0, true);
    long expected = static_cast<long>(static_cast<double>(r) * 100.0 + 0.5);
    EXPECT_EQ(text, std::to_string(expected)) << "done " << done;
  }
}

TEST(IntToString, SignedThirtyTwoBitValues) {
  EXPECT_EQ(intToString(0), "0");
  EXPECT_EQ(intToString(8), "8");
  EXPECT_EQ(intToString(10), "10");
  EXPECT_EQ(intToString(-7), "-7");
  EXPECT_EQ(intToString(INT_MAX), "2147483647");
  EXPECT_EQ(intToString(INT_MIN), "-2147483648");
}

TEST(AddTrailingBackslash, AppendsExactlyOne) {
  std::string a = "C:\\Program Files";
  addTrailingBackslash(a, LeadBytes());
  EXPECT_EQ(a, "C:\\Program Files\\");
  addTrailingBackslash(a, LeadBytes());
  EXPECT_EQ(a, "C:\\Program Files\\");
  std::string root = "E:\\";
  addTrailingBackslash(root, LeadBytes());
  EXPECT_EQ(root, "E:\\");
}

}  // namespace
