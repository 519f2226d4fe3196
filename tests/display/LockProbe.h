// Whether a back-end's lock is free, asked from another thread (the lock is recursive, so the
// thread that holds it would always get it).
#pragma once

#include "platform/Thread.h"

namespace displaytest {

template <typename BackEnd>
class CLockProbe : public BackEnd {
public:
    using BackEnd::BackEnd;

    bool LockFreeElsewhere()
    {
        bool free = false;
        px::Thread other;
        if (other.Start("px-lock-probe", [&] { free = TryLock(); }) != 0)
            return false;
        other.Join();
        return free;
    }

private:
    bool TryLock() PX_NO_THREAD_SAFETY_ANALYSIS
    {
        if (!this->m_cs.TryEnter())
            return false;
        this->m_cs.Leave();
        return true;
    }
};

} // namespace displaytest
