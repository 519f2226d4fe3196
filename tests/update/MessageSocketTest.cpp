// The message-server client sockets against listening sockets of the test, and the reading of
// the update tool's lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/Socket.h"
#include "update/KelvoUpdate.h"
#include "update/MessageSocket.h"

namespace {

// A listening socket on a free port of the given address, closed at the end.
struct Listener {
    explicit Listener(uint32_t address = px::kLoopbackAddress)
    {
        ok = px::SocketOpenServer(address, 0, true, &socket, &port) == 0;
    }
    ~Listener()
    {
        if (accepted != px::kInvalidSocket)
            px::SocketClose(accepted);
        px::SocketClose(socket);
    }
    bool Accept() { return px::SocketAccept(socket, &accepted) == 0; }
    bool ok = false;
    px::SocketHandle socket = px::kInvalidSocket, accepted = px::kInvalidSocket;
    uint16_t port = 0;
};

TEST(MessageSocket, PortsAboveTheLastAreRefusedAndTheLastPortKept)
{
    ClientTCP c;
    EXPECT_TRUE(c.SetPort(3074));
    EXPECT_FALSE(c.SetPort(65535));
    EXPECT_FALSE(c.SetPort(0x10000 + 3074));
    EXPECT_EQ(c.Port(), 3074u);
    EXPECT_TRUE(c.SetPort(65534));
    EXPECT_EQ(c.Port(), 65534u);
}

TEST(MessageSocket, OnlyTheFirstAttemptBindsAndAnEmptyHostIsTheLoopback)
{
    // A listener on every address holds the port, so the first attempt's bind to the local host's
    // address and the same port fails; the second attempt is not bound and reaches the listener
    // through 127.0.0.1.
    Listener server(px::kAnyAddress);
    ASSERT_TRUE(server.ok);
    ClientTCP c;
    ASSERT_TRUE(c.SetPort(server.port));
    ASSERT_TRUE(c.SetHost(""));
    EXPECT_FALSE(c.connect());
    EXPECT_TRUE(c.Bound());
    EXPECT_EQ(std::string(c.LastError()), "bind failed (" + std::to_string(EADDRINUSE) + ")\n");
    EXPECT_TRUE(c.connect()) << c.LastError();
    ASSERT_TRUE(server.Accept());

    const char hello[] = "5::40  ";
    EXPECT_EQ(c.send(hello, sizeof hello), static_cast<int>(sizeof hello));
    char got[16] = {};
    ASSERT_EQ(px::SocketRecvAll(server.accepted, got, sizeof hello), 0);
    EXPECT_STREQ(got, hello);
}

TEST(MessageSocket, ConnectionFailuresKeepTheirTexts)
{
    uint16_t closedPort = 0;
    {
        Listener gone;
        ASSERT_TRUE(gone.ok);
        closedPort = gone.port;
    }
    ClientTCP c;
    c.SetHost("127.0.0.1");
    c.SetPort(closedPort);
    EXPECT_FALSE(c.connect());   // bound (or not) to the host's address, then refused
    EXPECT_FALSE(c.connect());
    EXPECT_EQ(std::string(c.LastError()), "Connect failed (" + std::to_string(ECONNREFUSED) + ")\n");

    ClientTCP nameless;
    nameless.SetHost("no-such-host.invalid");
    nameless.SetPort(closedPort);
    EXPECT_FALSE(nameless.connect());
    EXPECT_EQ(std::string(nameless.LastError()).rfind("FillSockAddr failed (", 0), 0u) << nameless.LastError();

    uint32_t address = 1;
    EXPECT_EQ(FillSockAddr("127.0.0.1", &address), 0);
    EXPECT_EQ(address, px::kLoopbackAddress);
}

TEST(MessageSocket, ReceiveWaitsInWholeSecondsPeeksAndSeesTheEnd)
{
    Listener server;
    ASSERT_TRUE(server.ok);
    ClientTCP c;
    c.SetPort(server.port);
    c.SetHost("127.0.0.1");
    ASSERT_TRUE(c.connect() || c.connect()) << c.LastError();
    ASSERT_TRUE(server.Accept());

    char buffer[256];
    EXPECT_EQ(c.receive(buffer, sizeof buffer, 1, false), 0);   // silence for a second

    ASSERT_EQ(px::SocketSendAll(server.accepted, "REBOOT pending", 14), 0);
    EXPECT_EQ(c.receive(buffer, 6, 0, true), 6);                  // no limit: the bytes are there
    EXPECT_EQ(std::string(buffer, 6), "REBOOT");
    EXPECT_EQ(c.receive(buffer, sizeof buffer, 5, false), 14);    // peeked bytes are still queued
    EXPECT_EQ(std::string(buffer, 14), "REBOOT pending");

    px::SocketShutdown(server.accepted, px::ShutdownHow::Both);
    EXPECT_EQ(c.receive(buffer, sizeof buffer, 0, false), 0);     // the peer closed
    EXPECT_EQ(c.receive(nullptr, 4, 0, false), -1);
    EXPECT_EQ(std::string(c.LastError()), "recv failed (" + std::to_string(EINVAL) + ")\n");
}

ToolLine Line(const std::string& text) { return ParseToolLine(text.data(), text.size()); }

TEST(ToolLines, StagesPercentagesAndDetails)
{
    ToolLine l = Line("5::40");
    EXPECT_TRUE(l.bStage);
    EXPECT_EQ(l.dwStage, 5u);
    EXPECT_TRUE(l.bPercent);
    EXPECT_EQ(l.lPercent, 40);

    l = Line("A:: 40");   // hexadecimal stage; a detail that begins with a blank is text
    EXPECT_EQ(l.dwStage, 10u);
    EXPECT_FALSE(l.bPercent);
    EXPECT_EQ(l.strDetail, " 40");

    l = Line("8::Writing Completed");
    EXPECT_TRUE(l.bPercent);
    EXPECT_EQ(l.lPercent, 100);

    l = Line("Checking files");
    EXPECT_FALSE(l.bStage);
    EXPECT_EQ(l.strDetail, "Checking files");

    // Cut at the first pair of blanks; line ends become blanks; a NUL ends the text.
    const char bytes[] = "6::Writing\r\nfiles  7::99\0garbage";
    l = ParseToolLine(bytes, sizeof bytes);
    EXPECT_EQ(l.dwStage, 6u);
    EXPECT_EQ(l.strDetail, "Writing  files");
    EXPECT_FALSE(l.bPercent);
    l = Line("3::");
    EXPECT_TRUE(l.bStage);
    EXPECT_TRUE(l.strDetail.empty());
    EXPECT_FALSE(l.bPercent);

    // The named stages are heard in KelvoUpdate's complete update; these have no heading.
    EXPECT_EQ(StageName(1), nullptr);
    EXPECT_EQ(StageName(4), nullptr);
    EXPECT_EQ(StageName(9), nullptr);
}

TEST(ToolLines, RebootAndFinalStatus)
{
    ToolLine l = Line("0::REBOOT pending");
    EXPECT_TRUE(l.bRebootPending);
    EXPECT_FALSE(l.bRebootAutomatic);
    l = Line("0::REBOOT Automatic");
    EXPECT_TRUE(l.bRebootAutomatic);
    EXPECT_FALSE(Line("0::reboot Automatic").bRebootAutomatic);   // the marker is in capitals

    l = Line("Update finished ********80");
    EXPECT_TRUE(l.bFinal);
    EXPECT_EQ(l.lStatus, 128);
    EXPECT_EQ(Line("********00").lStatus, 0);
    EXPECT_EQ(Line("********a0f").lStatus, 0xA0);   // two digits only
    EXPECT_FALSE(Line("********").bFinal);
}

} // namespace
