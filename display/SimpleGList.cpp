#include "display/SimpleGList.h"

#include <algorithm>
#include <new>

namespace display {

CSimpleGList::~CSimpleGList()
{
    Clear();
}

int32_t CSimpleGList::FindIndexById(uint16_t id) const
{
    for (size_t i = 0; i < m_graphics.size(); ++i) {
        if (m_graphics[i]->m_id == id)
            return static_cast<int32_t>(i);
    }
    return -1;
}

int16_t CSimpleGList::MaxId() const
{
    int16_t largest = 0;
    for (const CSimpleGraphic* graphic : m_graphics)
        largest = std::max(largest, static_cast<int16_t>(graphic->m_id));
    return largest;
}

int32_t CSimpleGList::Add(CSimpleGraphic* graphic)
{
    if (!graphic)
        return -1;
    px::CsLock lock(m_cs);
    const int32_t index = graphic->m_id == 0xFFFF ? -1 : FindIndexById(graphic->m_id);
    if (index >= 0) {
        delete m_graphics[static_cast<size_t>(index)];
        m_graphics[static_cast<size_t>(index)] = graphic;
        return static_cast<int16_t>(graphic->m_id);
    }
    const bool fresh = graphic->m_id == 0xFFFF;
    if (fresh)
        graphic->m_id = static_cast<uint16_t>(MaxId() + 1);
    try {
        m_graphics.push_back(graphic);
    } catch (const std::bad_alloc&) {
        delete graphic;
        return -1;
    }
    if (!fresh)
        m_bUnsorted = 1;
    m_nCount.store(static_cast<int32_t>(m_graphics.size()), std::memory_order_relaxed);
    return static_cast<int16_t>(graphic->m_id);
}

void CSimpleGList::Remove(int32_t id)
{
    px::CsLock lock(m_cs);
    const int32_t index = FindIndexById(static_cast<uint16_t>(id));
    if (index < 0)
        return;
    delete m_graphics[static_cast<size_t>(index)];
    m_graphics.erase(m_graphics.begin() + index);
    m_nCount.store(static_cast<int32_t>(m_graphics.size()), std::memory_order_relaxed);
}

void CSimpleGList::Clear()
{
    px::CsLock lock(m_cs);
    for (CSimpleGraphic* graphic : m_graphics)
        delete graphic;
    m_graphics.clear();
    m_bUnsorted = 0;
    m_nCount.store(0, std::memory_order_relaxed);
}

void CSimpleGList::Draw(int32_t offsetX, int32_t offsetY, int32_t dstWidth, int32_t dstHeight, int32_t srcWidth,
                        int32_t srcHeight, uint32_t mode, HDC hdc)
{
    px::CsLock lock(m_cs);
    if (m_bUnsorted) {
        std::sort(m_graphics.begin(), m_graphics.end(), [](const CSimpleGraphic* a, const CSimpleGraphic* b) {
            return static_cast<int16_t>(a->m_id) < static_cast<int16_t>(b->m_id);
        });
    }
    for (CSimpleGraphic* graphic : m_graphics)
        graphic->Draw(offsetX, offsetY, dstWidth, dstHeight, srcWidth, srcHeight, mode, hdc);
}

} // namespace display
