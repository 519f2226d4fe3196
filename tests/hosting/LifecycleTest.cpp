// The control's life end to end against kelvo-sim in this process: the automatic start and its
// failures, Start and Stop in every order, a lost camera, a geometry change made on the camera's
// side by another client, synchronous delivery and a Stop that meets it, and agent mode following
// the camera's buffer list.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "ControlTestUtil.h"
#include "pellix/pellix.h"

namespace {

using namespace pxtest;

std::string CallText(CHeadlessHost& host, const char* member)
{
    HostValue v;
    host.Call(member, {}, &v);
    return v.strText;
}

TEST(ControlLife, AutomaticStartStreamsUntilTheWindowIsDestroyed)
{
    CSimCamera camera(ImageCamera(32, 24, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(32, 24));
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    EXPECT_EQ(CallInt(host, "GetConnected"), 1);
    EXPECT_EQ(CallText(host, "GetErrorMessage"), "Success");
    EXPECT_EQ(camera.sim.Subscribers("IMG0"), 1u);
    EXPECT_EQ(camera.sim.LastSubscription("IMG0").strClientName, "Unknown");
    EXPECT_NE(CallInt(host, "GetClientID"), 0);
    uint32_t period = 0;
    EXPECT_TRUE(host.TimerSet(PX_FPS_TIMER_ID, &period));
    EXPECT_EQ(period, 2000u);
    // The control consumes what it handles and leaves the rest to the window.
    EXPECT_EQ(host.WindowMessage(PX_WM_ERASEBKGND, 0, 0), 1);
    EXPECT_EQ(host.WindowMessage(PX_WM_MOUSEMOVE, 0, PX_MOUSE_LPARAM(3, 4)), 0);
    EXPECT_EQ(host.WindowMessage(0x0100 /* a key */, 0, 0), 0);
    EXPECT_EQ(host.WindowMessage(PX_WM_TIMER, PX_FPS_TIMER_ID, 0), 1);

    host.DestroyWindow();
    EXPECT_FALSE(host.TimerSet(PX_FPS_TIMER_ID));
    EXPECT_EQ(CallInt(host, "GetConnected"), 0);
    EXPECT_EQ(camera.sim.Subscribers("IMG0"), 0u);
    EXPECT_EQ(host.Get("ServerAddress").strText, "0.0.0.0") << "Stop forgets the server";
    EXPECT_EQ(host.CountEvents(PXEVENT_OnError), 0u);
}

TEST(ControlLife, StartAndStopInEveryOrder)
{
    CSimCamera camera(ImageCamera(32, 24, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(32, 24));
    ASSERT_EQ(host.Put("ManualStart", HostValue::I4(1)), PX_S_OK);
    AimAt(host, camera, "IMG0");
    ASSERT_EQ(host.Put("ClientName", HostValue::Text("viewer 1")), PX_S_OK);
    host.CreateWindow();
    EXPECT_EQ(CallInt(host, "GetConnected"), 0) << "ManualStart: the window does not start the control";
    EXPECT_EQ(camera.sim.ConnectionsAccepted(), 0u);
    EXPECT_EQ(CallInt(host, "Stop"), 0) << "Stop on a stopped control";

    EXPECT_EQ(CallInt(host, "Start"), 0);
    ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnImageReceived, 1, kWait));
    const uint32_t accepted = camera.sim.ConnectionsAccepted();
    EXPECT_EQ(CallInt(host, "Start"), 0) << "a second Start";
    EXPECT_EQ(camera.sim.ConnectionsAccepted(), accepted) << "changes nothing";
    EXPECT_EQ(camera.sim.LastSubscription("IMG0").strClientName, "viewer 1");
    EXPECT_EQ(camera.sim.LastSubscription("IMG0").dwWaitForUpdate, 1u);
    host.Call("DisplayVariables");
    ASSERT_EQ(host.MessageBoxes().size(), 1u);
    EXPECT_EQ(host.MessageBoxes()[0].strText.rfind("m_byServerIP = 127.0.0.1\nm_usPort = ", 0), 0u);
    EXPECT_LE(host.MessageBoxes()[0].strText.size(), 250u);
    EXPECT_EQ(CallInt(host, "Stop"), 0);
    EXPECT_EQ(host.WindowMessage(PX_WM_ERASEBKGND, 0, 0), 0) << "not consumed from Stop to the next Start";
    EXPECT_EQ(CallInt(host, "Stop"), 0);
    EXPECT_EQ(CallInt(host, "GetConnected"), 0);

    // Port 0 or an empty buffer identifier: the client is made, nothing is subscribed, the
    // control is not connected.
    for (const auto& [property, value] :
         {std::pair{"Port", HostValue::I4(0)}, std::pair{"BufferId", HostValue::Text("")}}) {
        AimAt(host, camera, "IMG0");
        ASSERT_EQ(host.Put(property, value), PX_S_OK);
        EXPECT_EQ(CallInt(host, "Start"), 0) << property;
        EXPECT_EQ(CallInt(host, "GetConnected"), 0) << property;
        EXPECT_NE(CallInt(host, "GetClientID"), 0) << property;
        EXPECT_EQ(camera.sim.Subscribers("IMG0"), 0u) << property;
        EXPECT_EQ(CallInt(host, "Stop"), 0);
    }

    // Stop forgot the server: the next Start has none and fails to subscribe; the control is
    // connected in the failed state, silent, its getters 0, until Stop.
    ASSERT_EQ(host.Put("BufferId", HostValue::Text("IMG0")), PX_S_OK);
    ASSERT_EQ(host.Put("Port", HostValue::I4(camera.Port("IMG0"))), PX_S_OK);
    const int64_t failed = CallInt(host, "Start");
    EXPECT_NE(failed, 0);
    EXPECT_EQ(CallInt(host, "GetConnected"), 1);
    EXPECT_EQ(CallInt(host, "GetBufferType"), 0);
    EXPECT_EQ(CallInt(host, "GetNumberOfClient"), 3000);
    EXPECT_NE(CallText(host, "GetErrorMessage"), "Success");
    EXPECT_EQ(CallInt(host, "Stop"), 0);
    EXPECT_EQ(CallText(host, "GetErrorMessage"), "") << "not connected";
}

// What the host asked for before Start against what the camera has: each size, offset and the
// subsection mode is set on the camera when it fits, else taken from it.
TEST(ControlLife, GeometryIsNegotiatedFieldByField)
{
    const struct {
        int32_t sizeX, sizeY, offsetX, offsetY, subsection;
        int64_t newSizeX, newSizeY, newOffsetX, newOffsetY, newSubsection;
    } cases[] = {
        {0, 0, 0, 0, 1, 64, 48, 0, 0, 1},         // everything from the camera
        {32, 24, 10, 5, 1, 32, 24, 10, 5, 1},     // everything asked for
        {32, 24, 40, 30, 0, 32, 24, 0, 0, 0},     // offsets past the image: the camera's
        {70, 48, 0, 0, 9, 64, 48, 0, 0, 1},       // sizes not below the full size, an unknown mode
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sizeX);
        CSimCamera camera(ImageCamera(64, 48, PX_FORMAT_MONO8));
        ASSERT_TRUE(camera.Started());
        CHeadlessHost host(Window(32, 24));
        const std::pair<const char*, int32_t> asked[] = {{"BufferSizeX", c.sizeX}, {"BufferSizeY", c.sizeY},
                                                         {"BufferOffsetX", c.offsetX}, {"BufferOffsetY", c.offsetY},
                                                         {"Subsection", c.subsection}};
        for (const auto& a : asked)
            ASSERT_EQ(host.Put(a.first, HostValue::I4(a.second)), PX_S_OK);
        ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
        EXPECT_EQ(CallInt(host, "GetNewBufferSizeX"), c.newSizeX);
        EXPECT_EQ(CallInt(host, "GetNewBufferSizeY"), c.newSizeY);
        EXPECT_EQ(CallInt(host, "GetNewBufferOffsetX"), c.newOffsetX);
        EXPECT_EQ(CallInt(host, "GetNewBufferOffsetY"), c.newOffsetY);
        EXPECT_EQ(CallInt(host, "GetNewSubsection"), c.newSubsection);
        EXPECT_EQ(host.Get("BufferSizeX").Int(), c.newSizeX);
    }
}

// A failing automatic start fires OnError with the code and its text: no server at all; an agent
// (asked through the client of another control in agent mode) that answers that the buffer's
// resources are not available; a buffer that is not published (the agent's own result, any other
// code).
TEST(ControlLife, AutomaticStartFailuresFireOnError)
{
    CSimCamera camera(ImageCamera(32, 24, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost agent(Window(32, 24));
    agent.Put("Agent", HostValue::I4(1));
    agent.Put("ServerAddress", HostValue::Text("127.0.0.1"));
    agent.CreateWindow();
    ASSERT_EQ(agent.CountEvents(PXEVENT_OnError), 0u);
    const int64_t agentId = CallInt(agent, "GetClientID");
    ASSERT_NE(agentId, 0);
    const struct {
        bool bServer, bNoResources;
        const char* buffer;
        int64_t code;   // 0: any but 3000 and 2090
        const char *text, *errorMessage;
    } cases[] = {
        {false, false, "IMG0", 3000, "Timeout. Connection lost with server", nullptr},
        {true, true, "IMG0", 2090, "Not enough resources to create client", "ERROR: Unknown error occured."},
        {true, false, "NONE", 0, "Unknown error", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        pxsim::SimFaults faults;
        faults.bResourceCheckZero = c.bNoResources;
        camera.sim.SetFaults(faults);
        CHeadlessHost host(Window(32, 24));
        AimAt(host, camera, "IMG0");
        host.Put("BufferId", HostValue::Text(c.buffer));
        if (!c.bServer)
            host.Put("ServerAddress", HostValue::Text("0.0.0.0"));
        if (c.bNoResources)
            host.Put("LinkedAgentID", HostValue::I4(static_cast<int32_t>(agentId)));
        host.CreateWindow();
        std::vector<pxhost::RecordedEvent> events = host.Events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].dispid, PXEVENT_OnError);
        ASSERT_EQ(events[0].args.size(), 2u);
        EXPECT_EQ(events[0].args[0].vt, PX_VT_I4);
        if (c.code != 0) {
            EXPECT_EQ(events[0].args[0].Int(), c.code);
        } else {
            EXPECT_NE(events[0].args[0].Int(), 0);
            EXPECT_NE(events[0].args[0].Int(), 2090);
            EXPECT_NE(events[0].args[0].Int(), 3000);
        }
        EXPECT_EQ(events[0].args[1].strText, c.text);
        if (c.errorMessage != nullptr) {
            EXPECT_EQ(CallText(host, "GetErrorMessage"), c.errorMessage);
        }
    }
}

// A camera that goes away: the read fails, the control shows the error text instead of the image,
// reports nothing more and stays failed until Stop.
TEST(ControlLife, ALostCameraShowsTheErrorTextUntilStop)
{
    constexpr int32_t kW = 300, kH = 60;
    auto camera = std::make_unique<CSimCamera>(ImageCamera(32, 24, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera->Started());
    CHeadlessHost host(Window(kW, kH));
    ASSERT_TRUE(StartStreaming(host, *camera, "IMG0"));
    ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnImageReceived, 1, kWait));
    camera->sim.Stop();

    // The failing read invalidates the window; wait until the error is there.
    ASSERT_TRUE(host.WaitFor([&] { return CallText(host, "GetErrorMessage") != "Success"; }, kWait));
    EXPECT_EQ(CallText(host, "GetErrorMessage"), "ERROR: Lost communication with server.");
    const size_t images = host.CountEvents(PXEVENT_OnImageReceived);
    EXPECT_EQ(CallInt(host, "GetConnected"), 1);
    EXPECT_EQ(CallInt(host, "GetBufferType"), 0) << "getters answer 0 while failed";
    EXPECT_EQ(host.Get("BufferSizeX").Int(), 0);
    const uint64_t invalidations = host.Invalidations();
    ASSERT_TRUE(host.WaitFor([&] { return host.Invalidations() > invalidations; }, kWait));
    host.Paint();
    Picture p = FromWindow(host.Window());
    // Black text on white, inside the client area shrunk by 5 on each side.
    const size_t white = CountColour(p, 0xFFFFFF, 0, 0, kW, kH);
    const size_t black = CountColour(p, 0x000000, 5, 5, kW - 5, kH - 5);
    EXPECT_GT(black, 0u);
    EXPECT_EQ(white + black, static_cast<size_t>(kW * kH));
    EXPECT_EQ(CountColour(p, 0xFFFFFF, 0, 0, kW, 5), static_cast<size_t>(kW * 5));
    EXPECT_EQ(CountColour(p, 0xFFFFFF, 0, 0, 5, kH), static_cast<size_t>(5 * kH));

    EXPECT_EQ(host.CountEvents(PXEVENT_OnImageReceived), images);
    EXPECT_EQ(host.CountEvents(PXEVENT_OnError), 0u) << "OnError belongs to the automatic start";
    HostValue stop;
    ASSERT_EQ(host.Call("Stop", {}, &stop), PX_S_OK);
    EXPECT_EQ(CallInt(host, "GetConnected"), 0);
    camera.reset();
}

// Another client widens the camera's window, moves it and changes the format: the control's read
// answers that the data no longer fits, and the control takes the new geometry without an error.
TEST(ControlLife, ACameraSideGeometryChangeIsFollowedWithoutAnError)
{
    CSimCamera camera(ImageCamera(64, 48, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(64, 48));
    CImageRecorder recorder(host);
    host.Put("BufferSizeX", HostValue::I4(32));
    host.Put("BufferSizeY", HostValue::I4(16));
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    ASSERT_EQ(host.Get("BufferSizeX").Int(), 32);
    ASSERT_TRUE(recorder.WaitForImages(1));

    const uint8_t loopback[4] = {127, 0, 0, 1};
    PXHANDLE other = 0;
    ASSERT_EQ(PXClientInit(nullptr, loopback, "other", &other, PX_INFINITE, 0, 0, 0, 1), PX_OK);
    ASSERT_EQ(PXSetExchangeBuffer(other, camera.Port("IMG0"), "IMG0", 1, 0), PX_OK);
    PXBufferInfo info;
    ASSERT_EQ(PXGetExchangeBufferInfoStruct(other, "IMG0", &info), PX_OK);
    info.image.sizeX = 40;
    info.image.sizeY = 20;
    info.image.offsetX = 8;
    info.image.offsetY = 4;
    info.image.format = PX_FORMAT_RGB24;
    info.image.dataSize = 40 * 20 * 3;
    ASSERT_EQ(PXSetExchangeBufferInfoStruct(other, "IMG0", &info), PX_OK);
    ASSERT_EQ(PXGetExchangeBufferInfoStruct(other, "IMG0", &info), PX_OK);
    ASSERT_EQ(info.image.sizeX, 40u);
    ASSERT_EQ(info.image.format, PX_FORMAT_RGB24);

    // The next frames come with the new geometry.
    ASSERT_TRUE(camera.FrameForWaitingReader());
    ASSERT_TRUE(host.WaitFor(
        [&] {
            std::vector<CapturedImage> images = recorder.Images();
            return !images.empty() && images.back().bitCount == 24;
        },
        kWait));
    EXPECT_EQ(CallText(host, "GetErrorMessage"), "Success");
    EXPECT_EQ(host.CountEvents(PXEVENT_OnError), 0u);
    const CapturedImage image = recorder.Images().back();
    EXPECT_EQ(image.width, 40);
    EXPECT_EQ(image.height, -20);
    EXPECT_EQ(host.Get("BufferSizeX").Int(), 40);
    EXPECT_EQ(host.Get("BufferOffsetX").Int(), 8);
    EXPECT_EQ(CallInt(host, "GetBufferAttribute"), PX_FORMAT_RGB24);
    pxsim::SimGeometry g;
    g.dwFullSizeX = 64;
    g.dwFullSizeY = 48;
    g.dwSizeX = 40;
    g.dwSizeY = 20;
    g.dwOffsetX = 8;
    g.dwOffsetY = 4;
    g.dwPixelFormat = PX_FORMAT_RGB24;
    const std::vector<uint8_t> bytes = CameraBytes(g, image.qwSerial);
    const std::vector<uint8_t> want = Convert(bytes.data(), PX_FORMAT_RGB24, 40, 20, PX_FORMAT_RGB24);
    EXPECT_EQ(image.data, want);
    EXPECT_EQ(PXClientTerminate(other), PX_OK);
}

// The camera asks for synchronous delivery: each data message is sent and waited for. A window
// thread that stops processing messages holds the update thread back, and Stop still ends it.
TEST(ControlLife, StopEndsAControlWhoseSynchronousDeliveryWaits)
{
    pxsim::SimConfig config = ImageCamera(32, 24, PX_FORMAT_MONO8);
    config.buffers[0].bSyncDelivery = true;
    CSimCamera camera(config);
    ASSERT_TRUE(camera.Started());
    pxhost::HeadlessHostOptions options = Window(32, 24);
    options.dwSendTimeoutCapMs = 200;   // one attempt of the control's 5000 ms, shortened
    CHeadlessHost host(options);
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnImageReceived, 1, kWait));
    // The sender counts its delivery once it wakes, after the events of the message.
    EXPECT_TRUE(host.WaitFor([&] { return host.SendsDelivered() >= 1; }, kWait)) << "the data message is sent";

    host.HoldMessages(true);
    ASSERT_TRUE(camera.FrameForWaitingReader());
    // The control repeats its send while the window does not answer.
    ASSERT_TRUE(host.WaitFor([&] { return host.SendsGivenUp() >= 2; }, kWait));
    EXPECT_EQ(camera.sim.Serial("IMG0"), 1u);
    EXPECT_TRUE(camera.sim.WaitForWaitingRequests(0, kWait)) << "no read waits: the update thread is held";

    HostValue result;
    ASSERT_EQ(host.Call("Stop", {}, &result), PX_S_OK);
    EXPECT_EQ(result.Int(), 0);
    EXPECT_EQ(CallInt(host, "GetConnected"), 0);
    EXPECT_EQ(host.SendsWaiting(), 0u);
    const size_t images = host.CountEvents(PXEVENT_OnImageReceived);
    host.HoldMessages(false);
    ASSERT_TRUE(host.Flush(kWait));
    EXPECT_EQ(host.CountEvents(PXEVENT_OnImageReceived), images) << "nothing of the stopped stream arrives";
}

std::string ListText(const CSimCamera& camera, const std::vector<pxsim::SimBufferConfig>& buffers)
{
    std::string text;
    for (const auto& b : buffers)
        text += b.strOwner + ":" + b.strComment + ":" + std::to_string(camera.Port(b.id.ToText().c_str())) + ":" +
                b.id.ToText().c_str() + ":" + std::to_string(b.dwType) + ";";
    return text;
}

// Agent mode: the control follows the camera's buffer list as buffers come and go, and streams
// nothing itself.
TEST(ControlLife, AgentModeFollowsTheBufferListAsBuffersComeAndGo)
{
    pxsim::SimConfig config = pxsim::DefaultSimConfig();
    config.usPublishPort = config.usWatchdogPort = config.usMessagePort = config.usFirstBufferPort = 0;
    config.dwFrameIntervalMs = 0;
    CSimCamera camera(config);
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(32, 24));
    host.Put("Agent", HostValue::I4(1));
    host.Put("ServerAddress", HostValue::Text("127.0.0.1"));
    host.CreateWindow();
    ASSERT_EQ(host.CountEvents(PXEVENT_OnError), 0u);

    HostValue list;
    ASSERT_EQ(host.Call("GetBufferList", {}, &list), PX_S_OK);
    std::vector<pxsim::SimBufferConfig> buffers = config.buffers;
    EXPECT_EQ(list.strText, ListText(camera, buffers));
    EXPECT_EQ(CallInt(host, "GetBufferType"), 0) << "agent mode streams nothing";
    EXPECT_EQ(CallInt(host, "GetConnected"), 0);

    pxsim::SimBufferConfig added = BufferOf("NEW1", PX_BUFTYPE_IMAGE);
    added.strOwner = "measure";
    added.strComment = "added";
    uint16_t port = 0;
    ASSERT_EQ(camera.sim.AddBuffer(added, &port), 0);
    buffers.push_back(added);
    const std::string withNew = ListText(camera, buffers);
    auto lastList = [&] {
        std::vector<pxhost::RecordedEvent> events = host.Events();
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            if (it->dispid == PXEVENT_OnListUpdate)
                return it->args.at(0).strText;
        }
        return std::string();
    };
    ASSERT_TRUE(host.WaitFor([&] { return lastList() == withNew; }, kWait)) << lastList();

    ASSERT_EQ(camera.sim.RemoveBuffer("HIST"), 0);
    buffers.erase(buffers.begin() + 1);
    const std::string withoutHist = ListText(camera, buffers);
    ASSERT_TRUE(host.WaitFor([&] { return lastList() == withoutHist; }, kWait)) << lastList();
    EXPECT_EQ(host.CountEvents(PXEVENT_OnDataReceive), 0u);

    // The list shown in message boxes, one per buffer.
    host.Call("DisplayVariables");
    std::vector<pxhost::MessageBoxRecord> boxes = host.MessageBoxes();
    ASSERT_EQ(boxes.size(), buffers.size() + 1);
    EXPECT_EQ(boxes[0].strText, "There are " + std::to_string(buffers.size()) + " buffers available");
    EXPECT_EQ(boxes[0].strCaption, "Vistel ActiveX");
    EXPECT_EQ(boxes[1].strText, "Buffer 0 : Name: IMG0 , Type: 1 , ProcessName: kelvo-agent , Port: " +
                                    std::to_string(camera.Port("IMG0")));
    EXPECT_EQ(boxes.back().strText, "Buffer " + std::to_string(buffers.size() - 1) +
                                        " : Name: NEW1 , Type: 1 , ProcessName: measure , Port: " +
                                        std::to_string(port));
    HostValue stop;
    ASSERT_EQ(host.Call("Stop", {}, &stop), PX_S_OK);
}

} // namespace
