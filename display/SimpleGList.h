// The overlay graphics list: the graphics a host added, in drawing order, each with an id.
//
// The host's thread adds and removes while the update or window thread draws: Add, Remove,
// Clear and Draw take the list's lock; Count is a plain read the paint handler makes to decide
// whether to lay the overlay over the image.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "display/SimpleGraphic.h"
#include "platform/CriticalSection.h"

namespace display {

class CSimpleGList {
public:
    CSimpleGList() = default;
    virtual ~CSimpleGList();
    CSimpleGList(const CSimpleGList&) = delete;
    CSimpleGList& operator=(const CSimpleGList&) = delete;

    // Takes graphic. Id 65535 (-1) gets MaxId + 1, truncated to 16 bits, and is appended; an id
    // already in the list is replaced in its place, the old graphic destroyed; any other id is
    // appended and marks the list unsorted. Answers the graphic's id, widened from signed 16
    // bits, or -1 (no id ever stored) when memory ran out and the graphic was destroyed.
    int32_t Add(CSimpleGraphic* graphic);
    // Removes and destroys the graphic with that id (compared in 16 bits); nothing when absent.
    void Remove(int32_t id);
    // Destroys every graphic and forgets that the list was unsorted.
    void Clear();
    // Draws every graphic, lowest id first once the list was marked unsorted (until Clear),
    // otherwise in the order added; the arguments go to each graphic's Draw.
    void Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
              int32_t srcHeight, uint32_t mode, HDC hdc);
    int32_t Count() const { return m_nCount.load(std::memory_order_relaxed); }

private:
    // First index whose id equals id, or -1.
    int32_t FindIndexById(uint16_t id) const PX_REQUIRES(m_cs);
    // The largest id as a signed 16-bit number, from 0: an empty list gives 0.
    int16_t MaxId() const PX_REQUIRES(m_cs);

    px::CriticalSection m_cs;
    std::vector<CSimpleGraphic*> m_graphics PX_GUARDED_BY(m_cs);
    std::atomic<int32_t> m_nCount{0};
    uint32_t m_bUnsorted PX_GUARDED_BY(m_cs) = 0;
};

} // namespace display
