// Web servers that break the rules on purpose, played with raw bytes on a loopback socket: the
// client ends up unconnected or with an empty result, never stuck or flooded.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/Socket.h"
#include "tests/update/UpdateTestUtil.h"
#include "update/WServClient.h"

using namespace updatetest;

namespace {

// Answers every connection with the same bytes (produced by a function, so that a flood can be
// endless), then closes it.
class CRawServer {
public:
    explicit CRawServer(std::function<void(px::SocketHandle)> answer) : m_answer(std::move(answer))
    {
        EXPECT_EQ(px::SocketOpenServer(px::kLoopbackAddress, 0, true, &m_listen, &m_port), 0);
        m_thread = std::thread([this] {
            px::SocketHandle s;
            while (px::SocketAccept(m_listen, &s) == 0) {
                std::string request;
                char buf[4096];
                size_t got = 0;
                while (request.find("\r\n\r\n") == std::string::npos && px::SocketRecv(s, buf, sizeof buf, &got) == 0 &&
                       got > 0)
                    request.append(buf, got);
                m_answer(s);
                px::SocketShutdown(s, px::ShutdownHow::Both);
                px::SocketClose(s);
            }
        });
    }
    ~CRawServer()
    {
        px::SocketShutdown(m_listen, px::ShutdownHow::Both);
        m_thread.join();
        px::SocketClose(m_listen);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/WEBINC/kelvowserv.wsdl"; }

private:
    std::function<void(px::SocketHandle)> m_answer;
    px::SocketHandle m_listen = px::kInvalidSocket;
    uint16_t m_port = 0;
    std::thread m_thread;
};

std::function<void(px::SocketHandle)> Bytes(const std::string& bytes)
{
    return [bytes](px::SocketHandle s) { px::SocketSendAll(s, bytes.data(), bytes.size()); };
}

// 4 MiB of blanks in chunks, more than any body may hold.
void EndlessChunks(px::SocketHandle s)
{
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    px::SocketSendAll(s, head.data(), head.size());
    const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
    for (int i = 0; i < 64; ++i)
        if (px::SocketSendAll(s, chunk.data(), chunk.size()) != 0)
            break;
}

struct Timing {
    Timing() { SetUpdateTimingForTests(UpdateTiming{kRoomy}); }
    ~Timing()
    {
        SetUpdateTimingForTests(UpdateTiming{});
        SetCredentialPrompt(nullptr);
    }
};

TEST(HostileServer, OversizedBrokenOrEndlessRepliesLeaveTheClientUnconnected)
{
    Timing timing;
    const std::string big(kHttpMaxBody + 1, 'x');
    const std::vector<std::function<void(px::SocketHandle)>> answers = {
        Bytes("HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n<definitions/>"),
        Bytes("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big),
        Bytes("HTTX/1.1 200 OK\r\n\r\n<definitions/>"),
        Bytes("HTTP/1.1 200 OK\r\nX-Long: " + std::string(300000, 'h') + "\r\n\r\n"),
        Bytes("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n<de"),   // ends early
        EndlessChunks,   // a chunked body that goes on past every limit
    };
    for (size_t i = 0; i < answers.size(); ++i) {
        SCOPED_TRACE(i);
        CRawServer server(answers[i]);
        CWServClient client(server.Url().c_str(), nullptr, nullptr);
        EXPECT_FALSE(client.Connected());
    }
}

TEST(HostileServer, BodiesAreBoundedByTheTransportItself)
{
    // A body of exactly the limit is read; one byte more fails the request, whatever it holds.
    for (size_t size : {kHttpMaxBody, kHttpMaxBody + 1}) {
        const std::string body = "<definitions>" + std::string(size - 27, ' ') + "</definitions>";
        CRawServer server(Bytes("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
        CHttpTransport http(kRoomy);
        HttpReply reply;
        EXPECT_EQ(http.Get(server.Url(), &reply), size == kHttpMaxBody) << size;
        EXPECT_EQ(reply.strBody.size(), size == kHttpMaxBody ? size : 0u);
    }
    CRawServer endless(EndlessChunks);
    CHttpTransport http(kRoomy);
    HttpReply reply;
    EXPECT_FALSE(http.Get(endless.Url(), &reply));
}

TEST(HostileServer, OverlongAuthenticationValueIsNoNtlmOffer)
{
    Timing timing;
    UsePrompt(0);
    CRawServer server(Bytes("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nWWW-Authenticate: NTLM" +
                            std::string(200, ' ') + "x\r\nWWW-Authenticate: NTLM\r\n\r\n"));
    CWServClient client(server.Url().c_str(), nullptr, nullptr);
    EXPECT_FALSE(client.Connected());
    EXPECT_FALSE(client.NtlmOffered());
    EXPECT_EQ(g_prompt.calls, 1);
    EXPECT_NE(g_prompt.message.find("Warning"), std::string::npos);

    // The first value counts, and only exactly "NTLM".
    CRawServer exact(Bytes("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nWWW-Authenticate:   NTLM\r\n"
                           "WWW-Authenticate: Basic realm=\"x\"\r\n\r\n"));
    CWServClient second(exact.Url().c_str(), nullptr, nullptr);
    EXPECT_TRUE(second.NtlmOffered());
}

} // namespace
