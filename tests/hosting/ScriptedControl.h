// A scripted control behind the C interface, for the headless host's own tests: it keeps the
// host table it was given so that a test can play the control's side (call the host's functions
// from worker threads, as the real control's threads do), and it records what the host hands it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pellix/pellix_control.h"

namespace scripted {

struct Message {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
    std::thread::id thread;
};

struct State {
    std::mutex lock;
    PXControlHost host{};
    std::vector<Message> messages;
    // Answers a message (1 consumed); may block, to play a slow event handler.
    std::function<int(uint32_t msg)> onMessage;
    uint32_t dwPaintColour = 0x00336699;   // BGRX little-endian word the control paints
    uint32_t dwPaints = 0;
    bool bDestroyed = false;
    // Properties by DISPID, for Invoke, saving and loading.
    std::map<int32_t, std::string> texts;
    std::map<int32_t, int32_t> numbers;
};

// The state of the last control made; reset by PXControlCreate.
State& Last();

} // namespace scripted
