// Windows-style events on Linux, each backed by one eventfd so that a host can poll it.
//
// An auto-reset event wakes one waiter and returns to the non-signalled state as that waiter
// leaves its wait; a manual-reset event stays signalled until Reset(). Setting an event that is
// already signalled changes nothing (the eventfd counter is drained as a whole, never counted).
// All operations are safe from any thread; an event must outlive every wait on it.
//
// A local event (EventKind::Local) has no descriptor: it lives in the process's memory and costs
// no system call to set, take or find set, which suits the events that hand every transfer of a
// link between two threads. It cannot be waited for with WaitAny or polled by a host.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/Clock.h"

namespace px {

enum class WaitResult { Signaled, Timeout, Failed };

// Returned by WaitAny when the time-out expired / the wait itself failed.
constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;

enum class EventKind { Pollable, Local };

class Event {
public:
    Event(bool manualReset, bool initiallySet, EventKind kind = EventKind::Pollable);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False when the eventfd could not be created; such an event fails every wait.
    bool Valid() const { return m_local || m_fd >= 0; }
    // -1 for a local event.
    int Fd() const { return m_fd; }
    bool ManualReset() const { return m_manual; }

    void Set();
    void Reset();
    // Waits until the event is signalled or timeoutMs (kInfinite: no limit) has passed.
    WaitResult Wait(uint32_t timeoutMs = kInfinite);
    // Signalled right now? Consumes the signal of an auto-reset event, like a zero wait.
    bool TryConsume();

    // Waits until any of the events (at most 8) is signalled; returns the lowest signalled index,
    // kWaitTimeout or kWaitFailed. An auto-reset event that is reported is consumed.
    static int WaitAny(Event* const* events, size_t count, uint32_t timeoutMs = kInfinite);
    // The same, with a descriptor another module signals as an event (an eventfd, such as the
    // library's list-change descriptor) after the events: its index is count, and reporting it
    // drains it. A descriptor below 1 takes no part.
    static int WaitAnyOrDescriptor(Event* const* events, size_t count, int descriptor,
                                   uint32_t timeoutMs = kInfinite);

private:
    int m_fd;
    bool m_manual;
    bool m_local;
    bool m_bSet = false;                 // a local event's state, under m_order
    std::condition_variable m_changed;   // a local event's waiters
    // Orders memory between the setter and the thread that consumes the signal in a way that
    // race detectors can see (they do not follow synchronisation through a descriptor).
    std::mutex m_order;
};

} // namespace px
