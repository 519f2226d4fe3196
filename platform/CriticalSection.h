// A recursive lock, like the critical section the camera code was designed around: the owner may
// take it again (hook registration and transfers nest on one link), and it is released as often
// as it was taken.
#pragma once

#include <mutex>

#if defined(__clang__)
#define PX_CAPABILITY(x) __attribute__((capability(x)))
#define PX_SCOPED_CAPABILITY __attribute__((scoped_lockable))
#define PX_ACQUIRE(...) __attribute__((acquire_capability(__VA_ARGS__)))
#define PX_RELEASE(...) __attribute__((release_capability(__VA_ARGS__)))
#define PX_GUARDED_BY(x) __attribute__((guarded_by(x)))
#else
#define PX_CAPABILITY(x)
#define PX_SCOPED_CAPABILITY
#define PX_ACQUIRE(...)
#define PX_RELEASE(...)
#define PX_GUARDED_BY(x)
#endif

namespace px {

class PX_CAPABILITY("mutex") CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() PX_ACQUIRE() { m_mutex.lock(); }
    void Leave() PX_RELEASE() { m_mutex.unlock(); }
    bool TryEnter() { return m_mutex.try_lock(); }

private:
    std::recursive_mutex m_mutex;
};

class PX_SCOPED_CAPABILITY CsLock {
public:
    explicit CsLock(CriticalSection& cs) PX_ACQUIRE(cs) : m_cs(cs) { m_cs.Enter(); }
    ~CsLock() PX_RELEASE() { m_cs.Leave(); }
    CsLock(const CsLock&) = delete;
    CsLock& operator=(const CsLock&) = delete;

private:
    CriticalSection& m_cs;
};

} // namespace px
