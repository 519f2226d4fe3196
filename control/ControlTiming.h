// Every wait of the control's lifecycle, with its production value. Tests shorten them; nothing
// else changes them.
#pragma once

#include <cstdint>

namespace pxcontrol {

struct ControlTiming {
    uint32_t dwStopSettleMs = 200;        // Stop's pause before the client is terminated
    uint32_t dwUpdateEndMs = 2000;        // wait for the update thread before PXCancelTransfers
    uint32_t dwUpdateCancelledEndMs = 20000; // and after it
    uint32_t dwListEndMs = 20000;         // wait for the buffer-list thread
    uint32_t dwSendTimeoutMs = 5000;      // one attempt of a synchronous delivery
    uint32_t dwIdleMs = 100;              // the update thread's pause while not streaming
    uint32_t dwListIdleMs = 10000;        // the list thread's pass while its period is 0
};

// The timing that controls made from now on take. Process-wide, for tests (which build against
// the static library); the shared library never changes it.
void SetControlTimingForTests(const ControlTiming& timing);
ControlTiming CurrentControlTiming();

} // namespace pxcontrol
