#include "platform/Messages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace px {

namespace {

std::mutex g_lock;
MessageBoxHandler g_box = nullptr;
void* g_boxUser = nullptr;
DebugOutputSink g_sink = nullptr;
void* g_sinkUser = nullptr;

void DefaultBox(const char* text, const char* caption)
{
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}

bool DebugToStderr()
{
    const char* env = std::getenv("PELLIX_DEBUG_OUTPUT");
    return env != nullptr && std::strcmp(env, "1") == 0;
}

} // namespace

void SetMessageBoxHandler(MessageBoxHandler handler, void* user)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_box = handler;
    g_boxUser = user;
}

void ShowMessageBox(const char* text, const char* caption)
{
    MessageBoxHandler handler;
    void* user;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        handler = g_box;
        user = g_boxUser;
    }
    // Called outside the lock: a handler may block for as long as its dialog is open.
    if (handler != nullptr)
        handler(text ? text : "", caption ? caption : "", user);
    else
        DefaultBox(text, caption);
}

void SetDebugOutputSink(DebugOutputSink sink, void* user)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_sink = sink;
    g_sinkUser = user;
}

void DebugOutput(const char* text)
{
    DebugOutputSink sink;
    void* user;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        sink = g_sink;
        user = g_sinkUser;
    }
    if (sink != nullptr)
        sink(text ? text : "", user);
    else if (DebugToStderr())
        std::fputs(text ? text : "", stderr);
}

} // namespace px
