// The control's members through the C interface and the headless host: names and DISPIDs, the
// dispatch errors, the properties of a fresh control and their edge cases, and persistence saved
// and loaded back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ControlTestUtil.h"

namespace {

using namespace pxtest;
using pxhost::PropertyBag;

// Every member of the interface by name, with its DISPID.
const struct {
    const char* name;
    int32_t dispid;
} kMembers[] = {
    {"DisplayVariables", PXDISPID_DisplayVariables}, {"GetFullSizeX", PXDISPID_GetFullSizeX},
    {"GetFullSizeY", PXDISPID_GetFullSizeY}, {"SendInput", PXDISPID_SendInput},
    {"GetBufferList", PXDISPID_GetBufferList}, {"RegisterDataCallback", PXDISPID_RegisterDataCallback},
    {"SetImageParams", PXDISPID_SetImageParams}, {"ServerAddress", PXDISPID_ServerAddress},
    {"Agent", PXDISPID_Agent}, {"Port", PXDISPID_Port}, {"ClientName", PXDISPID_ClientName},
    {"Visible", PXDISPID_Visible}, {"ShowFPS", PXDISPID_ShowFPS}, {"BufferId", PXDISPID_BufferId},
    {"BufferSizeX", PXDISPID_BufferSizeX}, {"BufferSizeY", PXDISPID_BufferSizeY},
    {"BufferOffsetX", PXDISPID_BufferOffsetX}, {"BufferOffsetY", PXDISPID_BufferOffsetY},
    {"GetFullSizeBand", PXDISPID_GetFullSizeBand}, {"Subsection", PXDISPID_Subsection},
    {"MaxTimeout", PXDISPID_MaxTimeout}, {"Start", PXDISPID_Start}, {"width", PXDISPID_width},
    {"height", PXDISPID_height}, {"GetDisplayRate", PXDISPID_GetDisplayRate},
    {"GetNewBufferSizeX", PXDISPID_GetNewBufferSizeX}, {"GetNewBufferSizeY", PXDISPID_GetNewBufferSizeY},
    {"GetNewBufferOffsetX", PXDISPID_GetNewBufferOffsetX}, {"GetNewBufferOffsetY", PXDISPID_GetNewBufferOffsetY},
    {"GetNewSubsection", PXDISPID_GetNewSubsection},
    {"RegisterListUpdateCallback", PXDISPID_RegisterListUpdateCallback},
    {"SendInputString", PXDISPID_SendInputString}, {"LOGScale", PXDISPID_LOGScale},
    {"ManualStart", PXDISPID_ManualStart}, {"Stop", PXDISPID_Stop}, {"GetErrorMessage", PXDISPID_GetErrorMessage},
    {"GetBufferType", PXDISPID_GetBufferType}, {"GetBufferAttribute", PXDISPID_GetBufferAttribute},
    {"GetBufferSize", PXDISPID_GetBufferSize}, {"GetBufferDataPtr", PXDISPID_GetBufferDataPtr},
    {"GetConnected", PXDISPID_GetConnected}, {"FPSRefreshDelay", PXDISPID_FPSRefreshDelay},
    {"BufferListUpdatePeriod", PXDISPID_BufferListUpdatePeriod}, {"AddOverlayRect", PXDISPID_AddOverlayRect},
    {"ClearOverlay", PXDISPID_ClearOverlay}, {"AddOverlayEllipse", PXDISPID_AddOverlayEllipse},
    {"AddOverlayLine", PXDISPID_AddOverlayLine}, {"AddOverlayPixel", PXDISPID_AddOverlayPixel},
    {"AddOverlayText", PXDISPID_AddOverlayText}, {"DrawOverlay", PXDISPID_DrawOverlay},
    {"GetOverlayTransparentColor", PXDISPID_GetOverlayTransparentColor},
    {"SetOverlayTransparentColor", PXDISPID_SetOverlayTransparentColor},
    {"RemoveOverlayObject", PXDISPID_RemoveOverlayObject}, {"GetVersion", PXDISPID_GetVersion},
    {"SendInputArray", PXDISPID_SendInputArray}, {"LockDataPtr", PXDISPID_LockDataPtr},
    {"UnlockDataPtr", PXDISPID_UnlockDataPtr}, {"GetBufferDIBHeaderPtr", PXDISPID_GetBufferDIBHeaderPtr},
    {"FPSCorner", PXDISPID_FPSCorner}, {"SpecialMouseInteraction", PXDISPID_SpecialMouseInteraction},
    {"PopupMenuInteraction", PXDISPID_PopupMenuInteraction}, {"SerialCounter", PXDISPID_SerialCounter},
    {"GetNumberOfClient", PXDISPID_GetNumberOfClient}, {"SendInputWString", PXDISPID_SendInputWString},
    {"ZoomOnPoint", PXDISPID_ZoomOnPoint}, {"SerialCounterHigh", PXDISPID_SerialCounterHigh},
    {"DisplayOptions", PXDISPID_DisplayOptions}, {"LinkedAgentID", PXDISPID_LinkedAgentID},
    {"GetClientID", PXDISPID_GetClientID}, {"SaveImage", PXDISPID_SaveImage},
};

TEST(ControlMembers, EveryNameHasItsDispIdAndNothingElseHasOne)
{
    for (const auto& m : kMembers)
        EXPECT_EQ(PXControlDispIdOfName(m.name), m.dispid) << m.name;
    EXPECT_EQ(sizeof kMembers / sizeof kMembers[0], 70u);
    for (const char* unknown : {"", "start", "Width", "OnImageReceived", "GetVersion ", "_cx"})
        EXPECT_EQ(PXControlDispIdOfName(unknown), -1) << unknown;
    EXPECT_EQ(PXControlDispIdOfName(nullptr), -1);
    // 96 members: the methods once, the 26 properties with a getter and a setter.
    CHeadlessHost host;
    size_t members = 0;
    for (const auto& m : kMembers)
        members += host.Invoke(m.dispid, PX_INVOKE_PROPERTYPUT, {HostValue::I4(0)}, nullptr) ==
                           PX_DISP_E_MEMBERNOTFOUND ? 1 : 2;
    EXPECT_EQ(members, 96u);
}

TEST(ControlMembers, DispatchErrorsAndArgumentConversions)
{
    CHeadlessHost host;
    HostValue out;
    EXPECT_EQ(host.Invoke(999, PX_INVOKE_METHOD, {}, &out), PX_DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(host.Invoke(3, PX_INVOKE_METHOD, {}, &out), PX_DISP_E_MEMBERNOTFOUND) << "a gap in the DISPIDs";
    EXPECT_EQ(host.Invoke(PXDISPID_Port, PX_INVOKE_PROPERTYPUT, {}, nullptr), PX_DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(host.Invoke(PXDISPID_Port, PX_INVOKE_PROPERTYPUT, {HostValue::I4(1), HostValue::I4(2)}, nullptr),
              PX_DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(host.Put("Port", HostValue::Text("3100")), PX_DISP_E_TYPEMISMATCH);
    EXPECT_EQ(host.Put("ClientName", HostValue::I4(5)), PX_DISP_E_TYPEMISMATCH);
    EXPECT_EQ(host.Invoke(PXDISPID_GetVersion, PX_INVOKE_PROPERTYPUT, {HostValue::Text("x")}, nullptr),
              PX_DISP_E_MEMBERNOTFOUND) << "a method cannot be written";
    EXPECT_EQ(host.Invoke(PXDISPID_SetImageParams, PX_INVOKE_METHOD, {HostValue::I4(0)}, &out),
              PX_DISP_E_BADPARAMCOUNT);

    // Every integer type is taken for an integer parameter.
    for (HostValue v : {HostValue::Of(PX_VT_UI2, 3101), HostValue::Of(PX_VT_I8, 3102), HostValue::Of(PX_VT_UI4, 3103),
                        HostValue::Of(PX_VT_INT, 3104), HostValue::Of(PX_VT_UINT, 3105)}) {
        ASSERT_EQ(host.Put("Port", v), PX_S_OK) << v.Describe();
        EXPECT_EQ(host.Get("Port").Int(), v.Int());
    }
    EXPECT_EQ(host.Put("ShowFPS", HostValue::Bool(false)), PX_S_OK);
    EXPECT_EQ(host.Get("ShowFPS").Int(), 0);
    EXPECT_EQ(host.Put("ShowFPS", HostValue::Of(PX_VT_UI1, 9)), PX_S_OK);
    EXPECT_EQ(host.Get("ShowFPS").Int(), 1);
    // A scale takes R8 and integers as R4 does.
    EXPECT_EQ(host.Call("ZoomOnPoint", {HostValue::I4(1), HostValue::I4(1), HostValue::R8(2.0), HostValue::I4(0)}, &out),
              PX_S_OK);
    EXPECT_EQ(host.Call("ZoomOnPoint", {HostValue::I4(1), HostValue::I4(1), HostValue::I4(2), HostValue::I4(0)}, &out),
              PX_S_OK);

    EXPECT_EQ(host.Call("RegisterDataCallback", {HostValue::I4(0)}, &out), PX_E_NOTIMPL);
    EXPECT_EQ(host.Call("RegisterListUpdateCallback", {HostValue::I4(0)}, &out), PX_E_NOTIMPL);
    // A null out-pointer: getters write nothing and succeed, except ClientName.
    EXPECT_EQ(host.Invoke(PXDISPID_ClientName, PX_INVOKE_PROPERTYGET, {}, nullptr), PX_E_POINTER);
    EXPECT_EQ(host.Invoke(PXDISPID_Port, PX_INVOKE_PROPERTYGET, {}, nullptr), PX_S_OK);
    EXPECT_EQ(host.Invoke(PXDISPID_GetBufferList, PX_INVOKE_METHOD, {}, nullptr), PX_S_OK);
    // The colour is the call's own answer; without an accelerated back-end it is 0.
    EXPECT_EQ(host.Invoke(PXDISPID_GetOverlayTransparentColor, PX_INVOKE_METHOD, {}, &out), 0);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_EQ(PXControlInvoke(nullptr, PXDISPID_GetVersion, PX_INVOKE_METHOD, nullptr, 0, nullptr), PX_E_POINTER);
    PXVariantClear(nullptr);
}

TEST(ControlMembers, AFreshControlReadsItsInitialValues)
{
    CHeadlessHost host;
    const struct {
        const char* member;
        bool property;
        HostValue want;
    } cases[] = {
        {"ServerAddress", true, HostValue::Text("0.0.0.0")},
        {"ClientName", true, HostValue::Text("Unknown")},
        {"ShowFPS", true, HostValue::I2(1)},
        {"FPSRefreshDelay", true, HostValue::I4(2000)},
        {"BufferListUpdatePeriod", true, HostValue::I4(10000)},
        {"Subsection", true, HostValue::I4(0)},           // not streaming
        {"Agent", true, HostValue::I2(0)},
        {"Port", true, HostValue::I4(0)},
        {"BufferId", true, HostValue::Text("")},
        {"FPSCorner", true, HostValue::I2(0)},
        {"LOGScale", true, HostValue::I2(0)},
        {"ManualStart", true, HostValue::I2(0)},
        {"MaxTimeout", true, HostValue::I4(0)},           // no client
        {"DisplayOptions", true, HostValue::I4(0)},
        {"LinkedAgentID", true, HostValue::I4(0)},
        {"SerialCounter", true, HostValue::I4(0)},
        {"PopupMenuInteraction", true, HostValue::I2(0)},
        {"SpecialMouseInteraction", true, HostValue::I4(0)},
        {"GetConnected", false, HostValue::I4(0)},
        {"GetVersion", false, HostValue::Text("4.0.352.1")},
        {"GetErrorMessage", false, HostValue::Text("")},  // not connected
        {"GetNumberOfClient", false, HostValue::I4(3000)},
        {"GetFullSizeBand", false, HostValue::I4(0)},
        {"GetDisplayRate", false, HostValue::R4(0.0f)},
        {"GetBufferDataPtr", false, HostValue::UI8(0)},
        {"GetBufferDIBHeaderPtr", false, HostValue::UI8(0)},
        {"GetClientID", false, HostValue::I4(0)},
        {"GetNewSubsection", false, HostValue::I4(0)},
    };
    for (const auto& c : cases) {
        HostValue got;
        int32_t hr = c.property ? host.Invoke(PXControlDispIdOfName(c.member), PX_INVOKE_PROPERTYGET, {}, &got)
                                : host.Call(c.member, {}, &got);
        EXPECT_EQ(hr, PX_S_OK) << c.member;
        EXPECT_EQ(got, c.want) << c.member << ": " << got.Describe() << " != " << c.want.Describe();
    }
    // Outside agent mode the list is empty and the call says so with S_FALSE.
    HostValue list;
    EXPECT_EQ(host.Call("GetBufferList", {}, &list), PX_S_FALSE);
    EXPECT_EQ(list, HostValue::Text(""));
    host.Call("DisplayVariables");
    EXPECT_TRUE(host.MessageBoxes().empty()) << "nothing to show while not connected";
}

TEST(ControlMembers, PropertyValuesAreKeptAsTheControlStoresThem)
{
    CHeadlessHost host;
    const std::string longName(300, 'n');
    const struct {
        const char* property;
        HostValue put, want;
    } cases[] = {
        {"ServerAddress", HostValue::Text("192.168.1.20"), HostValue::Text("192.168.1.20")},
        {"ServerAddress", HostValue::Text("10.1.2"), HostValue::Text("10.1.2.0")},
        {"ServerAddress", HostValue::Text("300.1.2.260"), HostValue::Text("44.1.2.4")},
        {"ServerAddress", HostValue::Text("1.2.3.4.5"), HostValue::Text("1.2.3.4")},
        {"ServerAddress", HostValue::Text("camera.local"), HostValue::Text("0.0.0.0")},
        {"ServerAddress", HostValue::Text(std::string(32, '1')), HostValue::Text("0.0.0.0")},
        {"BufferId", HostValue::Text("ABCDE"), HostValue::Text("ABCD")},
        {"BufferId", HostValue::Text("AB"), HostValue::Text("AB")},
        {"ClientName", HostValue::Text(longName), HostValue::Text(longName.substr(0, 255))},
        {"ClientName", HostValue::Text("Büro"), HostValue::Text("Büro")},
        {"FPSCorner", HostValue::I4(7), HostValue::I2(0)},
        {"FPSCorner", HostValue::I4(3), HostValue::I2(3)},
        {"Agent", HostValue::I4(5), HostValue::I2(1)},
        {"ShowFPS", HostValue::I4(0), HostValue::I2(0)},
        {"LOGScale", HostValue::I4(-1), HostValue::I2(1)},
        {"ManualStart", HostValue::I4(2), HostValue::I2(1)},
        {"SerialCounter", HostValue::I4(77), HostValue::I4(0)},
        {"SerialCounterHigh", HostValue::I4(77), HostValue::I4(0)},
        {"Visible", HostValue::I4(1), HostValue::I2(0)},   // acts only while streaming
        {"FPSRefreshDelay", HostValue::I4(500), HostValue::I4(500)},
        {"BufferListUpdatePeriod", HostValue::I4(0), HostValue::I4(0)},
        {"DisplayOptions", HostValue::I4(3), HostValue::I4(3)},
        {"LinkedAgentID", HostValue::I4(12), HostValue::I4(12)},
        {"SpecialMouseInteraction", HostValue::I4(-4), HostValue::I4(-4)},
        {"PopupMenuInteraction", HostValue::I4(0x7F), HostValue::I2(0x7F)},
        {"BufferSizeX", HostValue::I4(320), HostValue::I4(0)},   // read back only while streaming
    };
    for (const auto& c : cases) {
        ASSERT_EQ(host.Put(c.property, c.put), PX_S_OK) << c.property << " " << c.put.Describe();
        HostValue got = host.Get(c.property);
        EXPECT_EQ(got, c.want) << c.property << " " << c.put.Describe() << ": " << got.Describe();
    }
    // Texts of any length, however odd, are taken without harm (runs of digits too long for an
    // address part are cut or refused, never written past their place).
    for (const char* odd : {"1234567.1.1.1", "1..1", ".", "9999999999999999999999999999999"})
        EXPECT_EQ(host.Put("ServerAddress", HostValue::Text(odd)), PX_S_OK) << odd;
}

// A new overlay object takes the id it is given, or with -1 the largest id in the list plus one.
TEST(ControlMembers, OverlayIdsFollowTheList)
{
    CHeadlessHost host;
    auto add = [&](const char* member, std::vector<HostValue> args) {
        HostValue id;
        EXPECT_EQ(host.Call(member, args, &id), PX_S_OK) << member;
        return id.Int();
    };
    auto rect = [&](int32_t id) {
        return add("AddOverlayRect", {HostValue::I4(id), HostValue::I4(0), HostValue::I4(0), HostValue::I4(9),
                                      HostValue::I4(9), HostValue::I4(1), HostValue::I4(0xFF), HostValue::I4(-1),
                                      HostValue::I4(0)});
    };
    EXPECT_EQ(rect(-1), 1);
    EXPECT_EQ(rect(5), 5);
    EXPECT_EQ(rect(3), 3);
    EXPECT_EQ(rect(-1), 6);
    EXPECT_EQ(add("AddOverlayText", {HostValue::I4(-1), HostValue::I4(1), HostValue::I4(1), HostValue::I4(0),
                                     HostValue::I4(0), HostValue::I4(0), HostValue::I4(-1), HostValue::I4(12),
                                     HostValue::I4(56), HostValue::Text("Arial"), HostValue::Text("hi"),
                                     HostValue::I4(0)}),
              7);
    ASSERT_EQ(host.Call("RemoveOverlayObject", {HostValue::I4(7)}), PX_S_OK);
    EXPECT_EQ(add("AddOverlayPixel", {HostValue::I4(-1), HostValue::I4(1), HostValue::I4(1), HostValue::I4(0),
                                      HostValue::I4(0)}),
              7) << "7 was removed: the largest id is 6 again";
}

TEST(ControlMembers, PersistenceSavesTheExtentAndTheListedPropertiesInOrderAndLoadsThemBack)
{
    CHeadlessHost saved;
    const struct {
        const char* property;
        HostValue value;
    } set[] = {
        {"ServerAddress", HostValue::Text("10.0.0.7")}, {"Agent", HostValue::I4(1)},
        {"Port", HostValue::I4(3104)}, {"ClientName", HostValue::Text("line 4")},
        {"ShowFPS", HostValue::I4(0)}, {"BufferId", HostValue::Text("CAM2")},
        {"BufferSizeX", HostValue::I4(320)}, {"BufferSizeY", HostValue::I4(200)},
        {"BufferOffsetX", HostValue::I4(16)}, {"BufferOffsetY", HostValue::I4(8)},
        {"Subsection", HostValue::I4(2)}, {"LOGScale", HostValue::I4(1)},
        {"ManualStart", HostValue::I4(1)}, {"FPSRefreshDelay", HostValue::I4(750)},
        {"BufferListUpdatePeriod", HostValue::I4(2500)}, {"FPSCorner", HostValue::I4(2)},
        {"SpecialMouseInteraction", HostValue::I4(1)}, {"PopupMenuInteraction", HostValue::I4(0x42)},
        {"DisplayOptions", HostValue::I4(2)}, {"LinkedAgentID", HostValue::I4(9)},
    };
    for (const auto& s : set)
        ASSERT_EQ(saved.Put(s.property, s.value), PX_S_OK) << s.property;

    PropertyBag bag;
    ASSERT_EQ(saved.SaveProperties(&bag), PX_S_OK);
    const char* order[] = {"_cx", "_cy", "ServerAddress", "Agent", "Port", "ClientName", "Visible", "ShowFPS",
                           "BufferId", "BufferSizeX", "BufferSizeY", "BufferOffsetX", "BufferOffsetY", "Subsection",
                           "MaxTimeout", "width", "height", "LOGScale", "ManualStart", "FPSRefreshDelay",
                           "BufferListUpdatePeriod", "FPSCorner", "SpecialMouseInteraction", "PopupMenuInteraction",
                           "SerialCounter", "SerialCounterHigh", "DisplayOptions", "LinkedAgentID"};
    ASSERT_EQ(bag.size(), sizeof order / sizeof order[0]);
    for (size_t i = 0; i < bag.size(); ++i)
        EXPECT_EQ(bag[i].first, order[i]) << i;
    EXPECT_EQ(bag[0].second.Int(), 5080);
    EXPECT_EQ(bag[1].second.Int(), 5080);
    EXPECT_EQ(bag[2].second.strText, "10.0.0.7");
    EXPECT_EQ(bag[5].second.strText, "line 4");

    // Loaded into another control: the setters take every value back (ManualStart keeps the new
    // window from starting, so nothing connects).
    CHeadlessHost loaded;
    bag[0].second = HostValue::UI4(1000);
    ASSERT_EQ(loaded.LoadProperties(bag), PX_S_OK);
    for (const auto& s : set) {
        if (strcmp(s.property, "BufferSizeX") == 0 || strcmp(s.property, "BufferSizeY") == 0 ||
            strcmp(s.property, "BufferOffsetX") == 0 || strcmp(s.property, "BufferOffsetY") == 0 ||
            strcmp(s.property, "Subsection") == 0)
            continue;   // read back only while streaming an image
        HostValue got = loaded.Get(s.property);
        if (s.value.IsText())
            EXPECT_EQ(got.strText, s.value.strText) << s.property;
        else
            EXPECT_EQ(got.Int(), s.value.Int()) << s.property;
    }
    PropertyBag again;
    ASSERT_EQ(loaded.SaveProperties(&again), PX_S_OK);
    EXPECT_EQ(again[0].second.Int(), 1000) << "the extent is loaded too";
    EXPECT_EQ(again[1].second.Int(), 5080);
    loaded.CreateWindow();
    EXPECT_EQ(loaded.Call("GetConnected", {}, nullptr), PX_S_OK);
    HostValue connected;
    loaded.Call("GetConnected", {}, &connected);
    EXPECT_EQ(connected.Int(), 0);
    EXPECT_TRUE(loaded.Events().empty()) << "no automatic start, no OnError";

    // Names the bag lacks keep their values; null callbacks are refused.
    CHeadlessHost partial;
    ASSERT_EQ(partial.LoadProperties({{"Port", HostValue::I4(3200)}}), PX_S_OK);
    EXPECT_EQ(partial.Get("Port").Int(), 3200);
    EXPECT_EQ(partial.Get("ClientName").strText, "Unknown");
    partial.RunOnWindowThread([](PXControl* c) {
        EXPECT_EQ(PXControlSaveProperties(c, nullptr, nullptr), PX_E_POINTER);
        EXPECT_EQ(PXControlLoadProperties(c, nullptr, nullptr), PX_E_POINTER);
    });
}

} // namespace
