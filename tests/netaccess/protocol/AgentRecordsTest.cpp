// Region placement, buffer-list entries, info records and the data description.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "netaccess/protocol/AgentProtocol.h"

using namespace px::agent;

TEST(AgentRegion, PlacesRowsIntoTheFullImageAndNothingElse)
{
    std::vector<uint8_t> image(640 * 480, 0);
    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(1 + i % 250);
    DataDesc desc;
    desc.dwWords[DATADESC_REGION_X] = 10;
    desc.dwWords[DATADESC_REGION_Y] = 20;
    desc.dwWords[DATADESC_REGION_WIDTH] = 100;
    desc.dwWords[DATADESC_REGION_ROWS] = 2;
    desc.dwWords[DATADESC_IS_REGION] = 1;
    ASSERT_EQ(AgentPlaceRegion(AgentRegionOf(desc), 1, 640, data.data(), data.size(), image.data(), image.size()),
              AGENT_OK);
    for (size_t i = 0; i < image.size(); ++i) {
        if (i >= 12810 && i <= 12909)
            ASSERT_EQ(image[i], data[i - 12810]) << i;
        else if (i >= 13450 && i <= 13549)
            ASSERT_EQ(image[i], data[100 + i - 13450]) << i;
        else
            ASSERT_EQ(image[i], 0) << i;
    }

    // Three bands: each row lands at ((y + r) × width + x) × bands.
    std::vector<uint8_t> rgb(8 * 4 * 3, 0);
    const uint8_t px[2 * 3] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(AgentPlaceRegion({6, 3, 2, 1}, 3, 8, px, sizeof px, rgb.data(), rgb.size()), AGENT_OK);
    EXPECT_EQ(memcmp(rgb.data() + (3 * 8 + 6) * 3, px, 6), 0);
}

TEST(AgentRegion, RegionOutsideTheImageOrTheDataIsRefusedUntouched)
{
    std::vector<uint8_t> image(640 * 480, 0);
    std::vector<uint8_t> data(640 * 2, 0xAB);
    struct Case {
        AgentRegion region;
        size_t dataSize;
    } cases[] = {
        {{541, 0, 100, 2}, data.size()},            // past the right edge
        {{0, 479, 100, 2}, data.size()},            // past the last row
        {{0, 0, 100, 2}, 199},                      // less data than the region
        {{0xFFFFFFF0u, 0, 0x20, 1}, data.size()},   // x + width wraps in 32 bits
        {{0, 0x10000000u, 16, 1}, data.size()},     // row offset beyond any image
        {{0, 0, 0x80000000u, 2}, data.size()},      // far wider than the image
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AgentPlaceRegion(c.region, 1, 640, data.data(), c.dataSize, image.data(), image.size()),
                  AGENT_OUT_OF_BOUNDS);
    }
    EXPECT_EQ(AgentPlaceRegion({0, 0, 640, 1}, 4, 640, data.data(), data.size(), image.data(), image.size()),
              AGENT_OUT_OF_BOUNDS);  // four bands need twice the data
    for (uint8_t b : image)
        ASSERT_EQ(b, 0);
}

TEST(AgentBufferList, EntryLayoutAndTruncation)
{
    BufferListEntry e;
    e.bufferId = BufferId::FromText("HIST");
    e.dwType = 6;
    e.usPort = 3101;
    strcpy(e.szProcessName, "kelvo-sim");
    strcpy(e.szText, "histogram");
    uint8_t rec[540];
    memset(rec, 0xEE, sizeof rec);
    ASSERT_EQ(AgentEncodeBufferListEntry(e, rec, sizeof rec), AGENT_OK);
    EXPECT_EQ(memcmp(rec, "HIST", 4), 0);
    EXPECT_EQ(rec[4], 6);
    EXPECT_EQ(rec[8] | (rec[9] << 8), 3101);
    EXPECT_STREQ(reinterpret_cast<const char*>(rec + 10), "kelvo-sim");
    EXPECT_STREQ(reinterpret_cast<const char*>(rec + 272), "histogram");
    EXPECT_EQ(rec[539], 0);

    // A record with no terminating zeros still decodes into terminated texts.
    memset(rec + 10, 'p', 530);
    BufferListEntry back;
    ASSERT_EQ(AgentDecodeBufferListEntry(rec, sizeof rec, &back), AGENT_OK);
    EXPECT_EQ(back.bufferId, e.bufferId);
    EXPECT_EQ(back.usPort, 3101);
    EXPECT_EQ(strlen(back.szProcessName), 256u);
    EXPECT_EQ(strlen(back.szText), 268u);
    EXPECT_EQ(AgentDecodeBufferListEntry(rec, 539, &back), AGENT_TRUNCATED);
    EXPECT_EQ(AgentEncodeBufferListEntry(e, rec, 539), AGENT_NO_ROOM);
}

TEST(AgentBufParams, SizesItemsAndCodec)
{
    const struct {
        uint32_t type, size;
    } sizes[] = {{1, 60}, {2, 12}, {3, 16}, {4, 16}, {5, 16}, {6, 8}, {7, 12},
                 {8, 12}, {9, 12}, {10, 8}, {11, 16}, {101, 0}};
    for (auto s : sizes) {
        uint32_t size = 99;
        ASSERT_TRUE(BufParamsSize(s.type, &size)) << s.type;
        EXPECT_EQ(size, s.size) << s.type;
    }
    uint32_t size = 0;
    EXPECT_FALSE(BufParamsSize(0, &size));
    EXPECT_FALSE(BufParamsSize(12, &size));
    EXPECT_FALSE(BufParamsSize(100, &size));

    // The image record: word n from bytes 4n, items at their words.
    uint8_t bytes[60];
    for (int i = 0; i < 15; ++i)
        for (int b = 0; b < 4; ++b)
            bytes[4 * i + b] = static_cast<uint8_t>(b == 0 ? 10 + i : 0);
    BufParams p;
    EXPECT_EQ(AgentDecodeBufParams(1, bytes, 59, &p), AGENT_TRUNCATED);
    ASSERT_EQ(AgentDecodeBufParams(1, bytes, 60, &p), AGENT_OK);
    const struct {
        uint32_t item, value;
    } image[] = {{1001, 16}, {1002, 20}, {1003, 21}, {1004, 12}, {1005, 13}, {1006, 18},
                 {1007, 19}, {1009, 17}, {1010, 1},  {1011, 24}, {1012, 22}};
    for (auto it : image) {
        uint32_t v = 0;
        ASSERT_TRUE(BufParamsItem(p, it.item, &v)) << it.item;
        EXPECT_EQ(v, it.value) << it.item;
    }
    uint32_t v = 0;
    EXPECT_FALSE(BufParamsItem(p, 1008, &v));
    uint8_t out[60];
    size_t n = 0;
    ASSERT_EQ(AgentEncodeBufParams(p, out, sizeof out, &n), AGENT_OK);
    EXPECT_EQ(n, 60u);
    EXPECT_EQ(memcmp(out, bytes, 60), 0);
    EXPECT_EQ(AgentEncodeBufParams(p, out, 56, &n), AGENT_NO_ROOM);

    // The small records: 1001 in word 0, then 1008, or 1002 and 1003.
    ASSERT_EQ(AgentDecodeBufParams(6, bytes, 8, &p), AGENT_OK);
    EXPECT_TRUE(BufParamsItem(p, 1008, &v));
    EXPECT_EQ(v, 11u);
    EXPECT_FALSE(BufParamsItem(p, 1002, &v));
    ASSERT_EQ(AgentDecodeBufParams(11, bytes, 16, &p), AGENT_OK);
    EXPECT_TRUE(BufParamsItem(p, 1003, &v));
    EXPECT_EQ(v, 12u);
    ASSERT_EQ(BufParamsInit(101, &p), AGENT_OK);
    EXPECT_TRUE(BufParamsItem(p, 1010, &v));
    EXPECT_FALSE(BufParamsItem(p, 1001, &v));
    EXPECT_EQ(BufParamsInit(13, &p), AGENT_BAD_TYPE);

    // The data-size rule of a window change counts RGB16 as one byte, as the record's owner does.
    EXPECT_EQ(BufParamsBytesPerPixel(4096), 2u);
    EXPECT_EQ(BufParamsBytesPerPixel(8192), 1u);
}

TEST(AgentDataDesc, ItemsAndSizes)
{
    uint8_t bytes[76];
    for (size_t i = 0; i < sizeof bytes; ++i)
        bytes[i] = static_cast<uint8_t>(i % 4 == 0 ? i / 4 + 1 : 0);
    DataDesc d;
    EXPECT_EQ(AgentDecodeDataDesc(bytes, 76, &d), AGENT_BAD_SIZE);
    ASSERT_EQ(AgentDecodeDataDesc(bytes, 32, &d), AGENT_OK);  // an old agent's 8 words
    EXPECT_EQ(d.dwWords[7], 8u);
    EXPECT_EQ(d.dwWords[8], 0u);
    ASSERT_EQ(AgentDecodeDataDesc(bytes, 72, &d), AGENT_OK);
    uint32_t values[2] = {}, count = 0;
    ASSERT_TRUE(DataDescItem(d, 2001, values, &count));
    EXPECT_EQ(values[0], 1u);
    ASSERT_TRUE(DataDescItem(d, 2009, values, &count));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(values[0], 9u);
    EXPECT_EQ(values[1], 10u);
    ASSERT_TRUE(DataDescItem(d, 2012, values, &count));
    EXPECT_EQ(values[0], 12u);
    EXPECT_EQ(count, 1u);
    EXPECT_FALSE(DataDescItem(d, 2000, values, &count));
    EXPECT_FALSE(DataDescItem(d, 2013, values, &count));

    uint8_t out[72];
    ASSERT_EQ(AgentEncodeDataDesc(d, 72, out, sizeof out), AGENT_OK);
    EXPECT_EQ(memcmp(out, bytes, 72), 0);
    EXPECT_EQ(AgentEncodeDataDesc(d, 72, out, 71), AGENT_NO_ROOM);
    EXPECT_EQ(AgentEncodeDataDesc(d, 30, out, sizeof out), AGENT_BAD_SIZE);
}
