// The waits of the update facility. Production keeps the defaults, scaled by the configuration
// value "UpdateTimeScale" (percent, default 100) so that a simulated camera runs a whole update in
// seconds; the library's own tests may set a finer scale and shorter HTTP time-outs.
#pragma once

#include <cstdint>

#include "update/HttpTransport.h"

// The update procedure's waits and limits, in milliseconds.
struct UpdateWaits {
    uint32_t dwPollMs = 1000;               // between polls and connection attempts
    uint32_t dwSafeModeRebootMs = 10000;    // after asking for the safe-mode reboot
    uint32_t dwReconnectLimitMs = 120000;   // for the camera to return from it
    uint32_t dwShareRetryMs = 5000;         // before listing a share that went away once more
    uint32_t dwMessageServerMs = 10000;     // of attempts to reach the message server
    uint32_t dwToolSilenceS = 180;          // of silence from the update tool, whole seconds
    uint32_t dwRebootSettleMs = 15000;      // before looking for the camera after the update
    uint32_t dwRebootLimitMs = 900000;      // for the camera to return from it
};

// The waits at a scale (1.0: as they are). A receive time-out never falls below one second,
// since 0 would mean "no limit".
UpdateWaits ScaledWaits(double scale);

struct UpdateTiming {
    HttpTimeouts http;     // each request of the web-service client
    double dTimeScale = 0; // the waits' scale; 0: the configuration's "UpdateTimeScale"
};

UpdateTiming CurrentUpdateTiming();
// The waits in force: the tests' scale when one is set, else the configuration's.
UpdateWaits CurrentUpdateWaits();
// Applies to clients made after the call; UpdateTiming{} restores the defaults.
void SetUpdateTimingForTests(const UpdateTiming& timing);
