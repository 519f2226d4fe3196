// pellixsrc end to end: pipelines driven through the GStreamer API against kelvo-sim in this
// process, and the element's camera side on its own.
//
// Only the plugins the tests use are loaded (no registry scan). Buffers are looked at on the
// streaming thread (the sink's callback) and bus messages on the posting thread (a sync handler),
// and handed to the test's thread under a std::mutex: GLib's own locks are futexes that the thread
// sanitizer does not see.
#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "PellixCamera.h"
#include "pellix/pellix.h"
#include "sim/SimPattern.h"
#include "tests/sim/SimTestCamera.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class GstEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("GST_REGISTRY_DISABLE", "yes", 1);
        gst_init(nullptr, nullptr);
        for (const char* file :
             {PELLIX_GST_PLUGIN, GST_PLUGINS_DIR "/libgstcoreelements.so", GST_PLUGINS_DIR "/libgstapp.so"}) {
            GError* error = nullptr;
            GstPlugin* plugin = gst_plugin_load_file(file, &error);
            ASSERT_NE(plugin, nullptr) << file << ": " << (error != nullptr ? error->message : "");
            gst_object_unref(plugin);
        }
    }
    void TearDown() override { gst_deinit(); }
};
::testing::Environment* const g_gstreamer = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

// One buffer as the sink saw it, its rows packed.
struct Frame {
    std::string strFormat;
    int width = 0, height = 0, fpsN = -1, fpsD = -1;
    int stride = 0;
    uint64_t serial = 0;
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    bool bFromPool = false;
    std::vector<uint8_t> pixels;
};

bool Any(const Frame&) { return true; }

struct BusMessage {
    GstMessageType type = GST_MESSAGE_UNKNOWN;
    GQuark domain = 0;
    std::string text;
};

// A pipeline whose source is named "src" and which ends in an appsink named "sink". videoMeta
// says whether the sink takes buffers with a video meta (its answer to the allocation query is
// made so), which decides how the element hands over rows that are not whole words.
class CPipeline {
public:
    explicit CPipeline(const std::string& description, bool videoMeta = false) : m_bVideoMeta(videoMeta)
    {
        GError* error = nullptr;
        m_pPipeline = gst_parse_launch(description.c_str(), &error);
        if (error != nullptr) {
            ADD_FAILURE() << description << ": " << error->message;
            g_error_free(error);
        }
        if (m_pPipeline == nullptr)
            return;
        m_pSource = gst_bin_get_by_name(GST_BIN(m_pPipeline), "src");
        GstElement* sink = gst_bin_get_by_name(GST_BIN(m_pPipeline), "sink");
        GstAppSinkCallbacks callbacks = {};
        callbacks.new_sample = OnSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, OnQuery, this, nullptr);
        gst_object_unref(pad);
        gst_object_unref(sink);
        GstBus* bus = gst_element_get_bus(m_pPipeline);
        gst_bus_set_sync_handler(bus, OnMessage, this, nullptr);
        gst_object_unref(bus);
        m_bMade.store(true, std::memory_order_release);
    }
    ~CPipeline()
    {
        if (m_pPipeline == nullptr)
            return;
        gst_element_set_state(m_pPipeline, GST_STATE_NULL);
        gst_object_unref(m_pSource);
        gst_object_unref(m_pPipeline);
        // The streaming thread has ended; its last callback let go of the lock before.
        std::lock_guard<std::mutex> lock(m_lock);
    }
    GstStateChangeReturn Set(GstState state) { return gst_element_set_state(m_pPipeline, state); }
    bool Play() { return Set(GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE; }
    // Plays and waits for the first frame.
    bool PlayForFrame(Frame* first) { return Play() && WaitFrame(Any, first); }
    GstElement* Source() { return m_pSource; }
    uint32_t WatchdogStatus()
    {
        guint status = 0;
        g_object_get(m_pSource, "watchdog-status", &status, nullptr);
        return status;
    }

    // The next frame (after those already taken) that accept takes, within the time given.
    bool WaitFrame(const std::function<bool(const Frame&)>& accept, Frame* out, Clock::duration timeout = 20s)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] {
            for (; m_next < m_frames.size(); ++m_next) {
                if (accept(m_frames[m_next])) {
                    *out = m_frames[m_next++];
                    return true;
                }
            }
            return false;
        });
    }
    bool WaitMessage(GstMessageType type, BusMessage* out, Clock::duration timeout = 20s)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] {
            for (const BusMessage& m : m_messages) {
                if (m.type == type) {
                    *out = m;
                    return true;
                }
            }
            return false;
        });
    }
    std::vector<Frame> Frames()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_frames;
    }
    bool SawMessage(GstMessageType type)
    {
        BusMessage m;
        return WaitMessage(type, &m, 0s);
    }

private:
    // The pipeline as the streaming thread sees it: the acquire pairs with the release at the end
    // of the constructor, an order that GLib makes but the thread sanitizer cannot see.
    static CPipeline* Of(gpointer self)
    {
        auto* p = static_cast<CPipeline*>(self);
        p->m_bMade.load(std::memory_order_acquire);
        return p;
    }
    static GstFlowReturn OnSample(GstAppSink* sink, gpointer self)
    {
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (sample == nullptr)
            return GST_FLOW_ERROR;
        Frame f;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstVideoInfo info;
        const GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        f.strFormat = gst_structure_get_string(s, "format");
        gst_structure_get_fraction(s, "framerate", &f.fpsN, &f.fpsD);
        f.serial = GST_BUFFER_OFFSET(buffer);
        f.pts = GST_BUFFER_PTS(buffer);
        f.bFromPool = buffer->pool != nullptr;
        GstVideoFrame frame;
        if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
            gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
            f.width = GST_VIDEO_FRAME_WIDTH(&frame);
            f.height = GST_VIDEO_FRAME_HEIGHT(&frame);
            f.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
            const size_t row = size_t(f.width) * GST_VIDEO_FORMAT_INFO_PSTRIDE(info.finfo, 0);
            const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
            for (int y = 0; y < f.height; ++y)
                f.pixels.insert(f.pixels.end(), data + size_t(y) * f.stride, data + size_t(y) * f.stride + row);
            gst_video_frame_unmap(&frame);
        }
        gst_sample_unref(sample);
        CPipeline* p = Of(self);
        std::lock_guard<std::mutex> lock(p->m_lock);
        p->m_frames.push_back(std::move(f));
        p->m_changed.notify_all();
        return GST_FLOW_OK;
    }
    // The sink's answer to the allocation query: a video meta or none, no pool.
    static GstPadProbeReturn OnQuery(GstPad*, GstPadProbeInfo* info, gpointer self)
    {
        GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
        if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION)
            return GST_PAD_PROBE_OK;
        if (Of(self)->m_bVideoMeta)
            gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
        return GST_PAD_PROBE_HANDLED;
    }
    static GstBusSyncReply OnMessage(GstBus*, GstMessage* message, gpointer self)
    {
        BusMessage m;
        m.type = GST_MESSAGE_TYPE(message);
        GError* error = nullptr;
        if (m.type == GST_MESSAGE_ERROR)
            gst_message_parse_error(message, &error, nullptr);
        else if (m.type == GST_MESSAGE_WARNING)
            gst_message_parse_warning(message, &error, nullptr);
        else if (m.type != GST_MESSAGE_EOS)
            return GST_BUS_DROP;
        if (error != nullptr) {
            m.domain = error->domain;
            m.text = error->message;
            g_error_free(error);
        }
        CPipeline* p = Of(self);
        std::lock_guard<std::mutex> lock(p->m_lock);
        p->m_messages.push_back(m);
        p->m_changed.notify_all();
        return GST_BUS_DROP;
    }

    GstElement* m_pPipeline = nullptr;
    GstElement* m_pSource = nullptr;
    const bool m_bVideoMeta;
    std::atomic<bool> m_bMade{false};
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Frame> m_frames;
    size_t m_next = 0;
    std::vector<BusMessage> m_messages;
};

using simtest::CSimCamera;

pxsim::SimConfig OneImage(uint32_t width, uint32_t height, uint32_t format, uint32_t intervalMs = 20)
{
    pxsim::SimConfig c = pxsim::SingleImageSimConfig("IMG0", width, height, format);
    c.dwFrameIntervalMs = intervalMs;
    return c;
}

// With a camera that makes frames only when told: makes one whenever the element waits for one,
// until a frame that accept takes comes out of the pipeline.
bool MakeFramesUntil(CSimCamera& camera, CPipeline& p, const std::function<bool(const Frame&)>& accept, Frame* out)
{
    for (int i = 0; i < 100; ++i) {
        if (camera.sim.WaitForWaitingRequests(1, 2000))
            camera.sim.ProduceFrame();
        if (p.WaitFrame(accept, out, 200ms))
            return true;
    }
    return false;
}

// The camera's picture of frame `serial` in the window x, y, w, h of a full image, rows packed.
std::vector<uint8_t> Expected(uint32_t fullW, uint32_t fullH, uint32_t format, uint32_t x, uint32_t y, uint32_t w,
                              uint32_t h, uint64_t serial)
{
    pxsim::SimGeometry g;
    g.dwFullSizeX = fullW;
    g.dwFullSizeY = fullH;
    g.dwOffsetX = x;
    g.dwOffsetY = y;
    g.dwSizeX = w;
    g.dwSizeY = h;
    g.dwPixelFormat = format;
    std::vector<uint8_t> out(pxsim::SimImageBytes(g));
    pxsim::SimRenderImage(g, serial, out.data());
    return out;
}

const char kSink[] = " ! appsink name=sink sync=false";

} // namespace

TEST(PellixSrcTest, CapsAndPixelsOfEveryFormatFromThePool)
{
    const struct {
        uint32_t format;
        const char* caps;
    } cases[] = {{PX_FORMAT_MONO8, "GRAY8"}, {PX_FORMAT_SYSCOLOR8, "GRAY8"}, {PX_FORMAT_RGB24, "BGR"},
                 {PX_FORMAT_RGB32, "BGRx"},  {PX_FORMAT_YUV16, "YUY2"},     {PX_FORMAT_RGB16, "RGB15"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caps);
        CSimCamera camera;
        camera.Start(OneImage(64, 40, c.format));
        // One of them without agent channel: no watchdog, the frames all the same.
        const bool noAgent = c.format == PX_FORMAT_SYSCOLOR8;
        CPipeline p(std::string("pellixsrc name=src camera=127.0.0.1 num-buffers=2") +
                    (noAgent ? " agent-channel=false" : "") + kSink);
        EXPECT_EQ(p.WatchdogStatus(), PX_NO_WATCHDOG);
        ASSERT_TRUE(p.Play());
        BusMessage eos;
        ASSERT_TRUE(p.WaitMessage(GST_MESSAGE_EOS, &eos));
        EXPECT_EQ(p.WatchdogStatus(), noAgent ? PX_NO_WATCHDOG : PX_OK);
        const std::vector<Frame> frames = p.Frames();
        ASSERT_EQ(frames.size(), 2u);
        for (const Frame& f : frames) {
            EXPECT_EQ(f.strFormat, c.caps);
            EXPECT_EQ(f.width, 64);
            EXPECT_EQ(f.height, 40);
            EXPECT_EQ(f.fpsN, 0);
            EXPECT_EQ(f.fpsD, 1);
            EXPECT_TRUE(f.bFromPool);
            EXPECT_TRUE(f.pixels == Expected(64, 40, c.format, 0, 0, 64, 40, f.serial)) << "frame " << f.serial;
            EXPECT_TRUE(GST_CLOCK_TIME_IS_VALID(f.pts));
        }
        // A frame waited for is a newer one, stamped later.
        EXPECT_LT(frames[0].serial, frames[1].serial);
        EXPECT_LT(frames[0].pts, frames[1].pts);
        // Live, and without latency of its own (buffers are stamped when they arrive).
        GstQuery* latency = gst_query_new_latency();
        ASSERT_TRUE(gst_element_query(p.Source(), latency));
        gboolean live = FALSE;
        GstClockTime least = GST_CLOCK_TIME_NONE;
        gst_query_parse_latency(latency, &live, &least, nullptr);
        EXPECT_TRUE(live);
        EXPECT_EQ(least, 0u);
        gst_query_unref(latency);
    }
}

TEST(PellixSrcTest, RowsThatAreNotWholeWordsKeepTheirPixels)
{
    // 75 pixels: grey rows of 75 bytes and BGR rows of 225, where the caps without a video meta
    // want 76 and 228.
    for (const bool meta : {false, true}) {
        for (const uint32_t format : {PX_FORMAT_MONO8, PX_FORMAT_RGB24}) {
            SCOPED_TRACE(std::string(meta ? "video meta, " : "no video meta, ") + std::to_string(format));
            CSimCamera camera;
            camera.Start(OneImage(75, 20, format));
            CPipeline p(std::string("pellixsrc name=src camera=127.0.0.1 num-buffers=1") + kSink, meta);
            Frame f;
            ASSERT_TRUE(p.PlayForFrame(&f));
            const int packed = 75 * int(pxgst::PixelFormatBytes(format));
            EXPECT_EQ(f.stride, meta ? packed : (packed + 3) / 4 * 4);
            EXPECT_TRUE(f.pixels == Expected(75, 20, format, 0, 0, 75, 20, f.serial));
        }
    }
}

TEST(PellixSrcTest, WindowShapesTheCaps)
{
    CSimCamera camera;
    camera.Start(OneImage(96, 64, PX_FORMAT_MONO8));
    {
        CPipeline p(std::string("pellixsrc name=src camera=127.0.0.1 roi=16,8,40,30 num-buffers=1") + kSink);
        Frame f;
        ASSERT_TRUE(p.PlayForFrame(&f));
        EXPECT_EQ(f.width, 40);
        EXPECT_EQ(f.height, 30);
        EXPECT_TRUE(f.pixels == Expected(96, 64, PX_FORMAT_MONO8, 16, 8, 40, 30, f.serial));
        EXPECT_FALSE(p.SawMessage(GST_MESSAGE_WARNING));
    }
    // A window that sticks out: the camera moves it, the element says where, and streams that.
    CPipeline p(std::string("pellixsrc name=src camera=127.0.0.1 roi=80,8,40,30 num-buffers=1") + kSink);
    ASSERT_TRUE(p.Play());
    BusMessage warning;
    ASSERT_TRUE(p.WaitMessage(GST_MESSAGE_WARNING, &warning));
    const size_t at = warning.text.find("moved the window 80,8,40,30 to ");
    ASSERT_NE(at, std::string::npos) << warning.text;
    unsigned x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(std::sscanf(warning.text.c_str() + at + 31, "%u,%u,%u,%u", &x, &y, &w, &h), 4) << warning.text;
    EXPECT_LT(x, 80u);
    Frame f;
    ASSERT_TRUE(p.WaitFrame(Any, &f));
    EXPECT_EQ(f.width, int(w));
    EXPECT_EQ(f.height, int(h));
    EXPECT_TRUE(f.pixels == Expected(96, 64, PX_FORMAT_MONO8, x, y, w, h, f.serial));
}

TEST(PellixSrcTest, ChangesMadeOnTheCameraRenegotiate)
{
    // Frames made while the element reads: a new format is announced in the one frame after the
    // change, which a reader that is not waiting then would miss.
    CSimCamera camera;
    camera.Start(OneImage(64, 48, PX_FORMAT_MONO8, 0));
    CPipeline p(std::string("pellixsrc name=src camera=127.0.0.1") + kSink);
    Frame f;
    ASSERT_TRUE(p.Play());
    ASSERT_TRUE(MakeFramesUntil(camera, p, Any, &f));
    EXPECT_EQ(f.strFormat, "GRAY8");

    // Another client changes the buffer: larger data (the library's PX_BUFFER_CHANGED), a narrower
    // window whose data still fits, and a format announced with the data.
    const uint8_t loopback[4] = {127, 0, 0, 1};
    PXHANDLE other = 0;
    ASSERT_EQ(PXClientInit(nullptr, loopback, "other", &other, PX_INFINITE, 0, 0, 0, 0), PX_OK);
    ASSERT_EQ(PXSetExchangeBuffer(other, camera.sim.BufferPort("IMG0"), "IMG0", 0, 0), PX_OK);
    const struct {
        uint32_t item, value;
        const char* caps;
        int width;
        uint32_t format;
    } steps[] = {{PX_INFO_IMAGE_FORMAT, PX_FORMAT_RGB32, "BGRx", 64, PX_FORMAT_RGB32},
                 {PX_INFO_SIZE_X, 32, "BGRx", 32, PX_FORMAT_RGB32},
                 {PX_INFO_IMAGE_FORMAT, PX_FORMAT_RGB16, "RGB15", 32, PX_FORMAT_RGB16}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.caps + std::to_string(step.width));
        ASSERT_EQ(PXSetExchangeBufferInfo(other, "IMG0", step.item, &step.value), PX_OK);
        ASSERT_TRUE(MakeFramesUntil(
            camera, p, [&](const Frame& g) { return g.strFormat == step.caps && g.width == step.width; }, &f));
        EXPECT_EQ(f.height, 48);
        EXPECT_TRUE(f.pixels == Expected(64, 48, step.format, 0, 0, step.width, 48, f.serial));
    }
    EXPECT_EQ(PXClientTerminate(other), PX_OK);
    EXPECT_FALSE(p.SawMessage(GST_MESSAGE_ERROR));
}

TEST(PellixSrcTest, FlushingAndStoppingCancelAWaitingRead)
{
    // No frames unless the test makes one, and reads without a time-out: only a cancel ends them.
    CSimCamera camera;
    camera.Start(OneImage(32, 24, PX_FORMAT_MONO8, 0));
    CPipeline p(std::string("pellixsrc name=src camera=127.0.0.1 timeout=4294967295") + kSink);
    ASSERT_TRUE(p.Play());
    ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, 10000));
    ASSERT_TRUE(gst_element_send_event(p.Source(), gst_event_new_flush_start()));
    ASSERT_TRUE(gst_element_send_event(p.Source(), gst_event_new_flush_stop(TRUE)));
    // The cancelled client is opened anew: frames flow again.
    Frame f;
    ASSERT_TRUE(MakeFramesUntil(camera, p, Any, &f));
    EXPECT_TRUE(f.pixels == Expected(32, 24, PX_FORMAT_MONO8, 0, 0, 32, 24, f.serial));

    ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, 10000));
    const auto t0 = Clock::now();
    EXPECT_EQ(p.Set(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    EXPECT_LT(Clock::now() - t0, 1s);
    EXPECT_FALSE(p.SawMessage(GST_MESSAGE_ERROR));
}

TEST(PellixSrcTest, ALostCameraOrWatchdogEndsTheStreamWithTheResultText)
{
    {
        CSimCamera camera;
        camera.Start(OneImage(32, 24, PX_FORMAT_MONO8));
        CPipeline p(std::string("pellixsrc name=src camera=127.0.0.1") + kSink);
        Frame f;
        ASSERT_TRUE(p.PlayForFrame(&f));
        camera.sim.Stop();
        BusMessage error;
        ASSERT_TRUE(p.WaitMessage(GST_MESSAGE_ERROR, &error));
        EXPECT_EQ(error.domain, GST_RESOURCE_ERROR);
        EXPECT_NE(error.text.find(PXGetResultText(PX_COMM_ERROR)), std::string::npos) << error.text;
    }
    // The camera stays, its watchdog stops: a read that times out finds the watchdog lost. The
    // element's watchdog counts the camera lost 1.5 s after the last signal; reads time out after
    // 2.5 s and give up after four time-outs that find the watchdog still alive, so the verdict is
    // in long before.
    pxsim::SimConfig config = OneImage(32, 24, PX_FORMAT_MONO8, 0);
    config.faults.dwWatchdogStopAfterMs = 100;
    CSimCamera camera;
    camera.Start(config);
    CPipeline p(std::string("pellixsrc name=src camera=127.0.0.1 timeout=2500") + kSink);
    ASSERT_TRUE(p.Play());
    BusMessage error;
    ASSERT_TRUE(p.WaitMessage(GST_MESSAGE_ERROR, &error));
    EXPECT_EQ(error.domain, GST_RESOURCE_ERROR);
    EXPECT_NE(error.text.find(PXGetResultText(PX_WATCHDOG_LOST)), std::string::npos) << error.text;
    EXPECT_EQ(p.WatchdogStatus(), PX_WATCHDOG_LOST);
}

TEST(PellixSrcTest, StartRefusesWhatItCannotStream)
{
    CSimCamera camera;
    camera.Start(simtest::TestConfig());
    const struct {
        const char* properties;
        const char* text;
    } cases[] = {
        {"camera=127.0.0.1 buffer-id=HIST", "'HIST' is a histogram buffer; pellixsrc streams image buffers only"},
        {"camera=127.0.0.1 buffer-id=NOPE", "no buffer 'NOPE' (buffers: IMG0, HIST, TEXT, ARR0, INP0)"},
        {"camera=127.0.0.1 roi=1,2,3", "roi wants X,Y,W,H"},
        {"", "no camera"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.properties);
        CPipeline p(std::string("pellixsrc name=src ") + c.properties + kSink);
        EXPECT_EQ(p.Set(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        BusMessage error;
        ASSERT_TRUE(p.WaitMessage(GST_MESSAGE_ERROR, &error));
        EXPECT_NE(error.text.find(c.text), std::string::npos) << error.text;
    }
    camera.sim.Stop();
    CPipeline p(std::string("pellixsrc name=src camera=127.0.0.1") + kSink);
    EXPECT_EQ(p.Set(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    BusMessage error;
    ASSERT_TRUE(p.WaitMessage(GST_MESSAGE_ERROR, &error));
    EXPECT_NE(error.text.find(PXGetResultText(PX_COMM_ERROR)), std::string::npos) << error.text;
}

TEST(PellixCameraTest, InfoRecordsThatDoNotAddUpAreRefused)
{
    PXBufferInfo info;
    std::memset(&info, 0, sizeof info);
    info.image.fullSizeX = 640;
    info.image.fullSizeY = 480;
    info.image.numBands = 3;
    info.image.sizeX = 320;
    info.image.sizeY = 200;
    info.image.format = PX_FORMAT_RGB24;
    info.image.dataSize = 320 * 200 * 3;
    pxgst::ImageGeometry g;
    std::string error;
    ASSERT_TRUE(pxgst::GeometryFromInfo(info, &g, &error)) << error;
    EXPECT_EQ(g.FrameBytes(), 320u * 200 * 3);
    EXPECT_EQ(g.qwRoom, 640u * 480 * 3);   // a region reply may fill the full image

    const std::function<void(PXBufferInfo&)> bad[] = {
        [](PXBufferInfo& i) { i.image.format = 77; },
        [](PXBufferInfo& i) { i.image.sizeY = 0; },
        [](PXBufferInfo& i) { i.image.sizeX = 70000; },
        [](PXBufferInfo& i) { i.image.dataSize = 320 * 200 * 3 - 1; },
        [](PXBufferInfo& i) { i.image.fullSizeX = i.image.fullSizeY = 20000; },
    };
    for (const auto& spoil : bad) {
        PXBufferInfo worse = info;
        spoil(worse);
        error.clear();
        EXPECT_FALSE(pxgst::GeometryFromInfo(worse, &g, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(PellixCameraTest, RegionRepliesBecomeWholeFrames)
{
    pxsim::SimConfig config = OneImage(48, 32, PX_FORMAT_MONO8);
    pxsim::SimBufferConfig& image = config.buffers[0];
    image.bRegionReplies = true;
    image.dwRegionX = 8;
    image.dwRegionY = 4;
    image.dwRegionW = 16;
    image.dwRegionH = 12;
    CSimCamera camera;
    camera.Start(config);
    pxgst::CPellixCamera reader;
    pxgst::CameraSettings settings;
    settings.strCamera = "127.0.0.1";
    std::string error, warning;
    ASSERT_EQ(reader.Open(settings, &error, &warning), PX_OK) << error;
    // Two frames: the first region lands in the caller's memory, the second in the kept image.
    for (int n = 0; n < 2; ++n) {
        std::vector<uint8_t> dest(reader.Geometry().qwRoom, 0xAA);
        const pxgst::ReadOutcome o = reader.Read(false, dest.data());
        ASSERT_EQ(o.dwResult, PX_OK) << o.strError;
        ASSERT_TRUE(o.bFrame);
        const std::vector<uint8_t> whole = Expected(48, 32, PX_FORMAT_MONO8, 0, 0, 48, 32, o.qwSerial);
        for (uint32_t y = 0; y < 32; ++y) {
            for (uint32_t x = 0; x < 48; ++x) {
                const bool inside = x >= 8 && x < 24 && y >= 4 && y < 16;
                ASSERT_EQ(dest[y * 48 + x], inside ? whole[y * 48 + x] : 0) << "frame " << n << " at " << x << "," << y;
            }
        }
    }
}
