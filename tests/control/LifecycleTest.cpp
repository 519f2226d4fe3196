// The control's lifecycle against the simulated camera in this process: the state table, the
// geometry negotiation, the update thread with its events, the geometry changed by another client,
// the lost camera, agent mode, synchronous delivery, input, text and array buffers, and the GDI
// picture. The control's window is the test's (TestWindow.h); its messages are pumped by the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "TestWindow.h"
#include "client/LibraryInternal.h"
#include "control/ControlText.h"
#include "control/ControlTiming.h"
#include "control/PellixControl.h"
#include "control/Variant.h"
#include "sim/KelvoSim.h"
#include "sim/SimPattern.h"

using namespace pxcontrol;
using controltest::CTestWindow;

namespace {

const uint8_t kLoopback[4] = {127, 0, 0, 1};

// What the default camera's image buffer sends in a frame: 640 x 480 grey.
std::vector<uint8_t> SimImage(uint64_t frame)
{
    pxsim::SimGeometry g;
    g.dwFullSizeX = g.dwSizeX = 640;
    g.dwFullSizeY = g.dwSizeY = 480;
    g.dwPixelFormat = PX_FORMAT_MONO8;
    std::vector<uint8_t> image(640 * 480);
    pxsim::SimRenderImage(g, frame, image.data());
    return image;
}

class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LibraryTiming library;
        library.client.dwGoodbyeSleepMs = 0;
        library.channel = AgentChannelTiming{2000, 20};
        PellixSetTimingForTests(library);
        ControlTiming timing;
        timing.dwStopSettleMs = 0;
        // A Stop that comes between two reads finds no read to hurry and cancels the transfers
        // after this wait.
        timing.dwUpdateEndMs = 300;
        timing.dwUpdateCancelledEndMs = timing.dwListEndMs = 10000;
        timing.dwSendTimeoutMs = 100;
        timing.dwIdleMs = 5;
        timing.dwListIdleMs = 50;
        SetControlTimingForTests(timing);
    }
    void TearDown() override
    {
        m_control.reset();
        m_sim.Stop();
        unlink(m_config.c_str());
    }

    // The simulator of the default camera (or of config) on free ports, making frames on demand,
    // and a control of a width x height window pointed at it.
    void StartCamera(pxsim::SimConfig config = pxsim::DefaultSimConfig(), int32_t width = 320, int32_t height = 240)
    {
        config.usPublishPort = config.usWatchdogPort = config.usMessagePort = config.usFirstBufferPort = 0;
        config.dwFrameIntervalMs = 0;
        ASSERT_EQ(m_sim.Start(config), 0);
        std::ofstream(m_config) << m_sim.ClientConfigText() << m_extraConfig;
        setenv("VISTEL_CONFIG", m_config.c_str(), 1);
        m_window = std::make_unique<CTestWindow>(width, height);
        m_control = std::make_unique<CPellixControl>(m_window.get());
        m_window->Attach(m_control.get());
    }
    void PointAt(const char* id)
    {
        m_control->put_ServerAddress("127.0.0.1");
        m_control->put_Port(m_sim.BufferPort(id));
        m_control->put_BufferId(id);
    }
    uint32_t Start()
    {
        uint32_t r = 0xFFFF;
        m_control->Start(&r);
        return r;
    }
    // Stop, then the window takes what the stream had still posted (while stopping, which a
    // control ignores), as a window would before the next Start.
    uint32_t Stop()
    {
        uint32_t r = 0xFFFF;
        m_control->Stop(&r);
        m_window->PumpUntil([] { return false; }, 0);
        return r;
    }
    template <class F>
    uint32_t Value(F getter)
    {
        uint32_t v = 0xFFFF;
        (m_control.get()->*getter)(&v);
        return v;
    }
    std::string Text(HRESULT (CPellixControl::*getter)(BSTR*))
    {
        BSTR text = nullptr;
        (m_control.get()->*getter)(&text);
        std::string s = text ? text : "(null)";
        free(text);
        return s;
    }
    // The next frame, once the control waits for it, and its image event.
    void NextImage()
    {
        const size_t seen = m_window->CountEvents(PXEVENT_OnImageReceived);
        ASSERT_TRUE(m_sim.WaitForWaitingRequests(1, 10000));
        m_sim.ProduceFrame();
        ASSERT_TRUE(m_window->PumpUntil([&] { return m_window->CountEvents(PXEVENT_OnImageReceived) > seen; }));
    }
    bool Pump(const std::function<bool()>& pred) { return m_window->PumpUntil(pred); }

    std::string m_config = "/tmp/pellix-control-" + std::to_string(getpid()) + ".conf";
    std::string m_extraConfig;
    pxsim::CKelvoSim m_sim;
    std::unique_ptr<CTestWindow> m_window;
    std::unique_ptr<CPellixControl> m_control;
};

} // namespace

TEST_F(LifecycleTest, StartAndStopFollowTheStateTable)
{
    StartCamera();
    EXPECT_EQ(Stop(), 0u); // stopped already

    // Port 0: the client only.
    PointAt("IMG0");
    m_control->put_Port(0);
    EXPECT_EQ(Start(), 0u);
    EXPECT_EQ(Value(&CPellixControl::GetConnected), 0u);
    EXPECT_NE(Value(&CPellixControl::GetClientID), 0u);
    EXPECT_EQ(Stop(), 0u);
    EXPECT_EQ(Value(&CPellixControl::GetClientID), 0u);

    PointAt("IMG0");
    ASSERT_EQ(Start(), 0u);
    const uint32_t client = Value(&CPellixControl::GetClientID);
    EXPECT_EQ(Value(&CPellixControl::GetConnected), 1u);
    EXPECT_EQ(Value(&CPellixControl::GetBufferType), 1u);
    EXPECT_EQ(Value(&CPellixControl::GetFullSizeX), 640u);
    EXPECT_EQ(Value(&CPellixControl::GetFullSizeBand), 1u);
    EXPECT_EQ(Value(&CPellixControl::GetBufferAttribute), PX_FORMAT_MONO8);
    EXPECT_EQ(Text(&CPellixControl::GetErrorMessage), "Success");
    EXPECT_EQ(Start(), 0u); // started already: nothing changes
    EXPECT_EQ(Value(&CPellixControl::GetClientID), client);
    ASSERT_EQ(m_window->Timers().size(), 1u);
    EXPECT_EQ(m_window->Timers()[0], std::make_pair(123u, 2000u));

    EXPECT_EQ(Stop(), 0u);
    EXPECT_EQ(m_window->KilledTimers(), std::vector<uint32_t>{123u});
    EXPECT_EQ(Value(&CPellixControl::GetConnected), 0u);
    EXPECT_EQ(Value(&CPellixControl::GetBufferType), 0u);
    EXPECT_EQ(Text(&CPellixControl::get_ServerAddress), "0.0.0.0"); // to be set again

    // No server: the subscription fails; the control counts as connected, with its error, until
    // Stop, whose termination gives the result.
    m_control->put_Port(m_sim.BufferPort("IMG0"));
    m_control->put_BufferId("IMG0");
    EXPECT_EQ(Start(), PX_COMM_ERROR);
    EXPECT_EQ(Value(&CPellixControl::GetConnected), 1u);
    EXPECT_EQ(Text(&CPellixControl::GetErrorMessage), "ERROR: Lost communication with server.");
    EXPECT_EQ(Stop(), 0u);
}

TEST_F(LifecycleTest, GeometryIsNegotiatedPerField)
{
    const struct {
        uint32_t sizeX, sizeY, offsetX, offsetY, subsection;
        uint32_t newSizeX, newSizeY, newOffsetX, newOffsetY, newSubsection;
    } cases[] = {
        {0, 0, 0, 0, 1, 640, 480, 0, 0, 1},           // everything from the camera
        {320, 240, 100, 50, 1, 320, 240, 100, 50, 1}, // everything asked for
        {320, 240, 400, 300, 0, 320, 240, 0, 0, 0},   // offsets past the image: the camera's
        {700, 480, 0, 0, 9, 640, 480, 0, 0, 1},       // a size not below the full size, an unknown mode
    };
    for (const auto& c : cases) {
        StartCamera();
        PointAt("IMG0");
        m_control->put_BufferSizeX(c.sizeX);
        m_control->put_BufferSizeY(c.sizeY);
        m_control->put_BufferOffsetX(c.offsetX);
        m_control->put_BufferOffsetY(c.offsetY);
        m_control->put_Subsection(c.subsection);
        ASSERT_EQ(Start(), 0u);
        EXPECT_EQ(Value(&CPellixControl::GetNewBufferSizeX), c.newSizeX) << c.sizeX;
        EXPECT_EQ(Value(&CPellixControl::GetNewBufferSizeY), c.newSizeY) << c.sizeY;
        EXPECT_EQ(Value(&CPellixControl::GetNewBufferOffsetX), c.newOffsetX) << c.offsetX;
        EXPECT_EQ(Value(&CPellixControl::GetNewBufferOffsetY), c.newOffsetY) << c.offsetY;
        EXPECT_EQ(Value(&CPellixControl::GetNewSubsection), c.newSubsection) << c.subsection;
        EXPECT_EQ(Value(&CPellixControl::get_BufferSizeX), c.newSizeX);
        Stop();
        // Stop forgets what was asked for: the next Start asks for the whole image.
        EXPECT_EQ(Value(&CPellixControl::get_Subsection), 0u);
        m_control.reset();
        m_sim.Stop();
    }

    // Other buffer types read their sizes.
    StartCamera();
    PointAt("TEXT");
    ASSERT_EQ(Start(), 0u);
    EXPECT_EQ(Value(&CPellixControl::GetBufferType), PX_BUFTYPE_TEXT);
    EXPECT_EQ(Value(&CPellixControl::GetBufferSize), 128u); // 64 UTF-16 characters
    EXPECT_EQ(Value(&CPellixControl::GetBufferAttribute), 0u);
}

TEST_F(LifecycleTest, ImagesArriveWithTheirEventsInOrder)
{
    StartCamera();
    PointAt("IMG0");
    ASSERT_EQ(Start(), 0u);
    ASSERT_TRUE(Pump([&] { return m_window->CountEvents(PXEVENT_OnImageReceived) == 1; }));
    NextImage();
    NextImage();
    const std::vector<controltest::SEvent> events = m_window->Events();
    ASSERT_EQ(events.size(), 6u);
    const std::string name = "0100007F:Unknown:" + std::to_string(m_sim.BufferPort("IMG0")) + ":IMG0:1";
    for (size_t i = 0; i < events.size(); i += 2) {
        EXPECT_EQ(events[i].dispid, PXEVENT_OnDataReceive);
        EXPECT_EQ(events[i].text, name);
        EXPECT_EQ(events[i + 1].dispid, PXEVENT_OnImageReceived);
    }
    // During each image event the data lock was held and the addresses were answered.
    for (uint64_t p : m_window->PointersDuringImageEvents())
        EXPECT_NE(p, 0u);
    uint64_t data = 1, header = 1;
    m_control->GetBufferDataPtr(&data);
    EXPECT_EQ(data, 0u); // not locked

    m_control->LockDataPtr();
    m_control->GetBufferDataPtr(&data);
    m_control->GetBufferDIBHeaderPtr(&header);
    ASSERT_NE(data, 0u);
    const auto* h = reinterpret_cast<const raster::BITMAPINFOHEADER*>(header);
    EXPECT_EQ(h->biSize, 40u);
    EXPECT_EQ(h->biWidth, 640);
    EXPECT_EQ(h->biHeight, -480);
    EXPECT_EQ(h->biBitCount, 8);
    EXPECT_EQ(h->biClrUsed, 256u);
    const uint32_t serial = Value(&CPellixControl::get_SerialCounter);
    EXPECT_EQ(serial, 2u);
    EXPECT_EQ(memcmp(reinterpret_cast<const uint8_t*>(data), SimImage(serial).data(), 640 * 480), 0);
    m_control->UnlockDataPtr();
    EXPECT_EQ(Stop(), 0u);
}

TEST_F(LifecycleTest, FrameRateCountsTheFramesBetweenTimerTicks)
{
    StartCamera();
    PointAt("IMG0");
    ASSERT_EQ(Start(), 0u);
    float rate = -1;
    EXPECT_TRUE(m_control->OnWindowMessage(WM_TIMER, kFrameRateTimerId, 0));
    m_control->GetDisplayRate(&rate);
    EXPECT_EQ(rate, 0.0f); // no earlier tick
    ASSERT_TRUE(Pump([&] { return m_window->CountEvents(PXEVENT_OnImageReceived) == 1; }));
    NextImage();
    EXPECT_TRUE(m_control->OnWindowMessage(WM_TIMER, 7, 0)); // another timer: consumed, not counted
    m_control->GetDisplayRate(&rate);
    EXPECT_EQ(rate, 0.0f);
    m_control->OnWindowMessage(WM_TIMER, kFrameRateTimerId, 0);
    m_control->GetDisplayRate(&rate);
    EXPECT_GT(rate, 0.0f);
    m_control->OnWindowMessage(WM_TIMER, kFrameRateTimerId, 0); // the count was reset
    m_control->GetDisplayRate(&rate);
    EXPECT_EQ(rate, 0.0f);
}

TEST_F(LifecycleTest, AGrownWindowFromAnotherClientIsANewGeometry)
{
    StartCamera();
    PointAt("IMG0");
    m_control->put_BufferSizeX(320);
    m_control->put_BufferSizeY(240);
    ASSERT_EQ(Start(), 0u);
    ASSERT_TRUE(Pump([&] { return m_window->CountEvents(PXEVENT_OnImageReceived) == 1; }));

    // Another client asks the camera for the whole image: the control's data no longer fits.
    PXHANDLE other = 0;
    ASSERT_EQ(PXClientInit(nullptr, kLoopback, "other", &other, PX_INFINITE, 0, 0, 0, 1), PX_OK);
    ASSERT_EQ(PXSetExchangeBuffer(other, m_sim.BufferPort("IMG0"), "IMG0", 1, 0), PX_OK);
    uint32_t full = 640;
    ASSERT_EQ(PXSetExchangeBufferInfo(other, "IMG0", PX_INFO_SIZE_X, &full), PX_OK);
    full = 480;
    ASSERT_EQ(PXSetExchangeBufferInfo(other, "IMG0", PX_INFO_SIZE_Y, &full), PX_OK);
    m_sim.ProduceFrame();
    ASSERT_TRUE(Pump([&] { return Value(&CPellixControl::get_BufferSizeX) == 640; }));
    NextImage();
    EXPECT_EQ(Value(&CPellixControl::get_BufferSizeY), 480u);
    EXPECT_EQ(Text(&CPellixControl::GetErrorMessage), "Success");
    uint64_t header = 0;
    m_control->LockDataPtr();
    m_control->GetBufferDIBHeaderPtr(&header);
    ASSERT_NE(header, 0u);
    EXPECT_EQ(reinterpret_cast<const raster::BITMAPINFOHEADER*>(header)->biWidth, 640);
    m_control->UnlockDataPtr();
    PXClientTerminate(other);
}

TEST_F(LifecycleTest, ALostCameraLeavesTheControlSilentWithItsError)
{
    StartCamera();
    PointAt("IMG0");
    ASSERT_EQ(Start(), 0u);
    ASSERT_TRUE(Pump([&] { return m_window->CountEvents(PXEVENT_OnImageReceived) == 1; }));
    m_sim.Stop();
    ASSERT_TRUE(Pump([&] { return Text(&CPellixControl::GetErrorMessage) == "ERROR: Lost communication with server."; }));
    EXPECT_EQ(Value(&CPellixControl::GetBufferType), 0u); // not streaming
    EXPECT_EQ(Value(&CPellixControl::GetConnected), 1u);
    // The picture is the error text, black on white, instead of the last image.
    ASSERT_TRUE(Pump([&] {
        const std::vector<uint8_t> p = m_window->Paint();
        size_t white = 0, black = 0;
        for (size_t i = 0; i < p.size(); i += 4) {
            white += p[i] == 255 && p[i + 1] == 255 && p[i + 2] == 255;
            black += p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 0;
        }
        return black > 20 && white + black > p.size() / 4 * 9 / 10;
    }));
    Stop();
}

TEST_F(LifecycleTest, AgentModeFollowsTheBufferList)
{
    StartCamera();
    m_control->put_ServerAddress("127.0.0.1");
    m_control->put_Agent(1);
    m_control->put_BufferListUpdatePeriod(50);
    ASSERT_EQ(Start(), 0u);
    EXPECT_EQ(Value(&CPellixControl::GetConnected), 0u);
    std::string expected;
    for (const char* id : {"IMG0", "HIST", "TEXT", "ARR0", "INP0"}) {
        const auto buffer = m_sim.FindBuffer(px::agent::BufferId::FromText(id));
        expected += "kelvo-agent:" + buffer->Config().strComment + ":" + std::to_string(m_sim.BufferPort(id)) + ":" +
                    id + ":" + std::to_string(buffer->Type()) + ";";
    }
    auto lastList = [&] {
        std::string text;
        for (const auto& e : m_window->Events())
            if (e.dispid == PXEVENT_OnListUpdate)
                text = e.text;
        return text;
    };
    ASSERT_TRUE(Pump([&] { return lastList() == expected; }));

    // More than 512 bytes of list: the text grows and keeps what it had.
    pxsim::SimBufferConfig extra;
    extra.dwType = PX_BUFTYPE_TEXT;
    extra.strComment = std::string(240, 'c');
    for (const char* id : {"EXT1", "EXT2"}) {
        extra.id = px::agent::BufferId::FromText(id);
        uint16_t port = 0;
        ASSERT_EQ(m_sim.AddBuffer(extra, &port), 0);
        expected += "kelvo-agent:" + extra.strComment + ":" + std::to_string(port) + ":" + id + ":5;";
    }
    ASSERT_TRUE(Pump([&] { return lastList() == expected; }));
    EXPECT_GT(expected.size(), 512u);
    EXPECT_EQ(Text(&CPellixControl::GetBufferList), expected);

    m_control->DisplayVariables();
    const std::vector<std::string> boxes = m_window->Boxes();
    ASSERT_EQ(boxes.size(), 8u);
    EXPECT_EQ(boxes[0], "Vistel ActiveX: There are 7 buffers available");
    EXPECT_EQ(boxes[1], "Vistel ActiveX: Buffer 0 : Name: IMG0 , Type: 1 , ProcessName: kelvo-agent , Port: " +
                            std::to_string(m_sim.BufferPort("IMG0")));
    EXPECT_EQ(Stop(), 0u);
}

TEST_F(LifecycleTest, SynchronousDeliveryWaitsForTheWindowUntilStop)
{
    pxsim::SimConfig config = pxsim::DefaultSimConfig();
    config.buffers[0].bSyncDelivery = true;
    StartCamera(config);
    PointAt("IMG0");
    m_window->RefuseSends(true);
    ASSERT_EQ(Start(), 0u);
    // A window that does not answer: the data message is sent again and again.
    ASSERT_TRUE(Pump([&] { return m_window->SendAttempts() >= 3; }));
    EXPECT_EQ(m_window->CountEvents(PXEVENT_OnImageReceived), 0u);
    EXPECT_EQ(Stop(), 0u);

    // A window that answers gets each image before the next is read.
    m_window->RefuseSends(false);
    PointAt("IMG0");
    ASSERT_EQ(Start(), 0u);
    ASSERT_TRUE(Pump([&] { return m_window->CountEvents(PXEVENT_OnImageReceived) == 1; }));
    NextImage();
    EXPECT_EQ(Stop(), 0u);
}

TEST_F(LifecycleTest, InputIsSentOnlyToAnInputBuffer)
{
    StartCamera();
    PointAt("IMG0");
    ASSERT_EQ(Start(), 0u);
    uint32_t r = 0xFFFF;
    m_control->SendInput(1, &r); // an image buffer: nothing is sent
    EXPECT_EQ(r, 0u);
    Stop();

    PointAt("INP0");
    ASSERT_EQ(Start(), 0u);
    EXPECT_EQ(Value(&CPellixControl::GetBufferType), PX_BUFTYPE_INPUT);
    m_control->SendInput(0x04030201, &r);
    EXPECT_EQ(r, 0u);
    m_control->SendInputString("abc", &r);
    m_control->SendInputWString("abc", &r);
    PXVariant items[2] = {VariantOfI4(1), VariantOfR4(2.0f)};
    items[0].vt = PX_VT_R8;
    items[0].v.dblVal = 1.5;
    PXVariant array{};
    array.vt = PX_VT_ARRAY | PX_VT_VARIANT;
    array.v.array.items = items;
    array.v.array.count = 1;
    m_control->SendInputArray(array, &r);
    EXPECT_EQ(r, 0u);
    array.v.array.count = 2; // mixed types
    m_control->SendInputArray(array, &r);
    EXPECT_EQ(r, PX_ERROR);
    EXPECT_EQ(Text(&CPellixControl::GetErrorMessage), "Success"); // left as it was

    std::vector<uint8_t> packed = {5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const double value = 1.5;
    memcpy(packed.data() + 8, &value, 8);
    const std::vector<std::vector<uint8_t>> expected = {
        {1, 2, 3, 4}, {'a', 'b', 'c'}, {'a', 0, 'b', 0, 'c', 0}, packed};
    // A request with a reply on the same connection: the camera has taken every input before it.
    Value(&CPellixControl::GetNumberOfClient);
    EXPECT_EQ(m_sim.Inputs("INP0"), expected);
    // No data lock on an input buffer.
    m_control->LockDataPtr();
    uint64_t data = 1;
    m_control->GetBufferDataPtr(&data);
    EXPECT_EQ(data, 0u);
    EXPECT_EQ(Stop(), 0u);
}

TEST_F(LifecycleTest, TextAndArrayBuffersFireTheirEvents)
{
    pxsim::SimConfig config = pxsim::DefaultSimConfig();
    config.buffers[3].dwArrayType = pxsim::SIM_VT_I2;
    config.buffers[3].dwArrayCount = 3;
    StartCamera(config);
    PointAt("TEXT");
    ASSERT_EQ(Start(), 0u);
    ASSERT_TRUE(Pump([&] { return m_window->CountEvents(PXEVENT_OnTextReceived) == 1; }));
    const uint32_t serial = Value(&CPellixControl::get_SerialCounter);
    EXPECT_EQ(m_window->Events().back().text, "Kelvo TEXT frame " + std::to_string(serial));
    Stop();

    PointAt("ARR0");
    ASSERT_EQ(Start(), 0u);
    ASSERT_TRUE(Pump([&] { return m_window->CountEvents(PXEVENT_OnArrayReceived) == 1; }));
    const controltest::SEvent e = m_window->Events().back();
    const double frame = Value(&CPellixControl::get_SerialCounter);
    EXPECT_EQ(e.elementType, PX_VT_I2);
    EXPECT_EQ(e.numbers, (std::vector<double>{frame, frame + 1, frame + 2}));
    EXPECT_EQ(Stop(), 0u);
}

TEST_F(LifecycleTest, ThePictureIsTheImageStretchedToTheWindow)
{
    StartCamera();
    const std::vector<uint8_t> blank = m_window->Paint();
    for (size_t i = 0; i < blank.size(); i += 4)
        ASSERT_TRUE(blank[i] == 255 && blank[i + 1] == 255 && blank[i + 2] == 255); // not started: white
    PointAt("IMG0");
    ASSERT_EQ(Start(), 0u);
    ASSERT_TRUE(Pump([&] { return m_window->CountEvents(PXEVENT_OnImageReceived) == 1; }));
    NextImage();
    // 640 x 480 into 320 x 240: window pixel (x, y) shows image pixel (2x + 1, 2y + 1).
    const uint32_t serial = Value(&CPellixControl::get_SerialCounter);
    const std::vector<uint8_t> image = SimImage(serial);
    auto shows = [&](uint64_t) {
        const std::vector<uint8_t> p = m_window->Paint();
        for (uint32_t y = 0; y < 240; y += 3) {
            for (uint32_t x = 0; x < 320; x += 3) {
                const uint8_t g = image[(2 * y + 1) * 640 + 2 * x + 1];
                const uint8_t* px = &p[(y * 320 + x) * 4];
                if (px[0] != g || px[1] != g || px[2] != g)
                    return false;
            }
        }
        return true;
    };
    ASSERT_TRUE(Pump([&] { return shows(serial); }));

    // A frame rate above 0 is written in its corner, black on white.
    m_control->put_FPSCorner(3);
    m_control->OnWindowMessage(WM_TIMER, kFrameRateTimerId, 0);
    NextImage();
    m_control->OnWindowMessage(WM_TIMER, kFrameRateTimerId, 0);
    NextImage();
    ASSERT_TRUE(Pump([&] {
        const std::vector<uint8_t> p = m_window->Paint();
        const std::vector<uint8_t> now = SimImage(Value(&CPellixControl::get_SerialCounter));
        size_t black = 0, other = 0;
        for (int y = 0; y < 240; ++y) {
            for (int x = 0; x < 320; ++x) {
                const uint8_t* px = &p[(y * 320 + x) * 4];
                const uint8_t g = now[(2 * y + 1) * 640 + 2 * x + 1];
                if (px[0] == g && px[1] == g && px[2] == g)
                    continue;
                const bool inBox = x >= 250 && x < 315 && y >= 215 && y < 235;
                const bool text = (px[0] == 0 || px[0] == 255) && px[0] == px[1] && px[1] == px[2];
                black += inBox && text && px[0] == 0;
                other += !inBox || !text;
            }
        }
        return black > 10 && other == 0;
    }));
    EXPECT_EQ(Stop(), 0u);
}

TEST_F(LifecycleTest, MessagesAreNotConsumedWhileStopping)
{
    StartCamera();
    EXPECT_TRUE(m_control->OnWindowMessage(WM_ERASEBKGND, 0, 0));
    EXPECT_TRUE(m_control->OnWindowMessage(WM_SIZE, 0, 0));
    EXPECT_FALSE(m_control->OnWindowMessage(WM_MOUSEMOVE, 0, 0));
    EXPECT_FALSE(m_control->OnWindowMessage(0x0400, 0, 0));
    PointAt("IMG0");
    ASSERT_EQ(Start(), 0u);
    EXPECT_TRUE(m_control->OnWindowMessage(WM_DESTROY, 0, 0)); // stops
    EXPECT_EQ(Value(&CPellixControl::GetConnected), 0u);
    EXPECT_FALSE(m_control->OnWindowMessage(WM_ERASEBKGND, 0, 0));
    EXPECT_FALSE(m_control->OnWindowMessage(kDataMessage, 0, 0));
    PointAt("IMG0");
    ASSERT_EQ(Start(), 0u);
    EXPECT_TRUE(m_control->OnWindowMessage(WM_ERASEBKGND, 0, 0));
    m_control->DisplayVariables();
    ASSERT_EQ(m_window->Boxes().size(), 1u);
    EXPECT_EQ(m_window->Boxes()[0].rfind("Vistel ActiveX: m_byServerIP = 127.0.0.1\nm_usPort = ", 0), 0u);
    EXPECT_LE(m_window->Boxes()[0].size(), strlen("Vistel ActiveX: ") + 250);
}
