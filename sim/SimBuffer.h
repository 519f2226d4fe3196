// One published exchange buffer of the simulated camera: its settings, its information record,
// the latest frame, and the clients waiting for the next one.
//
// A frame is immutable once made and shared by pointer: connection threads send straight from
// it while the producer makes the next one, so no frame is copied on its way to a client. The
// buffer lock guards the settings, the current frame pointer and the waiter list only; nobody
// holds it while rendering or sending.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Event.h"
#include "sim/SimConfig.h"
#include "sim/SimPattern.h"

namespace pxsim {

struct SimFrame {
    uint64_t qwSerial = 0;        // data description words 8 and 9
    SimGeometry geometry;         // images: what the data holds
    uint32_t dwNewFormat = 0;     // data description word 10
    std::vector<uint8_t> data;
};

// Largest image the simulator renders (bytes of one full frame).
constexpr uint64_t kSimMaxImageBytes = 256ull << 20;

class CSimBuffer {
public:
    explicit CSimBuffer(const SimBufferConfig& config);
    CSimBuffer(const CSimBuffer&) = delete;
    CSimBuffer& operator=(const CSimBuffer&) = delete;

    // Checks the settings and renders frame 0. Returns 0 or EINVAL.
    int Init();

    px::agent::BufferId Id() const { return m_config.id; }
    uint32_t Type() const { return m_config.dwType; }
    const SimBufferConfig& Config() const { return m_config; }
    uint16_t Port() const { return m_usPort.load(); }
    void SetPort(uint16_t port) { m_usPort.store(port); }

    // The information record as it stands, as it travels (empty for input buffers).
    std::vector<uint8_t> InfoRecord() const;
    // CMD_SET_BUF_PARAMS: takes size, offset, subsection mode and pixel format of an image,
    // corrected the way a camera corrects them, and re-renders the current frame so that the next
    // reply already shows the new geometry. Other types keep their record. False: ignored.
    bool ApplyInfoRecord(const uint8_t* record, size_t size);

    std::shared_ptr<const SimFrame> Current() const;
    uint64_t Serial() const;
    // Makes the next frame; a histogram counts the current frame of source (may be null).
    void Produce(const CSimBuffer* source);

    // Events set whenever a new frame is there.
    void AddWaiter(px::Event* event);
    void RemoveWaiter(px::Event* event);

    void Subscribe() { ++m_dwSubscribers; }
    void Unsubscribe() { --m_dwSubscribers; }
    uint32_t Subscribers() const { return m_dwSubscribers.load(); }

    void RecordInput(std::vector<uint8_t> input);
    std::vector<std::vector<uint8_t>> Inputs() const;

private:
    // Storage of frames no client holds any more, handed to the next frame of the same size:
    // no allocation and no page faults per frame. Shared with the frames, which give their
    // storage back when the last holder lets go.
    struct FramePool {
        FramePool() { spare.reserve(2); }   // giving back then never allocates
        std::mutex lock;
        std::vector<std::vector<uint8_t>> spare;
        void Give(std::vector<uint8_t> data);
        std::vector<uint8_t> Take(size_t bytes);
    };
    std::shared_ptr<SimFrame> NewFrame(size_t bytes) const;
    std::shared_ptr<SimFrame> Render(uint64_t serial, const CSimBuffer* source) const;
    uint64_t DataBytes() const;

    SimBufferConfig m_config;
    std::atomic<uint16_t> m_usPort{0};
    std::atomic<uint32_t> m_dwSubscribers{0};

    std::mutex m_renderLock;             // one frame made at a time (producer or a client's change)
    mutable std::mutex m_lock;
    SimGeometry m_geometry;              // images: current settings
    uint32_t m_dwPendingFormat = 0;      // format changed by a client, told in the next frame
    std::shared_ptr<const SimFrame> m_pFrame;
    std::vector<px::Event*> m_waiters;
    std::vector<std::vector<uint8_t>> m_inputs;
    std::shared_ptr<FramePool> m_pPool = std::make_shared<FramePool>();
};

} // namespace pxsim
