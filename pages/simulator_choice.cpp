#include "pages/simulator_choice.h"

#include "install/install_options.h"

SimulatorDecision decideSimulators(bool found2002, bool found2004, bool foundX, int32_t setupType) {
  SimulatorDecision decision;
  const int found = (found2002 ? 1 : 0) + (found2004 ? 1 : 0) + (foundX ? 1 : 0);
  if (found == 0) {
    // Only a computer that is to run the simulator needs one.
    decision.goNext = !(setupType == SameComputer || setupType == SimulatorOnly);
    return decision;
  }
  decision.setFlags = true;
  if (found == 1) {
    decision.flags.fs2002 = found2002;
    decision.flags.fs2004 = found2004;
    decision.flags.fsx = foundX;
  }
  // found >= 2: all three stay false until the simulator version page sets them.
  return decision;
}

bool exactlyOneSelected(bool fs2002, bool fs2004, bool fsx) {
  return (fs2002 ? 1 : 0) + (fs2004 ? 1 : 0) + (fsx ? 1 : 0) == 1;
}
