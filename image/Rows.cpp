// The choice of row set by the processor's instruction sets, made once at first use.
#include "image/Rows.h"

#include "image/RowsInternal.h"

namespace pximage {

namespace {

constexpr RowSet kRowsC = {
    SimdLevel::C, "C",
    Yuv16ToRgb24Row_C,
    Yuv16ToRgb32Row_C,
    Yuv16ToRgb16Row_C,
    Grey8ToRgb32Row_C,
    Grey8ToRgb24Row_C,
    Grey8ToRgb16Row_C,
    Rgb24ToRgb32Row_C,
    Rgb32ToRgb24Row_C,
    Rgb32ToRgb16Row_C,
    Rgb24ToRgb16Row_C,
};
constexpr RowSet kRowsSse2 = {
    SimdLevel::Sse2, "SSE2",
    Yuv16ToRgb24Row_SSE2,
    Yuv16ToRgb32Row_SSE2,
    Yuv16ToRgb16Row_SSE2,
    Grey8ToRgb32Row_SSE2,
    Grey8ToRgb24Row_SSE2,
    Grey8ToRgb16Row_SSE2,
    Rgb24ToRgb32Row_SSE2,
    Rgb32ToRgb24Row_SSE2,
    Rgb32ToRgb16Row_SSE2,
    Rgb24ToRgb16Row_SSE2,
};
constexpr RowSet kRowsAvx2 = {
    SimdLevel::Avx2, "AVX2",
    Yuv16ToRgb24Row_AVX2,
    Yuv16ToRgb32Row_AVX2,
    Yuv16ToRgb16Row_AVX2,
    Grey8ToRgb32Row_AVX2,
    Grey8ToRgb24Row_AVX2,
    Grey8ToRgb16Row_AVX2,
    Rgb24ToRgb32Row_AVX2,
    Rgb32ToRgb24Row_AVX2,
    Rgb32ToRgb16Row_AVX2,
    Rgb24ToRgb16Row_AVX2,
};

SimdLevel Detect()
{
    // SSE2 is part of every x86-64 processor; the compiler's check of AVX2 includes the
    // operating system's saving of the wide registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? SimdLevel::Avx2 : SimdLevel::Sse2;
}

} // namespace

SimdLevel DetectedSimdLevel()
{
    static const SimdLevel level = Detect();
    return level;
}

const RowSet& RowsAt(SimdLevel level)
{
    if (level > DetectedSimdLevel())
        level = DetectedSimdLevel();
    switch (level) {
    case SimdLevel::Avx2: return kRowsAvx2;
    case SimdLevel::Sse2: return kRowsSse2;
    case SimdLevel::C: break;
    }
    return kRowsC;
}

} // namespace pximage
