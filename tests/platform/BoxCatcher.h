// Catches the message boxes shown while it lives, as "caption: text", from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/Messages.h"

namespace platformtest {

class CBoxCatcher {
public:
    CBoxCatcher() { px::SetMessageBoxHandler(&CBoxCatcher::Handler, this); }
    ~CBoxCatcher() { px::SetMessageBoxHandler(nullptr, nullptr); }
    std::vector<std::string> Boxes()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_boxes;
    }
    // How many boxes of this caption and text were shown.
    size_t Count(const std::string& caption, const std::string& text)
    {
        size_t n = 0;
        for (const auto& b : Boxes())
            n += b == caption + ": " + text;
        return n;
    }

private:
    static void Handler(const char* text, const char* caption, void* user)
    {
        auto* self = static_cast<CBoxCatcher*>(user);
        std::lock_guard<std::mutex> lock(self->m_lock);
        self->m_boxes.push_back(std::string(caption) + ": " + text);
    }
    std::mutex m_lock;
    std::vector<std::string> m_boxes;
};

} // namespace platformtest
