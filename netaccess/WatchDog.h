// The watchdog link of an agent channel: on it the agent signals periodically that it is alive.
//
// The owner (the agent channel) creates it, runs the set-up (check, identity, delay, start) on its
// own thread, and then has its supervision thread wait for the signals; the two never exchange
// messages at once. Interrupt() (from the base) ends a wait for a signal from another thread.
#pragma once

#include <cstdint>

#include "netaccess/MsgLink.h"

class CWatchDog : public CMsgLink {
public:
    // How long check and identity wait for the agent's answer (5000 ms; tests shorten it).
    explicit CWatchDog(uint32_t replyTimeoutMs = 5000) : m_dwReplyTimeoutMs(replyTimeoutMs) {}

    bool Check();
    bool GetIdentity();
    bool SetDelay(uint32_t delayMs);
    bool Start();
    bool WaitForSignal(uint32_t timeoutMs);
    uint32_t Identity() const { return m_dwIdentity; }

private:
    bool Ask(uint32_t code, px::agent::AgentMessage* reply);

    uint32_t m_dwIdentity = 0;
    uint32_t m_dwReplyTimeoutMs;
};
