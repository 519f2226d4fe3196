#include "platform/Event.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>


namespace px {

Event::Event(bool manualReset, bool initiallySet, EventKind kind)
    : m_fd(kind == EventKind::Local ? -1 : eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_manual(manualReset), m_local(kind == EventKind::Local), m_bSet(initiallySet)
{
}

Event::~Event()
{
    if (m_fd >= 0)
        close(m_fd);
}

void Event::Set()
{
    if (m_local) {
        std::lock_guard<std::mutex> order(m_order);
        m_bSet = true;
        if (m_manual)
            m_changed.notify_all();
        else
            m_changed.notify_one();
        return;
    }
    if (m_fd < 0)
        return;
    uint64_t one = 1;
    std::lock_guard<std::mutex> order(m_order);
    // EAGAIN can only mean the counter is near its limit: it is signalled either way.
    while (write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Event::Reset()
{
    if (m_local) {
        std::lock_guard<std::mutex> order(m_order);
        m_bSet = false;
        return;
    }
    if (m_fd < 0)
        return;
    uint64_t value;
    while (read(m_fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool Event::TryConsume()
{
    if (m_local) {
        std::lock_guard<std::mutex> order(m_order);
        const bool was = m_bSet;
        if (!m_manual)
            m_bSet = false;
        return was;
    }
    if (m_fd < 0)
        return false;
    std::lock_guard<std::mutex> order(m_order);
    if (m_manual) {
        pollfd p{m_fd, POLLIN, 0};
        return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    }
    uint64_t value;
    for (;;) {
        if (read(m_fd, &value, sizeof value) == sizeof value)
            return true;
        if (errno != EINTR)
            return false;
    }
}

WaitResult Event::Wait(uint32_t timeoutMs)
{
    if (m_local) {
        std::unique_lock<std::mutex> order(m_order);
        auto set = [this] { return m_bSet; };
        if (timeoutMs == kInfinite)
            m_changed.wait(order, set);
        else if (!m_changed.wait_for(order, std::chrono::milliseconds(timeoutMs), set))
            return WaitResult::Timeout;
        if (!m_manual)
            m_bSet = false;
        return WaitResult::Signaled;
    }
    Event* self = this;
    int r = WaitAny(&self, 1, timeoutMs);
    if (r == 0)
        return WaitResult::Signaled;
    return r == kWaitTimeout ? WaitResult::Timeout : WaitResult::Failed;
}

int Event::WaitAny(Event* const* events, size_t count, uint32_t timeoutMs)
{
    return WaitAnyOrDescriptor(events, count, -1, timeoutMs);
}

namespace {

// Drains an eventfd-like descriptor; true when it was signalled.
bool DrainDescriptor(int fd)
{
    uint64_t value;
    for (;;) {
        if (read(fd, &value, sizeof value) == sizeof value)
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

int Event::WaitAnyOrDescriptor(Event* const* events, size_t count, int descriptor, uint32_t timeoutMs)
{
    // Waits are frequent and concern a few events: no allocation for them.
    constexpr size_t kMaxEvents = 8;
    if (count == 0 || count > kMaxEvents)
        return kWaitFailed;
    pollfd fds[kMaxEvents + 1];
    for (size_t i = 0; i < count; ++i) {
        if (events[i] == nullptr || events[i]->m_fd < 0)
            return kWaitFailed;   // local events cannot be polled together
        fds[i] = pollfd{events[i]->m_fd, POLLIN, 0};
    }
    const size_t polled = descriptor > 0 ? count + 1 : count;
    if (descriptor > 0)
        fds[count] = pollfd{descriptor, POLLIN, 0};
    const uint64_t deadline = TickCount64() + timeoutMs;
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != kInfinite) {
            uint64_t now = TickCount64();
            waitMs = now >= deadline ? 0 : static_cast<int>(deadline - now);
        }
        int n = poll(fds, polled, waitMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return kWaitFailed;
        }
        if (n == 0)
            return kWaitTimeout;
        for (size_t i = 0; i < count; ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            // Another waiter may have taken an auto-reset signal between poll and read.
            if (events[i]->TryConsume())
                return static_cast<int>(i);
        }
        if (polled > count && (fds[count].revents & POLLIN) && DrainDescriptor(descriptor))
            return static_cast<int>(count);
        if (polled > count && (fds[count].revents & POLLNVAL))
            return kWaitFailed;
        if (timeoutMs != kInfinite && TickCount64() >= deadline)
            return kWaitTimeout;
    }
}

} // namespace px
