// A named thread with an explicit life: Start() launches it, Join() waits for its end. The
// destructor joins a thread that is still joinable, so an owner that forgets cannot leave one
// running on freed memory; owners are expected to stop and join their threads themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

namespace px {

class Thread {
public:
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts body on a new thread named name (the system keeps 15 characters).
    // Returns 0 or an errno value.
    int Start(const char* name, std::function<void()> body);
    void Join();
    bool Running() const { return m_thread.joinable(); }

private:
    std::thread m_thread;
};

// Kernel identifier of the calling thread.
uint32_t CurrentThreadId();
// Names the calling thread for debuggers and /proc (15 characters kept).
void SetCurrentThreadName(const char* name);

} // namespace px
