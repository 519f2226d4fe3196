// What the library's own tests may change inside libpellix: the waits that production keeps at
// their defaults (the good-bye pause of a client, the watchdog's answer time, the message
// thread's poll). Not exported from the shared library.
#pragma once

#include "client/AgentChannel.h"
#include "client/Client.h"

struct LibraryTiming {
    ClientTiming client;
    AgentChannelTiming channel;
};

// Applies to clients and channels made after the call.
void PellixSetTimingForTests(const LibraryTiming& timing);
