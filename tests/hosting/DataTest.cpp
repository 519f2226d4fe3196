// Data other than images end to end: text, array and histogram buffers and the events they fire,
// the data lock around the image event and LockDataPtr, and input sent back to the camera.
#include <gtest/gtest.h>

#include <cstring>

#include "ControlTestUtil.h"
#include "sim/SimPattern.h"

namespace {

using namespace pxtest;

// The camera's text of a frame, as UTF-8 (the simulator's texts are ASCII).
std::string CameraText(const char* id, uint64_t frame, uint32_t chars)
{
    std::vector<uint8_t> utf16(chars * 2);
    pxsim::SimRenderText(px::agent::BufferId::FromText(id), frame, chars, utf16.data());
    std::string text;
    for (uint32_t i = 0; i < chars && (utf16[2 * i] | utf16[2 * i + 1]) != 0; ++i)
        text += static_cast<char>(utf16[2 * i]);
    return text;
}

TEST(ControlData, ATextBufferFiresItsTextAfterTheDataEvent)
{
    pxsim::SimConfig config = ImageCamera(8, 8, PX_FORMAT_MONO8);
    config.buffers.push_back(BufferOf("TEXT", PX_BUFTYPE_TEXT));
    CSimCamera camera(config);
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(32, 24));
    ASSERT_TRUE(StartStreaming(host, camera, "TEXT"));
    // The text is copied when its event fires: the next frame comes after that.
    ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnTextReceived, 1, kWait));
    ASSERT_TRUE(camera.FrameForWaitingReader());
    ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnTextReceived, 2, kWait));

    std::vector<pxhost::RecordedEvent> events = host.Events();
    ASSERT_EQ(events.size(), 4u);
    for (size_t i = 0; i < 4; i += 2) {
        EXPECT_EQ(events[i].dispid, PXEVENT_OnDataReceive);
        EXPECT_EQ(events[i].args[0].strText, "0100007F:Unknown:" + std::to_string(camera.Port("TEXT")) + ":TEXT:5");
        ASSERT_EQ(events[i + 1].dispid, PXEVENT_OnTextReceived);
        EXPECT_EQ(events[i + 1].args[0].vt, PX_VT_BSTR);
        EXPECT_EQ(events[i + 1].args[0].strText, CameraText("TEXT", i / 2, 64));
        EXPECT_FALSE(events[i + 1].args[0].strText.empty());
    }
    HostValue v;
    host.Call("GetBufferType", {}, &v);
    EXPECT_EQ(v.Int(), PX_BUFTYPE_TEXT);
    host.Call("GetBufferSize", {}, &v);
    EXPECT_EQ(v.Int(), 128);
    EXPECT_EQ(host.Get("BufferOffsetX").Int(), 0) << "offsets only for images";
}

// Each element type of a packed array arrives as a variant array of that type with the camera's
// values (frame + index).
TEST(ControlData, ArrayBuffersArriveAsVariantArraysOfTheirElementType)
{
    const struct {
        const char* id;
        uint32_t type;
        uint32_t count;
    } arrays[] = {{"AI02", PX_VT_I2, 3},  {"AI04", PX_VT_I4, 5},  {"AR04", PX_VT_R4, 2},  {"AR08", PX_VT_R8, 2},
                  {"AI01", PX_VT_I1, 4},  {"AU01", PX_VT_UI1, 4}, {"AU02", PX_VT_UI2, 3}, {"AU04", PX_VT_UI4, 3},
                  {"AINT", PX_VT_INT, 2}, {"AUIN", PX_VT_UINT, 2}};
    pxsim::SimConfig config = ImageCamera(8, 8, PX_FORMAT_MONO8);
    for (const auto& a : arrays) {
        pxsim::SimBufferConfig b = BufferOf(a.id, PX_BUFTYPE_ARRAY);
        b.dwArrayType = a.type;
        b.dwArrayCount = a.count;
        config.buffers.push_back(b);
    }
    CSimCamera camera(config);
    ASSERT_TRUE(camera.Started());
    for (const auto& a : arrays) {
        SCOPED_TRACE(a.id);
        CHeadlessHost host(Window(16, 16));
        ASSERT_TRUE(StartStreaming(host, camera, a.id));
        ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnArrayReceived, 1, kWait));
        std::vector<pxhost::RecordedEvent> events = host.Events();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].dispid, PXEVENT_OnDataReceive);
        const HostValue& array = events[1].args.at(0);
        ASSERT_TRUE(array.IsArray()) << array.Describe();
        ASSERT_EQ(array.items.size(), a.count);
        // Frame 0: element i holds i, and a real i + 0.5 so that its fraction is seen.
        const double fraction = a.type == PX_VT_R4 || a.type == PX_VT_R8 ? 0.5 : 0.0;
        for (uint32_t i = 0; i < a.count; ++i) {
            EXPECT_EQ(array.items[i].vt, a.type) << i;
            EXPECT_EQ(array.items[i].Real(), i + fraction) << i;
        }
    }
}

TEST(ControlData, AHistogramBufferFiresOnlyTheDataEvent)
{
    pxsim::SimConfig config = ImageCamera(16, 16, PX_FORMAT_MONO8);
    pxsim::SimBufferConfig hist = BufferOf("HIST", PX_BUFTYPE_HISTOGRAM);
    hist.strSource = "IMG0";
    config.buffers.push_back(hist);
    CSimCamera camera(config);
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(32, 24));
    ASSERT_TRUE(StartStreaming(host, camera, "HIST"));
    ASSERT_TRUE(camera.FrameForWaitingReader());
    ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnDataReceive, 2, kWait));
    ASSERT_TRUE(host.Flush(kWait));
    EXPECT_EQ(host.Events().size(), host.CountEvents(PXEVENT_OnDataReceive));
    EXPECT_EQ(host.CountEvents(PXEVENT_OnHistogramReceived), 0u);
    HostValue v;
    host.Call("GetBufferType", {}, &v);
    EXPECT_EQ(v.Int(), PX_BUFTYPE_HISTOGRAM);
    host.Call("GetBufferSize", {}, &v);
    EXPECT_EQ(v.Int(), 1024);
    EXPECT_EQ(host.Get("BufferSizeX").Int(), 256);
    EXPECT_EQ(host.Get("BufferSizeY").Int(), 0) << "one-dimensional";
}

// The image event holds the data lock: the addresses are readable during it, and LockDataPtr
// gives the same bitmap to a host outside the event, holding conversion back until it unlocks.
TEST(ControlData, TheDataLockGuardsTheBitmapTheHostReads)
{
    CSimCamera camera(ImageCamera(16, 8, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(16, 8));
    uint64_t inEvent[2] = {0, 0};
    uint64_t eventArgs[2] = {0, 0};
    host.SetEventHandler([&](int32_t dispid, const PXVariant* args, uint32_t argc) {
        if (dispid != PXEVENT_OnImageReceived || argc != 2 || inEvent[0] != 0)
            return;
        eventArgs[0] = args[0].v.ullVal;
        eventArgs[1] = args[1].v.ullVal;
        HostValue v;
        host.Call("GetBufferDIBHeaderPtr", {}, &v);
        inEvent[0] = v.ullVal;
        host.Call("GetBufferDataPtr", {}, &v);
        inEvent[1] = v.ullVal;
    });
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnImageReceived, 1, kWait));
    ASSERT_TRUE(host.Flush(kWait));   // the handler has returned
    EXPECT_NE(eventArgs[0], 0u);
    EXPECT_EQ(inEvent[0], eventArgs[0]);
    EXPECT_EQ(inEvent[1], eventArgs[1]);
    host.SetEventHandler(nullptr);

    HostValue v;
    host.Call("GetBufferDataPtr", {}, &v);
    EXPECT_EQ(v.vt, PX_VT_UI8);
    EXPECT_EQ(v.ullVal, 0u) << "not locked";
    // The first frame is painted (which takes the data lock too) once the next read waits.
    ASSERT_TRUE(camera.sim.WaitForWaitingRequests(1, kWait));
    host.Call("LockDataPtr");
    host.Call("GetBufferDataPtr", {}, &v);
    const uint8_t* data = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(v.ullVal));
    ASSERT_NE(data, nullptr);
    std::vector<uint8_t> before(data, data + 16 * 8);
    // A new frame is read while the host holds the lock, but not converted into the bitmap.
    ASSERT_TRUE(camera.FrameForWaitingReader());
    ASSERT_TRUE(host.WaitFor([&] { return host.Get("SerialCounter").Int() == 1; }, kWait));
    EXPECT_EQ(std::vector<uint8_t>(data, data + 16 * 8), before);
    EXPECT_EQ(host.CountEvents(PXEVENT_OnImageReceived), 1u);
    host.Call("UnlockDataPtr");
    host.Call("GetBufferDataPtr", {}, &v);
    EXPECT_EQ(v.ullVal, 0u);
    ASSERT_TRUE(host.WaitForEvents(PXEVENT_OnImageReceived, 2, kWait));
    host.Call("UnlockDataPtr");   // unlocking twice is harmless
}

// What the SendInput family puts on the wire of an input buffer.
TEST(ControlData, InputMembersSendTheirBytesToAnInputBuffer)
{
    pxsim::SimConfig config = ImageCamera(8, 8, PX_FORMAT_MONO8);
    config.buffers.push_back(BufferOf("INP0", PX_BUFTYPE_INPUT));
    CSimCamera camera(config);
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(16, 16));
    AimAt(host, camera, "INP0");
    host.CreateWindow();
    ASSERT_EQ(host.CountEvents(PXEVENT_OnError), 0u);
    HostValue v;
    host.Call("GetBufferType", {}, &v);
    ASSERT_EQ(v.Int(), PX_BUFTYPE_INPUT);

    double r8 = 2.5;
    std::vector<uint8_t> packedR8 = {5, 0, 0, 0, 1, 0, 0, 0};
    packedR8.insert(packedR8.end(), reinterpret_cast<uint8_t*>(&r8), reinterpret_cast<uint8_t*>(&r8) + 8);
    const struct {
        const char* member;
        HostValue arg;
        int64_t result;
        std::vector<uint8_t> sent;   // empty: nothing sent
    } cases[] = {
        {"SendInput", HostValue::I4(0x04030201), 0, {1, 2, 3, 4}},
        {"SendInput", HostValue::I4(-1), 0, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"SendInputString", HostValue::Text("abc"), 0, {'a', 'b', 'c'}},
        {"SendInputString", HostValue::Text("\xC3\xA9"), 0, {0xC3, 0xA9}},
        {"SendInputWString", HostValue::Text("abc"), 0, {'a', 0, 'b', 0, 'c', 0}},
        {"SendInputWString", HostValue::Text("\xC3\xA9\xE2\x82\xAC"), 0, {0xE9, 0, 0xAC, 0x20}},
        {"SendInputArray", HostValue::Array({HostValue::R8(2.5)}), 0, packedR8},
        {"SendInputArray", HostValue::Array({HostValue::I2(-2), HostValue::I2(3)}), 0,
         {2, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 3, 0}},
        {"SendInputArray", HostValue::Array({HostValue::I2(1), HostValue::I4(2)}), 2000, {}},
        {"SendInputArray", HostValue::Array({HostValue::Text("a")}), 2000, {}},
        {"SendInputArray", HostValue::Array({HostValue::Of(PX_VT_I8, 1)}), 2000, {}},
        {"SendInputArray", HostValue::I4(5), 2000, {}},   // a variant, but no array
    };
    for (const auto& c : cases) {
        const size_t before = camera.sim.Inputs("INP0").size();
        HostValue result;
        ASSERT_EQ(host.Call(c.member, {c.arg}, &result), PX_S_OK) << c.member << " " << c.arg.Describe();
        EXPECT_EQ(result.Int(), c.result) << c.member << " " << c.arg.Describe();
        // A request with a reply on the same connection: the camera has taken every input before it.
        host.Call("GetNumberOfClient");
        std::vector<std::vector<uint8_t>> inputs = camera.sim.Inputs("INP0");
        if (c.sent.empty()) {
            EXPECT_EQ(inputs.size(), before) << c.member << " " << c.arg.Describe();
        } else {
            ASSERT_EQ(inputs.size(), before + 1) << c.member << " " << c.arg.Describe();
            EXPECT_EQ(inputs.back(), c.sent) << c.member << " " << c.arg.Describe();
        }
    }
}

// Input members act only on an input buffer: on an image they send nothing.
TEST(ControlData, InputMembersSendNothingToOtherBuffers)
{
    CSimCamera camera(ImageCamera(8, 8, PX_FORMAT_MONO8));
    ASSERT_TRUE(camera.Started());
    CHeadlessHost host(Window(16, 16));
    ASSERT_TRUE(StartStreaming(host, camera, "IMG0"));
    HostValue result;
    for (const char* member : {"SendInput", "SendInputString", "SendInputWString"}) {
        ASSERT_EQ(host.Call(member, {strcmp(member, "SendInput") == 0 ? HostValue::I4(1) : HostValue::Text("x")},
                            &result),
                  PX_S_OK);
        EXPECT_EQ(result.Int(), 0) << member;
    }
    EXPECT_TRUE(camera.sim.Inputs("IMG0").empty());
}

} // namespace
