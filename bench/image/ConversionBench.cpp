// The viewer's conversion of one 1920x1080 frame against libyuv in the same run: YUV16 to RGB24
// (libyuv's two passes YUY2ToARGB and ARGBToRGB24 against our one table-exact pass), grey to
// RGB32 (J400ToARGB) and RGB24 to RGB32 (RGB24ToARGB), plus our reference rows for scale. At the
// end the ratio of each pair is printed: libyuv's time over ours, above 1 when ours is faster.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <libyuv.h>

#include "image/Conversion.h"
#include "image/Planes.h"
#include "image/Rows.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

struct Frames {
    std::vector<uint8_t> yuv16, grey, rgb24, argb, out24, out32;
    Frames()
        : yuv16(size_t{kWidth} * kHeight * 2), grey(size_t{kWidth} * kHeight), rgb24(size_t{kWidth} * kHeight * 3),
          argb(size_t{kWidth} * kHeight * 4), out24(size_t{kWidth} * kHeight * 3), out32(size_t{kWidth} * kHeight * 4)
    {
        uint32_t seed = 1;
        for (auto* v : {&yuv16, &grey, &rgb24})
            for (uint8_t& b : *v)
                b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    }
};

Frames& F()
{
    static Frames frames;
    return frames;
}

void Count(benchmark::State& state)
{
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}

void BM_Yuv16ToRgb24_Pellix(benchmark::State& state)
{
    for (auto _ : state)
        pximage::CopyConvert(F().yuv16.data(), PX_FORMAT_YUV16, kWidth, kHeight, F().out24.data(), PX_FORMAT_RGB24,
                             kWidth * 3);
    Count(state);
}
void BM_Yuv16ToRgb24_Libyuv(benchmark::State& state)
{
    for (auto _ : state) {
        libyuv::YUY2ToARGB(F().yuv16.data(), kWidth * 2, F().argb.data(), kWidth * 4, kWidth, kHeight);
        libyuv::ARGBToRGB24(F().argb.data(), kWidth * 4, F().out24.data(), kWidth * 3, kWidth, kHeight);
    }
    Count(state);
}
void BM_Yuv16ToRgb24_Reference(benchmark::State& state)
{
    for (auto _ : state)
        pximage::ConvertPlane(pximage::Yuv16ToRgb24Row_C, F().yuv16.data(), kWidth * 2, F().out24.data(), kWidth * 3,
                              kWidth, kHeight);
    Count(state);
}
void BM_Grey8ToRgb32_Pellix(benchmark::State& state)
{
    for (auto _ : state)
        pximage::CopyConvert(F().grey.data(), PX_FORMAT_MONO8, kWidth, kHeight, F().out32.data(), PX_FORMAT_RGB32,
                             kWidth * 4);
    Count(state);
}
void BM_Grey8ToRgb32_Libyuv(benchmark::State& state)
{
    for (auto _ : state)
        libyuv::J400ToARGB(F().grey.data(), kWidth, F().out32.data(), kWidth * 4, kWidth, kHeight);
    Count(state);
}
void BM_Rgb24ToRgb32_Pellix(benchmark::State& state)
{
    for (auto _ : state)
        pximage::CopyConvert(F().rgb24.data(), PX_FORMAT_RGB24, kWidth, kHeight, F().out32.data(), PX_FORMAT_RGB32,
                             kWidth * 4);
    Count(state);
}
void BM_Rgb24ToRgb32_Libyuv(benchmark::State& state)
{
    for (auto _ : state)
        libyuv::RGB24ToARGB(F().rgb24.data(), kWidth * 3, F().out32.data(), kWidth * 4, kWidth, kHeight);
    Count(state);
}

BENCHMARK(BM_Yuv16ToRgb24_Pellix)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Yuv16ToRgb24_Libyuv)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Yuv16ToRgb24_Reference)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Grey8ToRgb32_Pellix)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Grey8ToRgb32_Libyuv)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Rgb24ToRgb32_Pellix)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Rgb24ToRgb32_Libyuv)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Keeps the time of every run by name, to print the ratios of the pairs at the end.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            m_times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const
    {
        for (const char* pair : {"BM_Yuv16ToRgb24", "BM_Grey8ToRgb32", "BM_Rgb24ToRgb32"}) {
            const auto ours = m_times.find(std::string(pair) + "_Pellix/real_time");
            const auto theirs = m_times.find(std::string(pair) + "_Libyuv/real_time");
            if (ours != m_times.end() && theirs != m_times.end() && ours->second > 0)
                std::printf("%s: libyuv time / ours = %.2f\n", pair + 3, theirs->second / ours->second);
        }
    }

private:
    std::map<std::string, double> m_times;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::printf("rows: %s\n", pximage::Rows().name);
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
