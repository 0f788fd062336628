#include "install/install_options.h"

RunScope runScope(const InstallOptions& options) {
  const int32_t type = options.setupType;
  const bool simulatorHere = type == SameComputer || type == SimulatorOnly;
  RunScope scope;
  scope.product = type == SameComputer || type == ProductOnly;
  scope.fs2002 = simulatorHere && options.useFs2002 && !options.fs2002Dir.empty();
  scope.fs2004 = simulatorHere && options.useFs2004 && !options.fs2004Dir.empty();
  scope.fsx = simulatorHere && options.useFsx && !options.fsxDir.empty();
  return scope;
}
