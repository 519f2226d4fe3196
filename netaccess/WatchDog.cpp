#include "netaccess/WatchDog.h"

using namespace px::agent;

bool CWatchDog::Ask(uint32_t code, AgentMessage* reply)
{
    if (Send(AgentMessage{0, code}, px::kInfinite).code != 0)
        return false;
    return Receive(reply, m_dwReplyTimeoutMs).code == 0;
}

bool CWatchDog::Check()
{
    AgentMessage reply;
    return Ask(WD_CHECK, &reply) && reply.dwValue == 1;
}

bool CWatchDog::GetIdentity()
{
    AgentMessage reply;
    if (!Ask(WD_GET_ID, &reply))
        return false;
    m_dwIdentity = reply.dwValue;
    return true;
}

bool CWatchDog::SetDelay(uint32_t delayMs) { return Send(AgentMessage{delayMs, WD_SET_DELAY}, px::kInfinite).code == 0; }

bool CWatchDog::Start() { return Send(AgentMessage{0, WD_START}, px::kInfinite).code == 0; }

bool CWatchDog::WaitForSignal(uint32_t timeoutMs)
{
    AgentMessage message;
    return Receive(&message, timeoutMs).code == 0 && message.dwCode == WD_SIGNAL;
}
