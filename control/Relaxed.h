// A value that one thread writes and others read without a lock, where no other memory hangs on
// it: flags, counters, the last result. The Windows control read and wrote these as plain words;
// here each is an atomic with relaxed order, so the race is a defined one and the sanitizers know.
#pragma once

#include <atomic>

namespace pxcontrol {

template <class T>
class CRelaxed {
public:
    constexpr CRelaxed(T value = T()) : m_value(value) {}
    CRelaxed(const CRelaxed&) = delete;
    CRelaxed& operator=(const CRelaxed&) = delete;

    operator T() const { return m_value.load(std::memory_order_relaxed); }
    CRelaxed& operator=(T value)
    {
        m_value.store(value, std::memory_order_relaxed);
        return *this;
    }
    // For the frame counter, which the update thread counts up and the window thread resets.
    T operator++() { return m_value.fetch_add(1, std::memory_order_relaxed) + 1; }

private:
    std::atomic<T> m_value;
};

} // namespace pxcontrol
