// The one record of the user's choices in a run of the installer, and what a
// run makes of them.
#pragma once

#include <cstdint>
#include <string>

enum SetupType : int32_t {
  SameComputer = 0,   // radio 1004: the product and the simulator on this computer
  ProductOnly = 1,    // radio 1005: this computer runs only the product
  SimulatorOnly = 2,  // radio 1006: this computer runs only the simulator
};

struct InstallOptions {
  int32_t setupType = SameComputer;  // SetupType; stored by the setup type page
  std::string productDir;  // always ends with a backslash once set
  std::string fs2002Dir;   // "EXE Path" of ...\Flight Simulator\8.0, as read
  std::string fs2004Dir;   // "EXE Path" of ...\Flight Simulator\9.0, as read
  std::string fsxDir;      // "SetupPath" of ...\Flight Simulator\10.0, as read
  bool useFs2002 = false;  // check box 1025
  bool useFs2004 = false;  // check box 1026
  bool useFsx = false;     // check box 1024
};

// What one run does on this computer. The progress page's start steps (Start
// menu shortcuts, Flight Simulator X's add-on file) and the worker's groups
// both follow this one decision, so they cannot disagree.
struct RunScope {
  bool product = false;  // the product runs here: product files, shortcuts, the product's own modules
  bool fs2002 = false;   // files for this simulator version
  bool fs2004 = false;
  bool fsx = false;      // X's files, and its add-on file registers the modules
};

// A simulator version takes part only when this computer runs the simulator,
// the version was chosen and its folder is known. The simulator version page
// never disables a box, so a version that was not found can be ticked: its
// folder is empty, and nothing may be written or registered for it.
RunScope runScope(const InstallOptions& options);
