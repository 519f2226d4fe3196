// The kelvo-sim command line and its run-time commands, parsed into a SimConfig. Kept apart from
// main() so that the parsing can be tested.
#pragma once

#include <string>
#include <vector>

#include "sim/SimConfig.h"

namespace pxsim {

struct SimOptions {
    SimConfig config;
    uint32_t dwVerbosity = 1;
    bool bHelp = false;
    bool bInteractive = false;   // read add/remove/frame/quit commands from standard input
};

// "ID:TYPE[:key=value...]", e.g. "CAM1:image:size=1920x1080:format=rgb32". false with a reason.
bool ParseBufferOption(const std::string& text, SimBufferConfig* out, std::string* error);
// "4.0.300" or "0" or "0x0400012C".
bool ParseVersion(const std::string& text, uint32_t* version);
// argv without the program name. false with a reason.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions* out, std::string* error);
const char* SimUsage();

} // namespace pxsim
