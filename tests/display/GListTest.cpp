// The overlay list: ids, order of drawing, replacement and removal, and its lock.
#include <gtest/gtest.h>

#include <atomic>

#include "display/SimpleGList.h"
#include "platform/Thread.h"

using namespace display;

namespace {

// Notes its id in a shared trail when drawn, and its tag when destroyed.
class Probe : public CSimpleGraphic {
public:
    Probe(int32_t id, std::vector<int32_t>* drawn, std::vector<int>* destroyed = nullptr, int tag = 0)
        : CSimpleGraphic(static_cast<uint16_t>(id), 0, 0, 0, 0, 0, 0, 0), m_drawn(drawn), m_destroyed(destroyed),
          m_tag(tag)
    {
    }
    ~Probe() override
    {
        if (m_destroyed)
            m_destroyed->push_back(m_tag);
    }
    void Draw(int32_t offsetX, int32_t, int32_t dstWidth, int32_t, int32_t, int32_t, uint32_t mode, HDC) override
    {
        if (m_drawn)
            m_drawn->push_back(static_cast<int16_t>(m_id));
        m_lastArguments = offsetX * 10000 + dstWidth * 10 + static_cast<int32_t>(mode);
    }
    int32_t m_lastArguments = 0;

private:
    std::vector<int32_t>* m_drawn;
    std::vector<int>* m_destroyed;
    int m_tag;
};

std::vector<int32_t> DrawOrder(CSimpleGList& list, std::vector<int32_t>& trail)
{
    trail.clear();
    list.Draw(3, 4, 5, 6, 7, 8, 1, nullptr);
    return trail;
}

using Ids = std::vector<int32_t>;

} // namespace

TEST(OverlayList, IdsAndTheOrderOfDrawing)
{
    std::vector<int32_t> trail;
    CSimpleGList list;
    EXPECT_EQ(list.Add(new Probe(-1, &trail)), 1) << "the first new id of an empty list";
    list.Clear();
    EXPECT_EQ(list.Add(new Probe(5, &trail)), 5);
    EXPECT_EQ(list.Add(new Probe(3, &trail)), 3);
    EXPECT_EQ(list.Add(new Probe(9, &trail)), 9);
    EXPECT_EQ(DrawOrder(list, trail), (Ids{3, 5, 9}));
    EXPECT_EQ(list.Add(new Probe(-1, &trail)), 10);
    // Ids compare as signed 16-bit numbers: 40000 is -25536 and goes first.
    EXPECT_EQ(list.Add(new Probe(40000, &trail)), -25536);
    EXPECT_EQ(DrawOrder(list, trail), (Ids{-25536, 3, 5, 9, 10}));
    EXPECT_EQ(list.Count(), 5);
    EXPECT_EQ(list.Add(nullptr), -1);

    auto* probe = new Probe(77, &trail);
    list.Add(probe);
    list.Draw(12, 0, 640, 0, 0, 0, 2, nullptr);
    EXPECT_EQ(probe->m_lastArguments, 12 * 10000 + 640 * 10 + 2) << "the arguments reach each graphic";

    list.Remove(123);
    EXPECT_EQ(list.Count(), 6);
    list.Remove(-25536 + 65536);
    list.Remove(5);
    EXPECT_EQ(DrawOrder(list, trail), (Ids{3, 9, 10, 77}));
}

TEST(OverlayList, AnIdAddedAgainReplacesInPlace)
{
    std::vector<int32_t> trail;
    std::vector<int> destroyed;
    CSimpleGList list;
    // New ids come in order and leave the list unsorted-free: the array order is the drawing order.
    list.Add(new Probe(-1, &trail, &destroyed, 1));
    list.Add(new Probe(-1, &trail, &destroyed, 2));
    list.Add(new Probe(-1, &trail, &destroyed, 3));
    EXPECT_EQ(list.Add(new Probe(2, &trail, &destroyed, 20)), 2);
    EXPECT_EQ(destroyed, (std::vector<int>{2}));
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(DrawOrder(list, trail), (Ids{1, 2, 3}));
    list.Clear();
    EXPECT_EQ(destroyed, (std::vector<int>{2, 1, 20, 3}));
    EXPECT_EQ(list.Count(), 0);
}

TEST(OverlayList, NewIdsWrapAndTheUnsortedMarkLastsUntilClear)
{
    std::vector<int32_t> trail;
    CSimpleGList list;
    // An explicit id marks the list unsorted; 32767 + 1 wraps to -32768, drawn first once sorted.
    list.Add(new Probe(32767, &trail));
    EXPECT_EQ(list.Add(new Probe(-1, &trail)), -32768);
    EXPECT_EQ(DrawOrder(list, trail), (Ids{-32768, 32767}));
    list.Clear();
    // Without the mark the array keeps the order of adding. (The largest id is set on the graphic
    // itself, which spares 32767 additions.)
    auto* first = new Probe(-1, &trail);
    EXPECT_EQ(list.Add(first), 1);
    first->m_id = 32767;
    EXPECT_EQ(list.Add(new Probe(-1, &trail)), -32768);
    EXPECT_EQ(DrawOrder(list, trail), (Ids{32767, -32768}));
    EXPECT_EQ(list.Count(), 2);
}

TEST(OverlayList, AddRemoveAndDrawFromSeveralThreads)
{
    CSimpleGList list;
    std::atomic<int32_t> largestCount{0};
    px::Thread drawer, editor;
    ASSERT_EQ(drawer.Start("px-overlay-draw", [&] {
        for (int i = 0; i < 2000; ++i)
            list.Draw(0, 0, 100, 100, 100, 100, 0, nullptr);
    }), 0);
    ASSERT_EQ(editor.Start("px-overlay-edit", [&] {
        for (int i = 0; i < 2000; ++i) {
            list.Add(new Probe(i % 50, nullptr));
            list.Add(new Probe(-1, nullptr));
            list.Remove(i % 50);
            largestCount.store(std::max(largestCount.load(), list.Count()));
            if (i % 500 == 0)
                list.Clear();
        }
    }), 0);
    editor.Join();
    drawer.Join();
    EXPECT_GT(largestCount.load(), 0);
    EXPECT_LE(list.Count(), 2000);
}
