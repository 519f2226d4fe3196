// The configuration store: "Name=Value" lines, '#' starts a comment, numbers decimal or 0x hex.
// The file is the one named by the environment variable VISTEL_CONFIG, else
// /etc/dravik/vistel.conf. A missing file or value gives the caller's default. The file is read
// on every call, as the values are read rarely and a host may change them while running.
#pragma once

#include <cstdint>
#include <string>

namespace px {

// Path of the configuration file in force.
std::string ConfigPath();
uint32_t ConfigGetNumber(const char* name, uint32_t defaultValue);
std::string ConfigGetString(const char* name, const std::string& defaultValue);

// Parses one configuration text; for the store itself and for tests.
bool ConfigLookup(const std::string& text, const char* name, std::string* value);
bool ConfigParseNumber(const std::string& text, uint32_t* value);

} // namespace px
