// Frame rate of the pipeline "pellixsrc ! fakesink" against the C library's own read loop, on one
// simulator, at 1280x1024 mono8.
//
// kelvo-sim runs in this process with one image buffer and a frame interval of 0, so frames never
// change and a forced read (force=true, force 1) is answered at once. Each round runs both, the
// first of the two by turns so that the machine's noise falls on both alike:
//   - the pipeline, made anew with num-buffers = 1 + kFrames; a probe on the sink's pad stamps the
//     first and the last buffer, so opening the camera and negotiating are not counted;
//   - the loop, on a thread of its own like the element's streaming thread: a PX client opened as
//     the element opens its own (agent channel and watchdog), which reads 1 + kFrames frames into
//     one buffer, timed from the end of the first read.
// Counters: gst_fps, lib_fps and ratio (pipeline / loop); the aim is 0.9 or better.
//
// Threads: the benchmark thread drives both; the pipeline adds its streaming thread, the library
// its link threads, the simulator a thread per connection.
#include <benchmark/benchmark.h>

#include <gst/gst.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "pellix/pellix.h"
#include "sim/KelvoSim.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 300;
constexpr uint32_t kWidth = 1280, kHeight = 1024;
const uint8_t kLoopback[4] = {127, 0, 0, 1};

bool LoadPlugins()
{
    static const bool loaded = [] {
        setenv("GST_REGISTRY_DISABLE", "yes", 1);
        gst_init(nullptr, nullptr);
        for (const char* file : {PELLIX_GST_PLUGIN, GST_PLUGINS_DIR "/libgstcoreelements.so"}) {
            GstPlugin* plugin = gst_plugin_load_file(file, nullptr);
            if (plugin == nullptr)
                return false;
            gst_object_unref(plugin);
        }
        return true;
    }();
    return loaded;
}

struct Stamps {
    std::atomic<int> buffers{0};
    Clock::time_point first, last;
};

GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo*, gpointer data)
{
    auto* stamps = static_cast<Stamps*>(data);
    const auto now = Clock::now();
    if (stamps->buffers.fetch_add(1) == 0)
        stamps->first = now;
    stamps->last = now;
    return GST_PAD_PROBE_OK;
}

// Seconds for kFrames buffers through "pellixsrc ! fakesink"; negative on failure.
double RunPipeline()
{
    const std::string description = "pellixsrc camera=127.0.0.1 force=true num-buffers=" + std::to_string(kFrames + 1) +
                                    " ! fakesink name=sink sync=false";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (pipeline == nullptr)
        return -1;
    Stamps stamps;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, OnBuffer, &stamps, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);
    double seconds = -1;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* end = gst_bus_timed_pop_filtered(bus, 120 * GST_SECOND,
                                                     static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (end != nullptr && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS && stamps.buffers.load() == kFrames + 1)
            seconds = std::chrono::duration<double>(stamps.last - stamps.first).count();
        if (end != nullptr)
            gst_message_unref(end);
        gst_object_unref(bus);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return seconds;
}

// Seconds for kFrames forced reads through the library; negative on failure.
double RunLoop(uint16_t port)
{
    PXHANDLE h = 0;
    if (PXClientInit(nullptr, kLoopback, "bench-loop", &h, 5000, 1, 250, 1500, 3) != PX_OK)
        return -1;
    double seconds = -1;
    std::vector<uint8_t> frame(size_t{kWidth} * kHeight);
    uint32_t received = 0;
    if (PXSetExchangeBuffer(h, port, "BNCH", 0, h) == PX_OK &&
        PXGetExchangeBufferData(h, "BNCH", 1, frame.data(), nullptr, &received) == PX_OK && received == 1) {
        const auto t0 = Clock::now();
        int n = 0;
        while (n < kFrames && PXGetExchangeBufferData(h, "BNCH", 1, frame.data(), nullptr, &received) == PX_OK &&
               received == 1)
            ++n;
        if (n == kFrames)
            seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    PXClientTerminate(h);
    return seconds;
}

void BM_PipelineVsLibraryLoop(benchmark::State& state)
{
    if (!LoadPlugins()) {
        state.SkipWithError("the plugins did not load");
        return;
    }
    pxsim::CKelvoSim sim;
    if (sim.Start(pxsim::SingleImageSimConfig("BNCH", kWidth, kHeight, PX_FORMAT_MONO8)) != 0) {
        state.SkipWithError("simulator did not start");
        return;
    }
    const std::string config = "/tmp/pellix-gst-bench-" + std::to_string(getpid()) + ".conf";
    std::ofstream(config) << sim.ClientConfigText();
    setenv("VISTEL_CONFIG", config.c_str(), 1);

    double gstSeconds = 0, libSeconds = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool pipelineTurn = (turn == 0) == (rounds % 2 == 0);
            double s = -1;
            if (pipelineTurn) {
                s = RunPipeline();
            } else {
                // On a thread of its own, as the element's reads run on the streaming thread.
                std::thread loop([&] { s = RunLoop(sim.BufferPort("BNCH")); });
                loop.join();
            }
            if (s <= 0) {
                state.SkipWithError(pipelineTurn ? "the pipeline failed" : "the library loop failed");
                unlink(config.c_str());
                return;
            }
            (pipelineTurn ? gstSeconds : libSeconds) += s;
        }
        ++rounds;
    }
    unlink(config.c_str());
    state.counters["gst_fps"] = rounds * kFrames / gstSeconds;
    state.counters["lib_fps"] = rounds * kFrames / libSeconds;
    state.counters["ratio"] = libSeconds / gstSeconds;
    state.counters["gst_MBps"] = rounds * kFrames * double(kWidth) * kHeight / gstSeconds / 1e6;
}

} // namespace

BENCHMARK(BM_PipelineVsLibraryLoop)->UseRealTime()->Iterations(10)->Unit(benchmark::kMillisecond);
