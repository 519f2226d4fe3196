// The per-frame pixel costs of the viewer's drawing: StretchBlt in COLORONCOLOR mode (every
// frame of every viewer without a stretching back-end) against libyuv's ARGBScale without
// filtering, and BitBlt of a whole frame against memcpy. Each pair runs by turns in one loop so
// that both see the same machine; "ratio" is ours / baseline (1.0: as fast as the baseline).
#include <benchmark/benchmark.h>

#include <libyuv/scale_argb.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "raster/Gdi.h"

namespace {

using namespace raster;
using Clock = std::chrono::steady_clock;

// A memory DC with a 32-bit bitmap of the given size, filled with a pattern.
struct Frame {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap;
    HGDIOBJ old;
    uint8_t* bits;
    int32_t stride;

    Frame(int32_t width, int32_t height) : bitmap(CreateCompatibleBitmap(nullptr, width, height))
    {
        old = SelectObject(dc, bitmap);
        BITMAP described{};
        GetObjectA(bitmap, sizeof described, &described);
        bits = static_cast<uint8_t*>(described.bmBits);
        stride = described.bmWidthBytes;
        for (size_t i = 0; i < static_cast<size_t>(stride) * height; ++i)
            bits[i] = static_cast<uint8_t>(i * 7 + i / 4093);
    }
    ~Frame()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
};

void Report(benchmark::State& state, double ours, double baseline, int64_t pixels)
{
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours / n * 1e3;
    state.counters["baseline_ms"] = baseline / n * 1e3;
    state.counters["ratio"] = ours / baseline;
    state.SetItemsProcessed(state.iterations() * pixels);
}

void BM_StretchVersusLibyuv(benchmark::State& state)
{
    const int32_t sw = static_cast<int32_t>(state.range(0)), sh = static_cast<int32_t>(state.range(1));
    const int32_t dw = static_cast<int32_t>(state.range(2)), dh = static_cast<int32_t>(state.range(3));
    Frame source(sw, sh), target(dw, dh), reference(dw, dh);
    SetStretchBltMode(target.dc, COLORONCOLOR);
    double ours = 0, baseline = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        StretchBlt(target.dc, 0, 0, dw, dh, source.dc, 0, 0, sw, sh, SRCCOPY);
        const auto t1 = Clock::now();
        libyuv::ARGBScale(source.bits, source.stride, sw, sh, reference.bits, reference.stride, dw, dh,
                          libyuv::kFilterNone);
        const auto t2 = Clock::now();
        benchmark::DoNotOptimize(target.bits);
        benchmark::DoNotOptimize(reference.bits);
        ours += std::chrono::duration<double>(t1 - t0).count();
        baseline += std::chrono::duration<double>(t2 - t1).count();
    }
    Report(state, ours, baseline, static_cast<int64_t>(dw) * dh);
}
BENCHMARK(BM_StretchVersusLibyuv)->Args({1280, 1024, 800, 600})->Args({640, 480, 1920, 1080})->Unit(benchmark::kMicrosecond);

void BM_BitBltVersusMemcpy(benchmark::State& state)
{
    const int32_t w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
    Frame source(w, h), target(w, h);
    std::vector<uint8_t> copy(static_cast<size_t>(source.stride) * h);
    double ours = 0, baseline = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        BitBlt(target.dc, 0, 0, w, h, source.dc, 0, 0, SRCCOPY);
        const auto t1 = Clock::now();
        memcpy(copy.data(), source.bits, copy.size());
        const auto t2 = Clock::now();
        benchmark::DoNotOptimize(target.bits);
        benchmark::DoNotOptimize(copy.data());
        ours += std::chrono::duration<double>(t1 - t0).count();
        baseline += std::chrono::duration<double>(t2 - t1).count();
    }
    Report(state, ours, baseline, static_cast<int64_t>(w) * h);
}
BENCHMARK(BM_BitBltVersusMemcpy)->Args({1920, 1080})->Args({640, 480})->Unit(benchmark::kMicrosecond);

} // namespace
