// The decisions the pages take without a window: which simulator versions an
// installation is for, what the progress page shows for a byte count, and the
// SimConnect command.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/install_options.h"
#include "install/progress_display.h"
#include "pages/simconnect_command.h"
#include "pages/simulator_choice.h"

namespace {

struct ChoiceCase {
  bool found2002, found2004, foundX;
  int32_t setupType;
  bool setFlags;
  SimulatorFlags flags;
  bool goNext;
};

std::string describe(const ChoiceCase& c) {
  return "found 2002/2004/X = " + std::to_string(c.found2002) + std::to_string(c.found2004) +
         std::to_string(c.foundX) + ", setup type " + std::to_string(c.setupType);
}

TEST(SimulatorChoice, DecisionTable) {
  const SimulatorFlags none{false, false, false};
  const ChoiceCase cases[] = {
      // One version found: it alone is selected, for every setup type.
      {false, false, true, SameComputer, true, {false, false, true}, true},
      {false, true, false, SameComputer, true, {false, true, false}, true},
      {true, false, false, SimulatorOnly, true, {true, false, false}, true},
      {true, false, false, ProductOnly, true, {true, false, false}, true},
      // Two or three: every flag cleared, the version page will ask.
      {false, true, true, SameComputer, true, none, true},
      {true, true, false, SimulatorOnly, true, none, true},
      {true, true, true, SameComputer, true, none, true},
      {true, false, true, ProductOnly, true, none, true},
      // None: flags untouched; only a computer that runs the simulator stays.
      {false, false, false, SameComputer, false, none, false},
      {false, false, false, SimulatorOnly, false, none, false},
      {false, false, false, ProductOnly, false, none, true},
  };
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(describe(c));
    const SimulatorDecision d = decideSimulators(c.found2002, c.found2004, c.foundX, c.setupType);
    EXPECT_EQ(d.setFlags, c.setFlags);
    EXPECT_EQ(d.goNext, c.goNext);
    if (c.setFlags) {
      EXPECT_EQ(d.flags.fs2002, c.flags.fs2002);
      EXPECT_EQ(d.flags.fs2004, c.flags.fs2004);
      EXPECT_EQ(d.flags.fsx, c.flags.fsx);
    }
  }
}

TEST(SimulatorChoice, ExactlyOneSelected) {
  for (int bits = 0; bits < 8; ++bits) {
    SCOPED_TRACE(bits);
    const bool a = bits & 1, b = bits & 2, c = bits & 4;
    EXPECT_EQ(exactlyOneSelected(a, b, c), bits == 1 || bits == 2 || bits == 4);
  }
}

struct DisplayCase {
  int64_t written, total;
  int bar;
  const char* label;
};

TEST(ProgressDisplay, BarAndLabel) {
  const DisplayCase cases[] = {
      {0, 8, 0, "0%"},
      {3, 8, 375, "38%"},  // 37.5 rounds up
      {1, 2, 500, "50%"},
      {1, 3, 333, "33%"},
      {2, 3, 666, "67%"},  // the bar truncates, the label rounds
      {8, 8, 1000, "100%"},
      {0, 0, 0, "0%"},  // no total: nothing to divide by
      {5, 0, 0, "0%"},
      {3, -1, 0, "0%"},
      // Counts beyond 2 GiB, as the 32-bit channel carries them.
      {0x78000000LL, 0xF0000000LL, 500, "50%"},
      {0xFFFFFFFFLL, 0xFFFFFFFFLL, 1000, "100%"},
  };
  for (const DisplayCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.written) + " of " + std::to_string(c.total));
    const ProgressDisplay d = progressDisplay(c.written, c.total);
    EXPECT_EQ(d.barPosition, c.bar);
    EXPECT_EQ(d.label, c.label);
  }
}

TEST(SimConnectCommand, BuiltWhenItFitsAndRefusedOtherwise) {
  char buffer[260];
  ASSERT_TRUE(buildSimConnectCommandLine("C:\\Program Files\\TowerLink\\", buffer, sizeof(buffer)));
  EXPECT_STREQ(buffer, "msiexec /i \"C:\\Program Files\\TowerLink\\simconnect.msi\"");

  // "msiexec /i \"" + folder + "simconnect.msi\"" + zero = 27 + folder + 1.
  const std::string longest = "C:\\" + std::string(260 - 28 - 4, 'x') + "\\";
  ASSERT_EQ(longest.size(), 260u - 28u);
  EXPECT_TRUE(buildSimConnectCommandLine(longest, buffer, sizeof(buffer)));
  EXPECT_EQ(std::strlen(buffer), 259u);

  std::memset(buffer, 'z', sizeof(buffer));
  EXPECT_FALSE(buildSimConnectCommandLine(longest + "y", buffer, sizeof(buffer)));
  EXPECT_EQ(buffer[0], '\0') << "a refused command leaves an empty text, never a cut one";
  EXPECT_EQ(buffer[1], 'z') << "nothing written past the first byte";
  EXPECT_FALSE(buildSimConnectCommandLine("C:\\", nullptr, 0));
}

TEST(SimConnectCommand, MsiexecFromTheSystemFolder) {
  EXPECT_EQ(msiexecPath("C:\\windows\\system32", LeadBytes()), "C:\\windows\\system32\\msiexec.exe");
  EXPECT_EQ(msiexecPath("C:\\", LeadBytes()), "C:\\msiexec.exe");
  EXPECT_EQ(msiexecPath("", LeadBytes()), "")
      << "no system folder must not become a bare name the search path resolves";
}

}  // namespace
