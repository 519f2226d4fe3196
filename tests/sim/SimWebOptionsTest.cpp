// The web service's side of the simulator: its command-line options, its store files, and how it
// starts when its port cannot be had.
#include <gtest/gtest.h>

#include "platform/Socket.h"
#include "sim/KelvoSim.h"
#include "sim/SimOptions.h"
#include "sim/SimWebService.h"

using namespace pxsim;

namespace {

TEST(SimWebOptions, ProgramDefaultsPortsAndStoreValues)
{
    SimOptions o;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({}, &o, &error));
    EXPECT_TRUE(o.config.web.bEnabled);
    EXPECT_TRUE(o.config.web.bOptional);
    EXPECT_EQ(o.config.web.usPort, 80);
    EXPECT_FALSE(SimConfig().web.bEnabled);   // in-process users ask for it

    ASSERT_TRUE(ParseSimOptions({"--ephemeral"}, &o, &error));
    EXPECT_EQ(o.config.web.usPort, 0);
    EXPECT_FALSE(o.config.web.bOptional);

    ASSERT_TRUE(ParseSimOptions({"--web-port", "8080", "--store", "0x14000E=4.1", "--store", "0x140010=301", "--store",
                                 "0x240039=-1", "--store", "5=\"12\"", "--wsdl-at", "fallback", "--wsdl-fault", "silent",
                                 "--soap-fault", "broken", "--no-set-and-get", "--web-auth", "NTLM", "--web-user",
                                 "admin:p:w"},
                                &o, &error))
        << error;
    const SimWebConfig& w = o.config.web;
    EXPECT_EQ(w.usPort, 8080);
    EXPECT_FALSE(w.bOptional);
    EXPECT_EQ(w.store.at(0x14000E), SimStoreValue::Text("4.1"));
    EXPECT_EQ(w.store.at(0x140010), SimStoreValue::Integer(301));
    EXPECT_EQ(w.store.at(0x240039), SimStoreValue::Integer(-1));
    EXPECT_EQ(w.store.at(5), SimStoreValue::Text("12"));
    EXPECT_EQ(w.behaviour.wsdlAt, SimWsdlAt::Fallback);
    EXPECT_EQ(w.behaviour.wsdlFault, SimWsdlFault::Silent);
    EXPECT_EQ(w.behaviour.soapFault, SimSoapFault::Broken);
    EXPECT_TRUE(w.behaviour.bNoSetAndGet);
    EXPECT_EQ(w.behaviour.strAuthenticate, "NTLM");
    EXPECT_EQ(w.behaviour.strUser, "admin");
    EXPECT_EQ(w.behaviour.strPassword, "p:w");

    ASSERT_TRUE(ParseSimOptions({"--no-web"}, &o, &error));
    EXPECT_FALSE(o.config.web.bEnabled);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--web-port", "65536"}, {"--store", "x=1"}, {"--store", "1"}, {"--wsdl-at", "up"},
          {"--web-user", "nocolon"}, {"--soap-fault"}, {"--store-file", "/nonexistent/store"}}) {
        EXPECT_FALSE(ParseSimOptions(bad, &o, &error)) << bad[0];
        EXPECT_NE(error.find(bad[0]), std::string::npos) << error;
    }
}

TEST(SimWebOptions, StoreTextLinesCommentsAndErrors)
{
    std::map<uint32_t, SimStoreValue> store;
    std::string error;
    ASSERT_TRUE(ParseSimStoreText("# camera\n0x14000E = \"4.0\"  # os\n\n0x140010=300\r\n0x1400BB=HF_3\n", &store, &error));
    EXPECT_EQ(store.size(), 3u);
    EXPECT_EQ(store.at(0x14000E), SimStoreValue::Text("4.0"));
    EXPECT_EQ(store.at(0x140010), SimStoreValue::Integer(300));
    EXPECT_EQ(store.at(0x1400BB), SimStoreValue::Text("HF_3"));
    EXPECT_FALSE(ParseSimStoreText("1=2\nbroken\n", &store, &error));
    EXPECT_EQ(error, "store line 2: expected ID=VALUE");
}

TEST(SimWebOptions, APortThatCannotBeHadFailsTheStartUnlessOptional)
{
    px::SocketHandle held;
    uint16_t port = 0;
    ASSERT_EQ(px::SocketOpenServer(px::kLoopbackAddress, 0, true, &held, &port), 0);
    SimConfig c;
    c.usPublishPort = c.usWatchdogPort = c.usMessagePort = c.usFirstBufferPort = 0;
    c.dwFrameIntervalMs = 0;
    c.web.bEnabled = true;
    c.web.usPort = port;
    CKelvoSim sim;
    EXPECT_EQ(sim.Start(c), EADDRINUSE);
    EXPECT_FALSE(sim.Running());
    EXPECT_EQ(sim.StartFailure(), "web-service port " + std::to_string(port));

    c.web.bOptional = true;
    ASSERT_EQ(sim.Start(c), 0);
    EXPECT_EQ(sim.WebPort(), 0);
    EXPECT_EQ(sim.ClientConfigText().find("WebServicePort"), std::string::npos);
    sim.Stop();

    c.web.usPort = 0;
    ASSERT_EQ(sim.Start(c), 0);
    EXPECT_NE(sim.WebPort(), 0);
    EXPECT_NE(sim.ClientConfigText().find("WebServicePort=" + std::to_string(sim.WebPort()) + "\n"), std::string::npos);
    sim.Stop();
    px::SocketClose(held);
}

} // namespace
