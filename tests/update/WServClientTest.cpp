// The camera web-service client against the simulator's web service over HTTP on loopback: where
// the WSDL is looked for, the refusals and the prompt, the three operations and the emulated one,
// and the servers that fail.
#include <gtest/gtest.h>

#include "tests/update/UpdateTestUtil.h"
#include "update/WServClient.h"

using namespace updatetest;
using pxsim::SimStoreValue;
using pxsim::SimWebBehaviour;

namespace {

const std::string kMain = "GET /WEBINC/kelvowserv.wsdl";
const std::string kFallback = "GET /kelvowserv.wsdl";

SimWebBehaviour Behaviour(void (*change)(SimWebBehaviour&))
{
    SimWebBehaviour b;
    change(b);
    return b;
}

TEST(WServClient, BareAddressTriesTheMainPathThenTheFallbackAndPostsToTheMainUrl)
{
    CWebCamera camera(Behaviour([](SimWebBehaviour& b) { b.wsdlAt = pxsim::SimWsdlAt::Fallback; }));
    ASSERT_TRUE(camera.Started());
    CWServClient client("127.0.0.1", nullptr, nullptr);
    ASSERT_TRUE(client.Connected());
    EXPECT_STREQ(client.WsdlUrl(), "http://127.0.0.1/WEBINC/kelvowserv.wsdl");
    EXPECT_EQ(client.Operations().size(), 3u);
    EXPECT_EQ(client.GetStoreApiDataOLE(0x140010).lInteger, 300);
    EXPECT_EQ(camera.Seen(), (std::vector<std::string>{kMain, kFallback, "POST /WEBINC/kelvowserv.wsdl"}));
    for (const pxsim::SimWebRequest& r : camera.Web().Requests())
        EXPECT_EQ(r.strUserAgent, "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; .NET CLR 1.1.4322; .NET");

    // Nowhere at all: both paths, then unconnected.
    CWebCamera none(Behaviour([](SimWebBehaviour& b) { b.wsdlAt = pxsim::SimWsdlAt::None; }));
    CWServClient lost("127.0.0.1", nullptr, nullptr);
    EXPECT_FALSE(lost.Connected());
    EXPECT_EQ(none.Seen(), (std::vector<std::string>{kMain, kFallback}));
}

TEST(WServClient, FullUrlIsFetchedAsGivenWithItsOwnPortAndNoFallback)
{
    CWebCamera camera;
    ASSERT_TRUE(camera.Started());
    camera.PointConfigAt(1);   // a URL with a port does not need the configured one

    CWServClient own(camera.Url("/custom/kelvo.wsdl").c_str(), nullptr, nullptr);
    EXPECT_FALSE(own.Connected());
    EXPECT_EQ(camera.Seen(), (std::vector<std::string>{"GET /custom/kelvo.wsdl"}));

    camera.Web().ClearRequests();
    const std::string capitals = "HTTP://127.0.0.1:" + std::to_string(camera.Port()) + "/WEBINC/kelvowserv.wsdl";
    CWServClient upper(capitals.c_str(), nullptr, nullptr);
    EXPECT_TRUE(upper.Connected());
    EXPECT_EQ(upper.GetStoreApiDataOLE(0x14000E).strText, "4.0");
    EXPECT_EQ(camera.Seen(), (std::vector<std::string>{kMain, "POST /WEBINC/kelvowserv.wsdl"}));

    // Without a separator after the scheme there is no server: nothing is fetched.
    camera.Web().ClearRequests();
    CWServClient noPath("http://127.0.0.1", nullptr, nullptr);
    EXPECT_FALSE(noPath.Connected());
    EXPECT_TRUE(camera.Seen().empty());
}

TEST(WServClient, NtlmRefusalPromptsWithoutTheWarningAndACancelEndsEverything)
{
    CWebCamera camera(Behaviour([](SimWebBehaviour& b) { b.strAuthenticate = "NTLM"; }));
    ASSERT_TRUE(camera.Started());
    UsePrompt(0);
    CWServClient client("127.0.0.1", nullptr, nullptr);
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(client.NtlmOffered());
    EXPECT_EQ(g_prompt.calls, 1);
    EXPECT_EQ(g_prompt.caption, "Connect to 127.0.0.1");
    EXPECT_EQ(g_prompt.message, "The server 127.0.0.1 requires a username and password.");
    EXPECT_EQ(g_prompt.userSize, 21u);
    EXPECT_EQ(g_prompt.passwordSize, 21u);
    EXPECT_EQ(camera.Seen(), std::vector<std::string>{kMain});   // no fallback after a cancel

    // The default prompt has no one to ask: cancelled.
    SetCredentialPrompt(nullptr);
    camera.Web().ClearRequests();
    CWServClient unasked("127.0.0.1", nullptr, nullptr);
    EXPECT_FALSE(unasked.Connected());
    EXPECT_EQ(camera.Seen(), std::vector<std::string>{kMain});
}

TEST(WServClient, OtherRefusalsWarnAboutBasicAuthentication)
{
    const std::string warning =
        "The server 127.0.0.1 requires a username and password. \t\t\t\t\t\t\t\t Warning: This server is requesting "
        "that your username and password be sent in an insecure manner (basic authentication without a secure "
        "connection).";
    for (const char* offered : {"Basic realm=\"Kelvo\"", "NTLM realm", "Negotiate"}) {
        SCOPED_TRACE(offered);
        SimWebBehaviour b;
        b.strAuthenticate = offered;
        CWebCamera camera(b);
        UsePrompt(0);
        CWServClient client("127.0.0.1", nullptr, nullptr);
        EXPECT_FALSE(client.NtlmOffered());
        EXPECT_EQ(g_prompt.calls, 1);
        EXPECT_EQ(g_prompt.message, warning);
    }
}

TEST(WServClient, ConfirmedCredentialsAreLimitedUsedForEveryRequestAndWiped)
{
    // The user types more than the prompt allows: 20 characters count.
    const std::string user(30, 'u');
    SimWebBehaviour b;
    b.strAuthenticate = "Basic realm=\"Kelvo\"";
    b.strUser = user.substr(0, 20);
    b.strPassword = "secret";
    CWebCamera camera(b);
    ASSERT_TRUE(camera.Started());
    UsePrompt(1, user, "secret");
    CWServClient client("127.0.0.1", nullptr, nullptr);
    ASSERT_TRUE(client.Connected());
    EXPECT_TRUE(client.CredentialsWiped());
    EXPECT_EQ(client.SetStoreApiData(0x240087, 0), 0);
    const auto requests = camera.Web().Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().strMethod, "POST");
    EXPECT_EQ(requests.back().dwStatus, 200u);
    EXPECT_NE(requests.back().strAuthorization.find("Basic "), std::string::npos);
    EXPECT_EQ(g_prompt.calls, 1);

    // Credentials the prompt could not improve on: a wrong password after the prompt, then the
    // fallback path with the same credentials, and no second prompt.
    UsePrompt(1, "user", "wrong");
    camera.Web().ClearRequests();
    CWServClient refused("127.0.0.1", nullptr, nullptr);
    EXPECT_FALSE(refused.Connected());
    EXPECT_EQ(g_prompt.calls, 1);
    EXPECT_EQ(camera.Seen().back(), kFallback);
}

TEST(WServClient, GivenCredentialsThatAreRefusedShowNoPromptAndFallBack)
{
    SimWebBehaviour b;
    b.strAuthenticate = "Basic realm=\"Kelvo\"";
    b.strUser = "admin";
    b.strPassword = "right";
    CWebCamera camera(b);
    UsePrompt(1, "admin", "right");
    CWServClient client("127.0.0.1", "admin", "wrong");
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(g_prompt.calls, 0);
    EXPECT_EQ(camera.Seen().front(), kMain);
    EXPECT_EQ(camera.Seen().back(), kFallback);
    EXPECT_TRUE(client.CredentialsWiped());

    CWServClient accepted("127.0.0.1", "admin", "right");
    EXPECT_TRUE(accepted.Connected());
    EXPECT_TRUE(accepted.CredentialsWiped());
}

TEST(WServClient, EmptyOrBrokenWsdlCountsAsAFailedFetch)
{
    for (auto fault : {pxsim::SimWsdlFault::Empty, pxsim::SimWsdlFault::Broken}) {
        SimWebBehaviour b;
        b.wsdlFault = fault;
        CWebCamera camera(b);
        CWServClient client("127.0.0.1", nullptr, nullptr);
        EXPECT_FALSE(client.Connected());
        EXPECT_EQ(camera.Seen(), (std::vector<std::string>{kMain, kFallback}));
    }
}

TEST(WServClient, OperationsReadAndWriteTheStore)
{
    CWebCamera camera;
    ASSERT_TRUE(camera.Started());
    CWServClient client("127.0.0.1", nullptr, nullptr);
    ASSERT_TRUE(client.Connected());

    EXPECT_EQ(client.SetStoreApiData(0x240026, 0x500000), 0);
    EXPECT_EQ(client.SetStoreApiData(0x240099, "text value"), 0);
    EXPECT_EQ(client.GetStoreApiDataOLE(0x240026).lInteger, 0x500000);
    EXPECT_EQ(client.GetStoreApiDataOLE(0x240099).strText, "text value");
    EXPECT_TRUE(client.GetStoreApiDataOLE(0x12345).IsEmpty());
    EXPECT_EQ(client.SetAndGetStoreApiDataOLE(0x240085, "hostlet.exe").lInteger, 1);
    EXPECT_EQ(client.SetAndGetStoreApiDataOLE(0x240085, "absent.exe").lInteger, 0);

    pxsim::SimStoreValue stored;
    ASSERT_TRUE(camera.Web().GetValue(0x240099, &stored));
    EXPECT_EQ(stored, SimStoreValue::Text("text value"));
    // Each call carried the SOAP action of its operation in the WSDL (the service checks it, and
    // the placeholder namespace of the operation element, and faults otherwise).
    for (const pxsim::SimWebRequest& r : camera.Web().Requests())
        if (r.strMethod == "POST") {
            EXPECT_EQ(r.dwStatus, 200u) << r.strOperation;
            EXPECT_EQ(r.strSoapAction, "\"http://tempuri.org/action/KelvoWServ." + r.strOperation + "\"");
        }
}

TEST(WServClient, CameraWithoutSetAndGetIsServedByTheOlderOperations)
{
    CWebCamera camera(Behaviour([](SimWebBehaviour& b) { b.bNoSetAndGet = true; }),
                      {{0x24005F, SimStoreValue::Integer(84)}, {0x240078, SimStoreValue::Integer(86)}});
    ASSERT_TRUE(camera.Started());
    CWServClient client("127.0.0.1", nullptr, nullptr);
    ASSERT_TRUE(client.Connected());
    ASSERT_EQ(client.Operations().size(), 2u);

    EXPECT_EQ(client.SetAndGetStoreApiDataOLE(0x240085, "hostlet.exe").lInteger, 1);
    EXPECT_EQ(client.SetAndGetStoreApiDataOLE(0x240089, "\\Windows\\Restorix.exe RAMFILES NETWORKMESSAGES").lInteger, 1);
    EXPECT_EQ(client.SetAndGetStoreApiDataOLE(0x240084, "a").lInteger, 84);
    EXPECT_EQ(client.SetAndGetStoreApiDataOLE(0x240086, "b").lInteger, 86);
    EXPECT_TRUE(client.SetAndGetStoreApiDataOLE(0x240087, "c").IsEmpty());
    EXPECT_EQ(camera.Calls(), (std::vector<std::string>{
                                  "SetStoreApiData 0x24005A=hostlet.exe",
                                  "GetStoreApiDataOLE 0x24005B",
                                  "SetStoreApiData 0x24003F=\\Windows\\Restorix.exe RAMFILES NETWORKMESSAGES",
                                  "SetStoreApiData 0x24005A=Restorix.exe RAMFILES NETWORKMESSAGES",
                                  "GetStoreApiDataOLE 0x24005B",
                                  "SetStoreApiData 0x24005E=a",
                                  "GetStoreApiDataOLE 0x24005F",
                                  "SetStoreApiData 0x24005E=b",
                                  "GetStoreApiDataOLE 0x240078",
                              }));
    const auto processes = camera.Web().Processes();
    EXPECT_NE(std::find(processes.begin(), processes.end(), "Restorix.exe"), processes.end());
}

TEST(WServClient, FaultsBrokenBodiesAndSilenceGiveEmptyResults)
{
    CWebCamera camera({}, {}, kQuick);
    ASSERT_TRUE(camera.Started());
    CWServClient client("127.0.0.1", nullptr, nullptr);
    ASSERT_TRUE(client.Connected());
    for (auto fault : {pxsim::SimSoapFault::Fault, pxsim::SimSoapFault::Broken, pxsim::SimSoapFault::Silent}) {
        SimWebBehaviour b;
        b.soapFault = fault;
        camera.Web().SetBehaviour(b);
        EXPECT_TRUE(client.GetStoreApiDataOLE(0x140010).IsEmpty());
        EXPECT_EQ(client.SetStoreApiData(0x240026, 1), -1);
    }
    camera.Web().SetBehaviour({});
    EXPECT_EQ(client.GetStoreApiDataOLE(0x140010).lInteger, 300);   // the client recovers with the camera
}

TEST(WServClient, SilentWsdlLeavesTheClientUnconnectedAndCallsShowTheBox)
{
    CWebCamera camera(Behaviour([](SimWebBehaviour& b) { b.wsdlFault = pxsim::SimWsdlFault::Silent; }), {}, kQuick);
    ASSERT_TRUE(camera.Started());
    CWServClient client("127.0.0.1", nullptr, nullptr);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(camera.Seen(), (std::vector<std::string>{kMain, kFallback}));

    CBoxCatcher boxes;
    EXPECT_TRUE(client.GetStoreApiDataOLE(0x140010).IsEmpty());
    EXPECT_EQ(client.SetStoreApiData(0x240026, 1), -1);
    EXPECT_EQ(boxes.Count("http://127.0.0.1/WEBINC/kelvowserv.wsdl", "Soap connection failed "), 2u);
    EXPECT_EQ(boxes.Boxes().size(), 2u);
}

TEST(WServClient, NoServerAtAllIsUnconnected)
{
    CWebCamera camera;
    camera.PointConfigAt(1);
    CWServClient client("127.0.0.1", "user", "password");
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(client.CredentialsWiped());
}

TEST(WServClient, UrlPartsAndHostNames)
{
    std::string server, path;
    ASSERT_TRUE(SplitWsdlUrl("http://cam:8080/a/b.wsdl", &server, &path));
    EXPECT_EQ(server, "cam:8080");
    EXPECT_EQ(path, "/a/b.wsdl");
    ASSERT_TRUE(SplitWsdlUrl("http://cam\\share", &server, &path));
    EXPECT_EQ(server, "cam");
    EXPECT_EQ(path, "\\share");
    EXPECT_FALSE(SplitWsdlUrl("http://cam", &server, &path));
    EXPECT_EQ(ServerHost("cam:8080"), "cam");
    EXPECT_EQ(ServerHost("[::1]:81"), "[::1]");
    EXPECT_EQ(ServerHost("[::1]"), "[::1]");
    EXPECT_EQ(ServerHost("cam:"), "cam:");
}

} // namespace
