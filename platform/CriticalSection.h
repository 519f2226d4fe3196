// A recursive lock, like the critical section the camera code was designed around: the owner may
// take it again (hook registration and transfers nest on one link), and it is released as often
// as it was taken.
#pragma once

#include <mutex>

// Lock annotations that clang checks with -Wthread-safety (the clang build of the tree); other
// compilers see nothing. The lock is recursive, but annotated code takes each lock once and hands
// it on through PX_REQUIRES, so that the analysis can follow it.
#if defined(__clang__)
#define PX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PX_THREAD_ANNOTATION(x)
#endif
#define PX_CAPABILITY(x) PX_THREAD_ANNOTATION(capability(x))
#define PX_SCOPED_CAPABILITY PX_THREAD_ANNOTATION(scoped_lockable)
#define PX_ACQUIRE(...) PX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define PX_RELEASE(...) PX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define PX_GUARDED_BY(x) PX_THREAD_ANNOTATION(guarded_by(x))
#define PX_PT_GUARDED_BY(x) PX_THREAD_ANNOTATION(pt_guarded_by(x))
#define PX_REQUIRES(...) PX_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define PX_EXCLUDES(...) PX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define PX_ACQUIRED_BEFORE(...) PX_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define PX_ACQUIRED_AFTER(...) PX_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
// For the few places whose ordering the analysis cannot see (an event hands the data over).
#define PX_NO_THREAD_SAFETY_ANALYSIS PX_THREAD_ANNOTATION(no_thread_safety_analysis)

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
