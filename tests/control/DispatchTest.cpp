// The dispatch interface of a control that is not started: the member table, the dispatch
// errors, the properties' rules, and the host object's start and persistence through the C
// interface.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "TestWindow.h"
#include "control/ControlText.h"
#include "control/ControlTiming.h"
#include "control/Dispatch.h"
#include "control/PellixControl.h"
#include "control/Variant.h"
#include "pellix/pellix_control.h"

using namespace pxcontrol;

namespace {

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("VISTEL_CONFIG", "/nonexistent/vistel.conf", 1);
        m_window.Attach(&m_control);
    }

    PXVariant Call(int32_t dispid, uint32_t kind = PX_INVOKE_METHOD, std::vector<PXVariant> args = {},
                   HRESULT expected = S_OK)
    {
        PXVariant result{};
        EXPECT_EQ(Invoke(m_control, dispid, kind, args.data(), static_cast<uint32_t>(args.size()), &result), expected)
            << NameOfDispId(dispid);
        m_owned.push_back(result);
        return result;
    }
    PXVariant Get(int32_t dispid) { return Call(dispid, PX_INVOKE_PROPERTYGET); }
    void Put(int32_t dispid, PXVariant value, HRESULT expected = S_OK)
    {
        EXPECT_EQ(Invoke(m_control, dispid, PX_INVOKE_PROPERTYPUT, &value, 1, nullptr), expected)
            << NameOfDispId(dispid);
    }
    std::string Text(int32_t dispid)
    {
        const PXVariant v = Get(dispid);
        EXPECT_EQ(v.vt, PX_VT_BSTR) << NameOfDispId(dispid);
        return v.vt == PX_VT_BSTR ? v.v.str : "";
    }
    int64_t Number(int32_t dispid)
    {
        const PXVariant v = Get(dispid);
        switch (v.vt) {
        case PX_VT_I2: return v.v.iVal;
        case PX_VT_I4: return v.v.lVal;
        case PX_VT_UI8: return static_cast<int64_t>(v.v.ullVal);
        default: ADD_FAILURE() << NameOfDispId(dispid) << " answered type " << v.vt; return -1;
        }
    }
    void TearDown() override
    {
        for (PXVariant& v : m_owned)
            VariantClear(&v);
    }

    controltest::CTestWindow m_window{64, 48};
    CPellixControl m_control{&m_window};
    std::vector<PXVariant> m_owned;
};

PXVariant Str(const char* s) { return VariantOfText(const_cast<char*>(s)); }

} // namespace

TEST_F(DispatchTest, EveryMemberHasItsNameAndDispId)
{
    const std::pair<const char*, int32_t> members[] = {
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
        {"GetNewSubsection", PXDISPID_GetNewSubsection}, {"RegisterListUpdateCallback", PXDISPID_RegisterListUpdateCallback},
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
    // 96 members: 44 methods and 26 properties, each with a getter and a setter.
    int members96 = 0;
    for (const auto& [name, dispid] : members) {
        EXPECT_EQ(DispIdOfName(name), dispid) << name;
        EXPECT_STREQ(NameOfDispId(dispid), name);
        PXVariant one = VariantOfI4(0);
        const bool property = Invoke(m_control, dispid, PX_INVOKE_PROPERTYPUT, &one, 1, nullptr) !=
                              DISP_E_MEMBERNOTFOUND;
        members96 += property ? 2 : 1;
    }
    EXPECT_EQ(members96, 96);
    EXPECT_EQ(DispIdOfName("serveraddress"), -1); // exact case
    EXPECT_EQ(DispIdOfName("OnImageReceived"), -1);
    EXPECT_EQ(DispIdOfName(nullptr), -1);
    EXPECT_EQ(NameOfDispId(73), nullptr);
}

TEST_F(DispatchTest, DispatchErrors)
{
    PXVariant result = VariantOfI4(7);
    EXPECT_EQ(Invoke(m_control, 2, PX_INVOKE_METHOD, nullptr, 0, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(result.vt, PX_VT_EMPTY); // emptied first
    Call(PXDISPID_Start, PX_INVOKE_PROPERTYPUT, {VariantOfI4(1)}, DISP_E_MEMBERNOTFOUND);
    Call(PXDISPID_Port, 0, {}, DISP_E_MEMBERNOTFOUND);
    Call(PXDISPID_Port, PX_INVOKE_PROPERTYGET, {VariantOfI4(1)}, DISP_E_BADPARAMCOUNT);
    Call(PXDISPID_SendInput, PX_INVOKE_METHOD, {}, DISP_E_BADPARAMCOUNT);
    Call(PXDISPID_GetVersion, PX_INVOKE_METHOD, {VariantOfI4(1)}, DISP_E_BADPARAMCOUNT);
    Put(PXDISPID_Port, Str("3100"), DISP_E_TYPEMISMATCH);
    Put(PXDISPID_ClientName, VariantOfI4(3), DISP_E_TYPEMISMATCH);
    Call(PXDISPID_AddOverlayPixel, PX_INVOKE_METHOD,
         {VariantOfI4(-1), VariantOfI4(1), VariantOfR4(2.0f), VariantOfI4(0), VariantOfI4(0)}, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Invoke(m_control, PXDISPID_SendInput, PX_INVOKE_METHOD, nullptr, 1, &result), E_POINTER);
    // A getter without a place for its answer: nothing written, ClientName objects.
    EXPECT_EQ(Invoke(m_control, PXDISPID_ClientName, PX_INVOKE_PROPERTYGET, nullptr, 0, nullptr), E_POINTER);
    EXPECT_EQ(Invoke(m_control, PXDISPID_Port, PX_INVOKE_PROPERTYGET, nullptr, 0, nullptr), S_OK);
    EXPECT_EQ(Invoke(m_control, PXDISPID_GetBufferList, PX_INVOKE_METHOD, nullptr, 0, nullptr), S_OK);
    // Methods answer to a property get too; the callbacks are not offered whatever they are given.
    EXPECT_EQ(Text(PXDISPID_GetVersion), "4.0.352.1");
    Call(PXDISPID_RegisterDataCallback, PX_INVOKE_METHOD, {VariantOfI4(1), VariantOfI4(2)}, E_NOTIMPL);
    Call(PXDISPID_RegisterListUpdateCallback, PX_INVOKE_METHOD, {}, E_NOTIMPL);
}

TEST_F(DispatchTest, AFreshControlAnswersItsDefaults)
{
    EXPECT_EQ(Text(PXDISPID_ServerAddress), "0.0.0.0");
    EXPECT_EQ(Text(PXDISPID_ClientName), "Unknown");
    EXPECT_EQ(Text(PXDISPID_BufferId), "");
    EXPECT_EQ(Get(PXDISPID_ShowFPS).vt, PX_VT_I2);
    EXPECT_EQ(Number(PXDISPID_ShowFPS), 1);
    EXPECT_EQ(Number(PXDISPID_FPSRefreshDelay), 2000);
    EXPECT_EQ(Number(PXDISPID_BufferListUpdatePeriod), 10000);
    EXPECT_EQ(Number(PXDISPID_Subsection), 0); // not streaming
    EXPECT_EQ(Number(PXDISPID_GetConnected), 0);
    EXPECT_EQ(Number(PXDISPID_GetNumberOfClient), PX_COMM_ERROR);
    EXPECT_EQ(Number(PXDISPID_GetClientID), 0);
    EXPECT_EQ(Text(PXDISPID_GetErrorMessage), ""); // not connected
    EXPECT_EQ(Get(PXDISPID_GetDisplayRate).vt, PX_VT_R4);
    EXPECT_EQ(Get(PXDISPID_GetBufferDataPtr).vt, PX_VT_UI8);
    EXPECT_EQ(Number(PXDISPID_GetBufferDataPtr), 0);
    EXPECT_EQ(Number(PXDISPID_MaxTimeout), 0); // no client to ask
    // Without an accelerated back-end the transparent colour is 0, as the call's own result.
    EXPECT_EQ(Invoke(m_control, PXDISPID_GetOverlayTransparentColor, PX_INVOKE_METHOD, nullptr, 0, nullptr), 0);
    // Outside agent mode the buffer list is "" and the refresh counts as failed.
    const PXVariant list = Call(PXDISPID_GetBufferList, PX_INVOKE_METHOD, {}, S_FALSE);
    ASSERT_EQ(list.vt, PX_VT_BSTR);
    EXPECT_STREQ(list.v.str, "");
    // Stop on a stopped control.
    EXPECT_EQ(Call(PXDISPID_Stop).v.lVal, 0);
}

TEST_F(DispatchTest, PropertiesStoreByTheirRules)
{
    Put(PXDISPID_ServerAddress, Str("192.168.7.9"));
    EXPECT_EQ(Text(PXDISPID_ServerAddress), "192.168.7.9");
    Put(PXDISPID_ServerAddress, Str("10.1.2"));
    EXPECT_EQ(Text(PXDISPID_ServerAddress), "10.1.2.0");
    Put(PXDISPID_ServerAddress, Str("kelvo"));
    EXPECT_EQ(Text(PXDISPID_ServerAddress), "0.0.0.0"); // a host name

    Put(PXDISPID_BufferId, Str("IMAGE"));
    EXPECT_EQ(Text(PXDISPID_BufferId), "IMAG");
    Put(PXDISPID_BufferId, Str("AB"));
    EXPECT_EQ(Text(PXDISPID_BufferId), "AB");

    Put(PXDISPID_ClientName, Str(std::string(300, 'c').c_str()));
    EXPECT_EQ(Text(PXDISPID_ClientName), std::string(255, 'c'));

    Put(PXDISPID_FPSCorner, VariantOfI4(7));
    EXPECT_EQ(Number(PXDISPID_FPSCorner), 0);
    Put(PXDISPID_FPSCorner, VariantOfI4(3));
    EXPECT_EQ(Number(PXDISPID_FPSCorner), 3);

    for (int32_t flag : {PXDISPID_Agent, PXDISPID_ShowFPS, PXDISPID_LOGScale, PXDISPID_ManualStart}) {
        Put(flag, VariantOfI4(5));
        EXPECT_EQ(Number(flag), 1) << NameOfDispId(flag);
        Put(flag, VariantOfI4(0));
        EXPECT_EQ(Number(flag), 0) << NameOfDispId(flag);
    }
    Put(PXDISPID_Visible, VariantOfI4(1)); // only while streaming
    EXPECT_EQ(Number(PXDISPID_Visible), 0);

    Put(PXDISPID_SerialCounter, VariantOfI4(99));
    Put(PXDISPID_SerialCounterHigh, VariantOfI4(99));
    EXPECT_EQ(Number(PXDISPID_SerialCounter), 0);
    EXPECT_EQ(Number(PXDISPID_SerialCounterHigh), 0);

    Put(PXDISPID_Port, VariantOfI4(65535));
    EXPECT_EQ(Number(PXDISPID_Port), 65535); // an I4, not a negative I2
    Put(PXDISPID_SpecialMouseInteraction, VariantOfI4(-4));
    EXPECT_EQ(Number(PXDISPID_SpecialMouseInteraction), -4);
    Put(PXDISPID_LinkedAgentID, VariantOfUI4(0xFFFFFFFFu));
    EXPECT_EQ(Number(PXDISPID_LinkedAgentID), -1); // 32-bit values travel as I4 bits
}

TEST_F(DispatchTest, OverlayIdsFollowTheList)
{
    auto rect = [&](int32_t id) {
        const PXVariant r = Call(PXDISPID_AddOverlayRect, PX_INVOKE_METHOD,
                                 {VariantOfI4(id), VariantOfI4(0), VariantOfI4(0), VariantOfI4(9), VariantOfI4(9),
                                  VariantOfI4(1), VariantOfI4(0xFF), VariantOfI4(-1), VariantOfI4(0)});
        return r.v.lVal;
    };
    EXPECT_EQ(rect(-1), 1);
    EXPECT_EQ(rect(5), 5);
    EXPECT_EQ(rect(3), 3);
    EXPECT_EQ(rect(-1), 6);
    const PXVariant text =
        Call(PXDISPID_AddOverlayText, PX_INVOKE_METHOD,
             {VariantOfI4(-1), VariantOfI4(1), VariantOfI4(1), VariantOfI4(0), VariantOfI4(0), VariantOfI4(0),
              VariantOfI4(-1), VariantOfI4(12), VariantOfI4(56), Str("Arial"), Str("hi"), VariantOfI4(0)});
    EXPECT_EQ(text.v.lVal, 7);
    Call(PXDISPID_RemoveOverlayObject, PX_INVOKE_METHOD, {VariantOfI4(7)});
    const PXVariant pixel = Call(PXDISPID_AddOverlayPixel, PX_INVOKE_METHOD,
                                 {VariantOfI4(-1), VariantOfI4(1), VariantOfI4(1), VariantOfI4(0), VariantOfI4(0)});
    EXPECT_EQ(pixel.v.lVal, 7); // 7 was removed: the largest id is 6 again
}

// ---- The host object, through the C interface ------------------------------------------------------------

namespace {

struct SHostRecord {
    std::vector<std::pair<int32_t, std::string>> events; // dispid and first text or number
    std::vector<std::pair<std::string, PXVariant>> saved;
    std::map<std::string, PXVariant> toLoad;
};

PXControlHost MakeHost(SHostRecord* record)
{
    PXControlHost host{};
    host.size = sizeof host;
    host.data = record;
    host.hasWindow = [](void*) { return 1; };
    host.fireEvent = [](void* data, int32_t dispid, const PXVariant* args, uint32_t argc) {
        auto* r = static_cast<SHostRecord*>(data);
        std::string first = argc > 0 && args[0].vt == PX_VT_I4 ? std::to_string(args[0].v.lVal) : "";
        if (argc > 1 && args[1].vt == PX_VT_BSTR)
            first += std::string(" ") + args[1].v.str;
        r->events.emplace_back(dispid, first);
    };
    return host;
}

} // namespace

TEST(ControlObject, CreateStartsUnlessManualAndTellsWhyItFailed)
{
    setenv("VISTEL_CONFIG", "/nonexistent/vistel.conf", 1);
    SHostRecord record;
    PXControlHost host = MakeHost(&record);
    PXControlHost shorter = host;
    shorter.size = sizeof host - sizeof(void*);
    EXPECT_EQ(PXControlCreate(&shorter), nullptr);
    EXPECT_EQ(PXControlCreate(nullptr), nullptr);

    // Nobody listens on the buffer's port: the automatic start fails and says so.
    PXControl* control = PXControlCreate(&host);
    ASSERT_NE(control, nullptr);
    PXVariant address = VariantOfText(const_cast<char*>("127.0.0.1")), port = VariantOfI4(1),
              id = VariantOfText(const_cast<char*>("IMG0"));
    PXControlInvoke(control, PXDISPID_ServerAddress, PX_INVOKE_PROPERTYPUT, &address, 1, nullptr);
    PXControlInvoke(control, PXDISPID_Port, PX_INVOKE_PROPERTYPUT, &port, 1, nullptr);
    PXControlInvoke(control, PXDISPID_BufferId, PX_INVOKE_PROPERTYPUT, &id, 1, nullptr);
    PXControlWindowMessage(control, PX_WM_CREATE, 0, 0);
    ASSERT_EQ(record.events.size(), 1u);
    EXPECT_EQ(record.events[0].first, PXEVENT_OnError);
    EXPECT_EQ(record.events[0].second, "3000 Timeout. Connection lost with server");
    PXControlWindowMessage(control, PX_WM_DESTROY, 0, 0);
    PXControlDestroy(control);

    record.events.clear();
    control = PXControlCreate(&host);
    PXVariant manual = VariantOfI4(1);
    ASSERT_EQ(PXControlInvoke(control, PXDISPID_ManualStart, PX_INVOKE_PROPERTYPUT, &manual, 1, nullptr), PX_S_OK);
    PXControlWindowMessage(control, PX_WM_CREATE, 0, 0);
    EXPECT_TRUE(record.events.empty());
    PXVariant client{};
    PXControlInvoke(control, PXDISPID_GetClientID, PX_INVOKE_METHOD, nullptr, 0, &client);
    EXPECT_EQ(client.v.lVal, 0); // no client was made
    PXControlDestroy(control);
    PXControlDestroy(nullptr);
}

TEST(ControlObject, PropertiesAreSavedInOrderAndLoadedBack)
{
    setenv("VISTEL_CONFIG", "/nonexistent/vistel.conf", 1);
    SHostRecord record;
    PXControlHost host = MakeHost(&record);
    PXControl* control = PXControlCreate(&host);
    ASSERT_NE(control, nullptr);
    auto put = [](void* ctx, const char* name, const PXVariant* v) {
        auto* r = static_cast<SHostRecord*>(ctx);
        PXVariant copy = *v;
        if (v->vt == PX_VT_BSTR)
            copy.v.str = strdup(v->v.str);
        r->saved.emplace_back(name, copy);
    };
    ASSERT_EQ(PXControlSaveProperties(control, put, &record), PX_S_OK);
    const char* order[] = {"_cx", "_cy", "ServerAddress", "Agent", "Port", "ClientName", "Visible", "ShowFPS",
                           "BufferId", "BufferSizeX", "BufferSizeY", "BufferOffsetX", "BufferOffsetY", "Subsection",
                           "MaxTimeout", "width", "height", "LOGScale", "ManualStart", "FPSRefreshDelay",
                           "BufferListUpdatePeriod", "FPSCorner", "SpecialMouseInteraction", "PopupMenuInteraction",
                           "SerialCounter", "SerialCounterHigh", "DisplayOptions", "LinkedAgentID"};
    ASSERT_EQ(record.saved.size(), std::size(order));
    for (size_t i = 0; i < record.saved.size(); ++i)
        EXPECT_EQ(record.saved[i].first, order[i]);
    EXPECT_EQ(record.saved[0].second.vt, PX_VT_UI4);
    EXPECT_EQ(record.saved[0].second.v.ulVal, 5080u);

    // Loaded into another control: the extent and the stored properties come back.
    record.toLoad["_cx"] = VariantOfUI4(1234);
    record.toLoad["ClientName"] = VariantOfText(const_cast<char*>("loaded"));
    record.toLoad["FPSCorner"] = VariantOfI4(2);
    record.toLoad["BufferListUpdatePeriod"] = VariantOfI4(77);
    record.toLoad["ManualStart"] = VariantOfI4(1);
    auto get = [](void* ctx, const char* name, PXVariant* v) {
        auto* r = static_cast<SHostRecord*>(ctx);
        auto it = r->toLoad.find(name);
        if (it == r->toLoad.end())
            return 0;
        *v = it->second;
        return 1;
    };
    PXControl* other = PXControlCreate(&host);
    ASSERT_EQ(PXControlLoadProperties(other, get, &record), PX_S_OK);
    for (auto& [name, v] : record.saved)
        VariantClear(&v);
    record.saved.clear();
    ASSERT_EQ(PXControlSaveProperties(other, put, &record), PX_S_OK);
    std::map<std::string, std::string> values;
    for (auto& [name, v] : record.saved) {
        values[name] = v.vt == PX_VT_BSTR ? v.v.str : std::to_string(v.vt == PX_VT_I2 ? v.v.iVal : v.v.lVal);
        VariantClear(&v);
    }
    EXPECT_EQ(values["_cx"], "1234");
    EXPECT_EQ(values["_cy"], "5080");
    EXPECT_EQ(values["ClientName"], "loaded");
    EXPECT_EQ(values["FPSCorner"], "2");
    EXPECT_EQ(values["BufferListUpdatePeriod"], "77");
    EXPECT_EQ(values["ManualStart"], "1");
    EXPECT_EQ(PXControlSaveProperties(other, nullptr, nullptr), PX_E_POINTER);
    EXPECT_EQ(PXControlLoadProperties(nullptr, get, &record), PX_E_POINTER);
    PXControlDestroy(other);
    PXControlDestroy(control);
}
