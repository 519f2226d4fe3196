#include "platform/Thread.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <pthread.h>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>

namespace px {

Thread::~Thread() { Join(); }

int Thread::Start(const char* name, std::function<void()> body)
{
    if (m_thread.joinable())
        return EBUSY;
    std::string threadName = name ? name : "";
    // std::thread reports failures by exception; this layer hands out errno values instead.
    try {
        m_thread = std::thread([threadName, fn = std::move(body)]() {
            SetCurrentThreadName(threadName.c_str());
            fn();
        });
    } catch (const std::system_error& e) {
        return e.code().value() ? e.code().value() : EAGAIN;
    } catch (...) {
        return ENOMEM;
    }
    return 0;
}

void Thread::Join()
{
    if (!m_thread.joinable())
        return;
    // A thread cannot join itself; its owner is being torn down from inside it.
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();
    else
        m_thread.join();
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void SetCurrentThreadName(const char* name)
{
    char shortName[16] = {};
    strncpy(shortName, name ? name : "", sizeof shortName - 1);
    pthread_setname_np(pthread_self(), shortName);
}

} // namespace px
