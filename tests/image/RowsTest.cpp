// Pixel rows: every optimised row gives the bytes of its reference row over odd widths and at a
// page end, and the YUV rows give the colours of the YUV tables for every (Y, U, V).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "GuardedBuffer.h"
#include "image/Rows.h"

using namespace pximage;

namespace {

struct RowCase {
    const char* name;
    RowFn RowSet::*row;
    uint32_t srcBpp, dstBpp;
};
const RowCase kRowCases[] = {
    {"yuv16ToRgb24", &RowSet::yuv16ToRgb24, 2, 3},
    {"yuv16ToRgb32", &RowSet::yuv16ToRgb32, 2, 4},
    {"yuv16ToRgb16", &RowSet::yuv16ToRgb16, 2, 2},
    {"grey8ToRgb32", &RowSet::grey8ToRgb32, 1, 4},
    {"grey8ToRgb24", &RowSet::grey8ToRgb24, 1, 3},
    {"grey8ToRgb16", &RowSet::grey8ToRgb16, 1, 2},
    {"rgb24ToRgb32", &RowSet::rgb24ToRgb32, 3, 4},
    {"rgb32ToRgb24", &RowSet::rgb32ToRgb24, 4, 3},
    {"rgb32ToRgb16", &RowSet::rgb32ToRgb16, 4, 2},
    {"rgb24ToRgb16", &RowSet::rgb24ToRgb16, 3, 2},
};

std::vector<SimdLevel> LevelsHere()
{
    std::vector<SimdLevel> levels;
    for (SimdLevel l : {SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (l <= DetectedSimdLevel())
            levels.push_back(l);
    }
    return levels;
}

// The tables as the colour rules state them, in floating point: an independent statement.
int Table(double k, int c) { return static_cast<int>(std::trunc(k * (c - 128))); }
int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

} // namespace

TEST(Rows, OptimisedRowsEqualTheReferenceAtAPageEnd)
{
    const std::vector<SimdLevel> levels = LevelsHere();
    ASSERT_FALSE(levels.empty());
    std::mt19937 random(7);
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 140; ++w)
        widths.push_back(w);
    for (uint32_t w : {255u, 256u, 257u, 1919u, 1920u})
        widths.push_back(w);
    for (const RowCase& c : kRowCases) {
        const RowFn reference = (RowsAt(SimdLevel::C).*c.row);
        for (uint32_t width : widths) {
            // Both buffers end where the mapping ends; the source in random bytes.
            CGuardedBuffer src(size_t{width} * c.srcBpp);
            for (size_t i = 0; i < src.Size(); ++i)
                src.Data()[i] = static_cast<uint8_t>(random());
            std::vector<uint8_t> expected(size_t{width} * c.dstBpp, 0xA5);
            reference(src.Data(), expected.data(), width);
            for (SimdLevel level : levels) {
                const RowSet& rows = RowsAt(level);
                CGuardedBuffer dst(size_t{width} * c.dstBpp);
                std::memset(dst.Data(), 0xA5, dst.Size());
                (rows.*c.row)(src.Data(), dst.Data(), width);
                ASSERT_EQ(std::memcmp(dst.Data(), expected.data(), dst.Size()), 0)
                    << c.name << " " << rows.name << " width " << width;
            }
        }
    }
}

TEST(Rows, YuvRowsFollowTheTablesForEveryTriple)
{
    // One row per (U, V): 128 pairs carry the 256 values of Y. Each level's rows against colours
    // worked out from the rules; RGB32's fourth byte is 0 and RGB16 keeps each colour's top 5 bits.
    const uint32_t width = 256;
    std::vector<uint8_t> src(width * 2), rgb24(width * 3), rgb32(width * 4), rgb16(width * 2);
    std::vector<SimdLevel> levels = LevelsHere();
    levels.insert(levels.begin(), SimdLevel::C);
    int redV[256], greenU[256], greenV[256], blueU[256];
    for (int c = 0; c < 256; ++c)
        redV[c] = Table(1.402, c), greenU[c] = Table(0.34414, c), greenV[c] = Table(0.71414, c),
        blueU[c] = Table(1.772, c);
    for (SimdLevel level : levels) {
        const RowSet& rows = RowsAt(level);
        int wrong = 0;
        for (int u = 0; u < 256; ++u) {
            for (int v = 0; v < 256; ++v) {
                for (uint32_t i = 0; i < width / 2; ++i) {
                    src[i * 4] = static_cast<uint8_t>(2 * i);
                    src[i * 4 + 1] = static_cast<uint8_t>(u);
                    src[i * 4 + 2] = static_cast<uint8_t>(2 * i + 1);
                    src[i * 4 + 3] = static_cast<uint8_t>(v);
                }
                rows.yuv16ToRgb24(src.data(), rgb24.data(), width);
                rows.yuv16ToRgb32(src.data(), rgb32.data(), width);
                rows.yuv16ToRgb16(src.data(), rgb16.data(), width);
                for (int y = 0; y < 256 && wrong < 5; ++y) {
                    const int r = Clamp(y + redV[v]);
                    const int g = Clamp(y - greenU[u] - greenV[v]);
                    const int b = Clamp(y + blueU[u]);
                    const uint8_t* p24 = &rgb24[y * 3];
                    const uint8_t* p32 = &rgb32[y * 4];
                    const int w16 = rgb16[y * 2] | (rgb16[y * 2 + 1] << 8);
                    const int packed = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                    if (p24[0] != b || p24[1] != g || p24[2] != r || p32[0] != b || p32[1] != g || p32[2] != r ||
                        p32[3] != 0 || w16 != packed) {
                        ADD_FAILURE() << rows.name << " Y " << y << " U " << u << " V " << v << ": want " << b << ","
                                      << g << "," << r << " got " << int{p24[0]} << "," << int{p24[1]} << ","
                                      << int{p24[2]} << " / " << int{p32[0]} << "," << int{p32[1]} << ","
                                      << int{p32[2]} << "," << int{p32[3]} << " / " << w16;
                        ++wrong;
                    }
                }
            }
        }
        EXPECT_EQ(wrong, 0) << rows.name;
    }
}

TEST(Rows, KnownYuvColoursAndTheOddLastPixel)
{
    // A grey pixel keeps Y; U = 255 takes 43 from green (clamped at 0); an odd last pixel has no
    // V and is converted with V = 128.
    const uint8_t yuv[10] = {77, 128, 200, 128, 30, 255, 200, 128, 90, 255};
    uint8_t bgr[15];
    for (SimdLevel level : {SimdLevel::C, DetectedSimdLevel()}) {
        RowsAt(level).yuv16ToRgb24(yuv, bgr, 5);
        EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 15),
                  (std::vector<uint8_t>{77, 77, 77, 200, 200, 200, 255, 0, 30, 255, 157, 200, 255, 47, 90}));
    }
    EXPECT_EQ(GetYuvTables().greenU[255], 43);
    EXPECT_EQ(GetYuvTables().redV[0], -179);
}
