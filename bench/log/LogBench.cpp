// Records per second into one log file, from one and from four threads, and the cost of a trace
// that is skipped because no log exists, beside an empty loop of the same shape.
#include "log/XmlLogger.h"

#include <benchmark/benchmark.h>

#include <string>
#include <unistd.h>

namespace {

CXmlLogger* g_pLogger = nullptr;

std::string BenchPath() { return "/tmp/pellix-log-bench-" + std::to_string(getpid()) + ".xml"; }

void BM_LogFormat(benchmark::State& state)
{
    // The loop starts and ends on a barrier of all threads, so thread 0 may create and destroy
    // the logger around it.
    if (state.thread_index() == 0) {
        unlink(BenchPath().c_str());
        g_pLogger = CXmlLogger::Create(BenchPath().c_str());
        g_pLogger->SetThreadName(0, "Bench"); // not a real thread: the table holds one extra entry
        g_pLogger->AddSection(LOG_SECTION_PELLIX, "Pellix");
    }
    unsigned long handle = 0x10000u + static_cast<unsigned long>(state.thread_index());
    unsigned long n = 0;
    for (auto _ : state) {
        if (!g_pLogger->LogFormat(LOG_SECTION_PELLIX, LOG_LEVEL_DEBUG, "%08lX - PXGetExchangeBufferData(%lu)\n",
                                  handle, ++n)) {
            state.SkipWithError("write failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    if (state.thread_index() == 0) {
        delete g_pLogger;
        g_pLogger = nullptr;
        unlink(BenchPath().c_str());
    }
}
BENCHMARK(BM_LogFormat)->Threads(1)->Threads(4)->UseRealTime();

void BM_EmptyLoop(benchmark::State& state)
{
    unsigned long n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(n);
        ++n;
    }
}
BENCHMARK(BM_EmptyLoop);

void BM_SkippedTrace(benchmark::State& state)
{
    DestroyXmlLogger();
    unsigned long n = 0;
    for (auto _ : state) {
        PX_LOG_FORMAT(LOG_SECTION_PELLIX, LOG_LEVEL_DEBUG, "%08lX - PXGetExchangeBufferData(%lu)\n", 0x10000ul, n);
        benchmark::DoNotOptimize(n);
        ++n;
    }
}
BENCHMARK(BM_SkippedTrace);

} // namespace
