// One completion block of an agent connection: written by a link's stop hook on the worker
// thread, waited for by the requesting thread (the event orders the two).
#pragma once

#include <cstdint>

#include "platform/Event.h"

struct CCompletionBlock {
    px::Event evStarted{false, false};
    px::Event evDone{false, false};
    uint32_t dwCode = 0;
    uint32_t dwDetail = 0;
    uint32_t dwCount = 0;

    // What a start hook and a stop hook record.
    void Started(uint32_t code, uint32_t detail)
    {
        dwCode = code;
        dwDetail = detail;
        evStarted.Set();
    }
    void Stopped(uint32_t count, uint32_t code, uint32_t detail)
    {
        dwCode = code;
        dwDetail = detail;
        dwCount = count;
        evDone.Set();
    }
};
