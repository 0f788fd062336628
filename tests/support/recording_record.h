// An uninstall record that only remembers the events it is given, so tests of
// the modules that add events can check them without touching the Uninstall key.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "system/uninstaller_setup.h"

namespace tltest {

struct RecordedEvent {
  std::string tag, params, desc;
  bool operator==(const RecordedEvent& o) const { return tag == o.tag && params == o.params && desc == o.desc; }
};

inline std::ostream& operator<<(std::ostream& os, const RecordedEvent& e) {
  return os << "{" << e.tag << ", " << e.params << ", " << e.desc << "}";
}

// One event a line, numbered, for a failure message.
inline std::string describe(const std::vector<RecordedEvent>& events) {
  std::ostringstream out;
  for (size_t i = 0; i < events.size(); ++i) {
    out << "  " << i << ": " << events[i].tag << " | " << events[i].params << " | " << events[i].desc << "\n";
  }
  return out.str();
}

class RecordingRecord : public Porter::UninstallerSetup {
 public:
  // refuseFrom: addEvent returns false for event number refuseFrom (0-based) and
  // every later one; -1 accepts all.
  explicit RecordingRecord(int refuseFrom = -1) : refuseFrom_(refuseFrom) {}

  bool addEvent(const char* tag, const char* params, const char* desc) override {
    events.push_back({tag ? tag : "<null>", params ? params : "<null>", desc ? desc : "<null>"});
    const RecordedEvent& e = events.back();
    if (!refuseTag.empty() && e.tag == refuseTag && e.params == refuseParams) return false;
    return refuseFrom_ < 0 || static_cast<int>(events.size()) <= refuseFrom_;
  }
  bool commit() override {
    ADD_FAILURE() << "only the progress page commits the record";
    return false;
  }

  std::vector<RecordedEvent> events;
  std::string refuseTag, refuseParams;  // addEvent also refuses this one event

 private:
  int refuseFrom_;
};

}  // namespace tltest
