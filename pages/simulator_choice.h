// Which simulator versions an installation is for, and where the setup type
// page goes next: the decision taken when Next is pressed on the setup type
// page after the registry has been read, and the "exactly one version" rule of
// the simulator version page. Pure: no <windows.h>.
#pragma once

#include <cstdint>

struct SimulatorFlags {
  bool fs2002 = false;
  bool fs2004 = false;
  bool fsx = false;
};

struct SimulatorDecision {
  // True when the flags below replace the record's flags; false leaves the
  // record's flags as they were (no version found).
  bool setFlags = false;
  SimulatorFlags flags;
  // True: the page moves on with next. False: the page shows the
  // no-simulator message and stays current.
  bool goNext = true;
};

// found* tell which folders are non-empty after the registry was read;
// setupType is InstallOptions::setupType. One version found selects it alone;
// two or three clear every flag (the simulator version page asks); none
// leaves the flags and stays for SameComputer and SimulatorOnly, and goes on
// for ProductOnly (and for any value that is not one of the three types,
// since such a value installs no simulator files).
SimulatorDecision decideSimulators(bool found2002, bool found2004, bool foundX, int32_t setupType);

// True when exactly one of the three is set: the simulator version page then
// passes itself over.
bool exactlyOneSelected(bool fs2002, bool fs2004, bool fsx);
