// tlpack --verify: a built setup program checked against the tree it was made
// from, on the host. The catalogue (RT_RCDATA 65535) and the chunks (RT_RCDATA
// 1..N) are read from the program's file, every stream is inflated and
// compared, name, size and bytes, with the tree as the packer reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tlpack {

struct Verification {
  // Every difference and defect found, one line each: the installer's own
  // damage first, then file by file in name order, then the chunks.
  std::vector<std::string> problems;
  bool treeUnusable = false;      // the tree could not be read as the packer reads it
  bool installerDamaged = false;  // unreadable, no setup program, truncated, or its catalogue is damaged
  size_t files = 0;               // files in the installer's catalogue
  uint64_t bytes = 0;             // inflated bytes compared
};

// Compares the setup program at installer with tree. Never throws for bad
// input; each problem found is named in the result.
Verification verifyInstaller(const std::string& installer, const std::string& tree);

// The command's exit code for v: 0 identical, 1 the tree cannot be packed,
// 4 installer and tree differ, 5 the installer is unreadable or damaged.
int verifyExitCode(const Verification& v);

}  // namespace tlpack
