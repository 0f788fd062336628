// What an installation may touch, taken as a flat list so that two moments
// can be compared: every file (with its size and a content hash) and folder
// under the given folders, and every key and value under the given HKLM keys.
// The round-trip tests take one before setup.exe runs and one after the
// uninstaller has finished; the difference is what the round trip left.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace roundtrip {

class MachineSnapshot {
 public:
  // Records folder (with or without a closing backslash) and everything below
  // it. A folder that does not exist records nothing, so its later creation
  // shows as added entries.
  void addFolder(const std::string& folder);
  // Records HKLM\key, its values (type and data) and every subkey, in the
  // registry view of this process. A missing key records nothing.
  void addKey(const std::string& key);

  // Entry name -> what it holds ("dir", "file <size> <hash>", "key",
  // "value <type> <hash>"). Names are lower case, so a difference in case
  // alone is no difference (as on Windows).
  const std::map<std::string, std::string>& entries() const { return entries_; }

 private:
  void walkFolder(const std::string& folder);
  void walkKey(HKEY parent, const std::string& path);
  std::map<std::string, std::string> entries_;
};

// The differences from before to after, one line each, sorted:
// "added <entry>", "removed <entry>" or "changed <entry>".
std::vector<std::string> difference(const MachineSnapshot& before, const MachineSnapshot& after);

// Lower-case copy (ASCII letters only, as the snapshot names are).
std::string lowerAscii(std::string text);

}  // namespace roundtrip
