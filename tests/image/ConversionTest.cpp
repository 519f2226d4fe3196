// The viewer's conversion: display format, layout, bitmap header and CopyConvert for every pair of
// formats, with its messages, against values worked out from the colour rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/Conversion.h"

using namespace pximage;

namespace {

constexpr uint32_t MONO8 = PX_FORMAT_MONO8, SYS8 = PX_FORMAT_SYSCOLOR8, RGB24 = PX_FORMAT_RGB24,
                   RGB32 = PX_FORMAT_RGB32, YUV16 = PX_FORMAT_YUV16, RGB16 = PX_FORMAT_RGB16;

// Three pixels of each source format, in one row.
std::vector<uint8_t> Source(uint32_t format)
{
    switch (format) {
    case MONO8: return {0, 100, 255};
    case SYS8: return {1, 100, 249};
    case RGB24: return {0x10, 0x20, 0x30, 0xFF, 0x80, 0x07, 0, 0, 0};
    case RGB32: return {0x10, 0x20, 0x30, 0x99, 0xFF, 0x80, 0x07, 0x99, 0, 0, 0, 0x99};
    case YUV16: return {77, 255, 200, 128, 30, 128}; // the last pixel has no V: converted with 128
    case RGB16: return {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00};
    default: return std::vector<uint8_t>(12, 0x42);
    }
}

// The same three pixels converted, by target, worked out by hand from the rules.
std::vector<uint8_t> Expected(uint32_t source, uint32_t target)
{
    // Blue, green, red of the three pixels.
    std::vector<uint8_t> bgr;
    switch (source) {
    case MONO8: bgr = {0, 0, 0, 100, 100, 100, 255, 255, 255}; break;
    case SYS8: bgr = {0, 0, 128, 100, 100, 100, 0, 0, 255}; break;
    case RGB24:
    case RGB32: bgr = {0x10, 0x20, 0x30, 0xFF, 0x80, 0x07, 0, 0, 0}; break;
    // Y 77 and 200 with U 255 (blue + 225, green - 43), V 128; Y 30 with U 128.
    case YUV16: bgr = {255, 34, 77, 255, 157, 200, 30, 30, 30}; break;
    }
    std::vector<uint8_t> out;
    for (size_t i = 0; i < 9; i += 3) {
        const uint8_t b = bgr[i], g = bgr[i + 1], r = bgr[i + 2];
        if (target == RGB32)
            out.insert(out.end(), {b, g, r, 0});
        else if (target == RGB24)
            out.insert(out.end(), {b, g, r});
        else if (target == RGB16) {
            const int w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
            out.insert(out.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)});
        }
    }
    return out;
}

} // namespace

TEST(Conversion, DisplayFormatAndLayout)
{
    struct {
        uint32_t received, options, forced, expected;
    } choices[] = {
        {MONO8, 0, 0, MONO8}, {SYS8, 0, 0, SYS8},   {YUV16, 0, 0, RGB24},  {RGB16, 0, 0, RGB16},
        {MONO8, 2, 0, RGB32}, {YUV16, 3, 0, RGB32}, {MONO8, 1, 0, MONO8},  {RGB16, 0, 16, RGB24},
        {RGB24, 2, 8192, RGB16},
    };
    for (const auto& c : choices)
        EXPECT_EQ(ChooseCopyFormat(c.received, c.options, c.forced), c.expected) << c.received << " " << c.options;

    struct {
        uint32_t format, sizeX, pitch;
    } layouts[] = {
        {YUV16, 6, 20}, {RGB24, 6, 20}, {RGB24, 5, 16}, {RGB32, 5, 20}, {RGB16, 5, 12},
        {MONO8, 5, 8},  {SYS8, 4, 4},   {0, 1, 4},      {7, 9, 12},
    };
    for (const auto& l : layouts) {
        uint32_t pitch = 0, size = 0;
        ASSERT_TRUE(CopyLayout(l.format, l.sizeX, 3, &pitch, &size));
        EXPECT_EQ(pitch, l.pitch) << l.format << " " << l.sizeX;
        EXPECT_EQ(size, l.pitch * 3);
    }
    uint32_t pitch = 7, size = 7;
    EXPECT_FALSE(CopyLayout(RGB32, 0x40000000, 1, &pitch, &size));
    EXPECT_FALSE(CopyLayout(MONO8, 65536, 65536, &pitch, &size));
    EXPECT_EQ(pitch, 7u);
}

TEST(Conversion, HeadersWithTheirColourTables)
{
    // An 8-bit image 5 pixels wide: 1064 bytes, the system colours when the camera sends them.
    std::vector<uint8_t> block(DibHeaderBytes(SYS8), 0xEE);
    ASSERT_EQ(block.size(), 1064u);
    FillDibHeader(block.data(), SYS8, SYS8, 5, 3, 24);
    BitmapInfoHeader h;
    std::memcpy(&h, block.data(), sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, -3);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 24u);
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed, 256u);
    EXPECT_EQ(h.biClrImportant, 256u);
    auto entry = [&](int i) { return std::vector<uint8_t>(block.begin() + 40 + 4 * i, block.begin() + 44 + 4 * i); };
    EXPECT_EQ(entry(0), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(entry(1), (std::vector<uint8_t>{0, 0, 128, 0}));
    EXPECT_EQ(entry(9), (std::vector<uint8_t>{240, 202, 166, 0}));
    EXPECT_EQ(entry(10), (std::vector<uint8_t>{10, 10, 10, 0}));
    EXPECT_EQ(entry(247), (std::vector<uint8_t>{160, 160, 164, 0}));
    EXPECT_EQ(entry(254), (std::vector<uint8_t>{255, 255, 0, 0}));
    EXPECT_EQ(entry(255), (std::vector<uint8_t>{255, 255, 255, 0}));
    // A grey camera forced to 8 bits shows through the grey table.
    FillDibHeader(block.data(), SYS8, MONO8, 5, 3, 24);
    EXPECT_EQ(entry(1), (std::vector<uint8_t>{1, 1, 1, 0}));
    EXPECT_EQ(SystemColourTable16()[249], 0x7C00);
    EXPECT_EQ(GreyTable16()[100], 0x318C);

    // 16, 24 and 32 bits: no table, 44 bytes with the fifth field zero.
    for (uint32_t format : {RGB16, RGB24, YUV16, RGB32}) {
        block.assign(DibHeaderBytes(format), 0xEE);
        ASSERT_EQ(block.size(), 44u);
        FillDibHeader(block.data(), format, YUV16, 6, 2, 40);
        std::memcpy(&h, block.data(), sizeof h);
        EXPECT_EQ(h.biBitCount, format == RGB16 ? 16 : format == RGB32 ? 32 : 24);
        EXPECT_EQ(h.biClrUsed, 0u);
        EXPECT_EQ(std::vector<uint8_t>(block.begin() + 40, block.end()), (std::vector<uint8_t>{0, 0, 0, 0}));
    }
}

TEST(Conversion, CopyConvertEveryPairOfFormats)
{
    const uint32_t formats[] = {0, MONO8, SYS8, 3, RGB24, RGB32, YUV16, RGB16};
    const uint32_t targets[] = {0, MONO8, SYS8, RGB24, RGB32, YUV16, RGB16, 7};
    for (uint32_t target : targets) {
        for (uint32_t source : formats) {
            SCOPED_TRACE("source " + std::to_string(source) + " target " + std::to_string(target));
            const std::vector<uint8_t> src = Source(source);
            // Two rows with the row's pitch of 16 bytes: the padding must stay as it was.
            const std::vector<uint8_t> twoRows = [&] {
                std::vector<uint8_t> v = src;
                v.insert(v.end(), src.begin(), src.end());
                return v;
            }();
            std::vector<uint8_t> dst(32, 0xEE);
            const CopyMessage m = CopyConvert(twoRows.data(), source, 3, 2, dst.data(), target, 16);

            std::string message;
            std::vector<uint8_t> row;
            const bool eightBit = source == MONO8 || source == SYS8;
            const bool known = eightBit || source == RGB24 || source == RGB32 || source == YUV16 || source == RGB16;
            if (target == 0 || target == 7) {
                message = "CopyConvert: cannot copy into unknown destination '" + std::to_string(target) + "' type\n";
            } else if (target == YUV16) {
                message = "CopyConvert: cannot copy '" + std::to_string(source) + "' source type into EB_IMG_YUV16\n";
            } else if (target == MONO8 || target == SYS8) {
                if (eightBit)
                    row = src;
                else if (known)
                    message = "CopyConvert: cannot copy '" + std::to_string(source) + "' source type into EB_IMG_MONO8\n";
            } else if (source == RGB16 && target != RGB16) {
                message = std::string("CopyConvert: cannot copy EB_IMG_RGB16 source into ") +
                          (target == RGB32 ? "EB_IMG_RGB32\n" : "EB_IMG_RGB24\n");
            } else if (source == target) {
                row = src;
            } else if (known) {
                row = Expected(source, target);
            }
            EXPECT_EQ(std::string(m.text), message);
            std::vector<uint8_t> expected(32, 0xEE);
            for (int y = 0; y < 2; ++y)
                std::copy(row.begin(), row.end(), expected.begin() + 16 * y);
            EXPECT_EQ(dst, expected);
        }
    }
    // A pitch shorter than a converted row writes nothing.
    std::vector<uint8_t> dst(32, 0xEE);
    EXPECT_TRUE(CopyConvert(Source(RGB24).data(), RGB24, 3, 1, dst.data(), RGB32, 11).Empty());
    EXPECT_EQ(dst, std::vector<uint8_t>(32, 0xEE));
}
