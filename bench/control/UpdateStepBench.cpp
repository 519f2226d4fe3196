// The viewer control's whole update step per frame against the read of the same frame alone.
//
// kelvo-sim runs in this process with one 1920x1080 RGB32 image buffer whose frames come only on
// demand. A control in the headless host (a 1280x720 window, GDI drawing, painting left to the
// host, which is never asked) streams it: its update thread waits for the next frame. Each
// iteration measures, by turns:
//   - update: one frame is made, and the clock runs from then until the control's Redraw has
//     invalidated the window (the read, the conversion, the stretch into the picture and its copy
//     into the memory bitmap);
//   - read: a library client of the same buffer fetches the current frame at once (force 1)
//     while the control waits.
// Counters (median times): update_ms, read_ms, and ratio = update / read.
//
// Threads: the benchmark thread makes frames and reads; the control's update thread and the
// host's window thread run as in any host; the simulator serves each connection on its own.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "hosting/HeadlessHost.h"
#include "pellix/pellix.h"
#include "sim/KelvoSim.h"

namespace {

using Clock = std::chrono::steady_clock;
using pxhost::HostValue;

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr int32_t kWindowWidth = 1280, kWindowHeight = 720;
constexpr uint32_t kWait = 30000;
const uint8_t kLoopback[4] = {127, 0, 0, 1};

double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_UpdateStepVsRead(benchmark::State& state)
{
    pxsim::CKelvoSim sim;
    if (sim.Start(pxsim::SingleImageSimConfig("BNCH", kWidth, kHeight, PX_FORMAT_RGB32)) != 0) {
        state.SkipWithError("simulator did not start");
        return;
    }
    const std::string config = "/tmp/pellix-update-bench-" + std::to_string(getpid()) + ".conf";
    std::ofstream(config) << sim.ClientConfigText() << "UseDDraw=0\n";
    setenv("VISTEL_CONFIG", config.c_str(), 1);
    const uint16_t port = sim.BufferPort("BNCH");

    pxhost::HeadlessHostOptions options;
    options.width = kWindowWidth;
    options.height = kWindowHeight;
    options.bManualTimers = true;
    options.bAutoPaint = false;
    pxhost::CHeadlessHost host(options);
    host.Put("ServerAddress", HostValue::Text("127.0.0.1"));
    host.Put("Port", HostValue::I4(port));
    host.Put("BufferId", HostValue::Text("BNCH"));
    host.CreateWindow();

    PXHANDLE reader = 0;
    std::vector<uint8_t> frame(size_t{kWidth} * kHeight * 4);
    uint32_t received = 0;
    if (!host.WaitForEvents(PXEVENT_OnImageReceived, 1, kWait) || !sim.WaitForWaitingRequests(1, kWait) ||
        PXClientInit(nullptr, kLoopback, "update-bench", &reader, PX_INFINITE, 0, 0, 0, 0) != PX_OK ||
        PXSetExchangeBuffer(reader, port, "BNCH", 0, 0) != PX_OK) {
        state.SkipWithError("the control or the reader did not stream");
        unlink(config.c_str());
        return;
    }

    std::vector<double> updateTimes, readTimes;
    bool ok = true;
    size_t round = 0;
    for (auto _ : state) {
        for (int k = 0; k < 2; ++k) {
            if ((k + round) % 2 == 0) {
                const uint64_t before = host.Invalidations();
                sim.ProduceFrame();
                const Clock::time_point start = Clock::now();
                ok = ok && host.WaitFor([&] { return host.Invalidations() > before; }, kWait);
                updateTimes.push_back(MsSince(start));
                // The update thread is back in its read: the next frame finds it waiting.
                ok = ok && sim.WaitForWaitingRequests(1, kWait);
            } else {
                const Clock::time_point start = Clock::now();
                ok = ok && PXGetExchangeBufferData(reader, "BNCH", 1, frame.data(), nullptr, &received) == PX_OK &&
                     received == 1;
                readTimes.push_back(MsSince(start));
            }
        }
        ++round;
    }
    if (!ok || uint64_t(host.Get("SerialCounter").Int()) != sim.Serial("BNCH"))
        state.SkipWithError("a frame was lost");
    PXClientTerminate(reader);
    host.DestroyWindow();
    unlink(config.c_str());
    if (updateTimes.empty() || readTimes.empty())
        return;
    const double update = Median(updateTimes), read = Median(readTimes);
    state.counters["update_ms"] = update;
    state.counters["read_ms"] = read;
    state.counters["ratio"] = update / read;
}
BENCHMARK(BM_UpdateStepVsRead)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace
