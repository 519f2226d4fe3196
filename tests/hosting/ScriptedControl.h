// A scripted control behind the C interface, for the hosts' own tests: it keeps the host table it
// was given so that a test can play the control's side (call the host's functions from worker
// threads, as the real control's threads do), and it records the messages the host hands it. It
// has no members: Invoke finds none, persistence saves and loads nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
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
    // Answers a message (1 consumed); called without the lock.
    std::function<int(uint32_t msg)> onMessage;
    uint32_t dwPaintColour = 0x00336699;   // BGRX little-endian word the control paints
    uint32_t dwPaints = 0;
    bool bDestroyed = false;
};

// The state of the last control made; reset by PXControlCreate.
State& Last();

// Under the state's lock: the messages, those of one kind, the host table.
std::vector<Message> Messages();
std::vector<Message> MessagesOf(uint32_t msg);
PXControlHost Host();

} // namespace scripted
