// Why a call of the library failed, told to a person: the tools' diagnosis.
//
// The library keeps its results (3000 says only that communication with the agent failed). When a
// call fails, the tools look for themselves: they resolve the camera's name, connect to the port
// the call used, within the same bound as the library, and speak the first words of the protocol
// there (the greeting and, on the publish port, a buffer-list request) through the platform's
// sockets and the agent codec. What they meet tells a closed port from a camera that does not
// answer, a name nobody knows, a peer that is not a camera, a connection the camera dropped and a
// camera that went away. Each diagnosis names the host, the port, where the port number came from
// (the default, the configuration file, the camera's buffer list) and what to check.
//
// Everything here runs on the tool's main thread, after the library's call has returned.
#pragma once

#include <cstdint>
#include <string>

#include "tools/ToolSupport.h"

namespace pxtool {

// How far a probe goes once connected: connect only (the watchdog port), the greeting (a buffer's
// port), or the greeting and a buffer-list request (the publish port).
enum class ProbeDepth { Connect, Greeting, BufferList };

// A port, what it is to the camera, and where its number came from.
struct PortOrigin {
    uint16_t usPort = 0;
    std::string strRole;       // "publish port", "port of buffer IMG0"
    std::string strOrigin;     // "default", "PublishPort in VISTEL_CONFIG=/x.conf", "from the camera's buffer list"
    std::string strValueName;  // the configuration value that sets it ("PublishPort"); empty for a buffer's port
    ProbeDepth depth = ProbeDepth::Greeting;   // how far a probe of this port goes
    // "port 3072 (the publish port, default)"
    std::string Text() const;
};

PortOrigin PublishPortOrigin();
PortOrigin WatchDogPortOrigin();
// A port the camera's buffer list gave for buffer id.
PortOrigin BufferPortOrigin(uint16_t port, const std::string& id);

// The lines that explain a failed call, to append to the line that names the call and its result:
// each begins with a line break and two blanks ("\n  cause: ...\n  check: ..."); empty for results
// that are not about reaching the camera (only 3000, 3010 and 3020 are). result is the library's
// result of the call, port the one the call used, answeredBefore whether the camera had answered
// earlier in this run (a closed port then means the camera went away).
std::string DiagnosisLines(const CameraAddress& camera, uint32_t timeoutMs, uint32_t result, const PortOrigin& port,
                           bool answeredBefore);
// Writes to standard error, as "tool: warning: ...", one sentence for each thing the library
// passes over in the configuration in force, keeping its defaults: a VISTEL_CONFIG that names a
// file that cannot be read, values that are not numbers, port numbers above 65535.
void WarnAboutConfiguration(const char* tool);
} // namespace pxtool
