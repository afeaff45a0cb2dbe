// The simulated card brought up by the environment variable VANTREL_SIMCARD,
// for programs that know nothing of the simulator (see README.md).
#pragma once

#include "SimCard.h"

#include <string>

namespace vsim {

// What the variable asks for; the defaults are Simulator::Start's.
struct EnvironmentSetting {
  VideoMode mode = VideoMode::HD1080i25;
  int cards = 1;
  Pacing pacing = Pacing::RealTime;
  bool camera = true;
};

// Parses the variable's value: comma-separated items mode=<name>,
// cards=<1..8>, pacing=realtime|free, camera=on|off, where a bare mode name
// stands for mode=<name>. Returns what is wrong, or an empty string.
std::string ParseSimCardVariable(const std::string& value, EnvironmentSetting* setting);

// Starts the simulator as `value` asks, unless it is null or empty or a
// simulator runs already (the program set up its own). A value that does not
// parse starts nothing and says why on stderr. True when it started one; the
// simulator then stops when the process exits.
bool StartFromVariable(const char* value);

}  // namespace vsim
