// Frame service rate of the simulator against a plain socket that sends the same bytes.
//
// Both servers answer the same 72-byte data request (envelope and record) with the same reply
// (envelope, part A, description, frame) on loopback; the client is the same plain blocking
// socket loop for both. Each iteration fetches one frame from each, alternating, so that noise
// of the machine falls on both alike. Counters: first_fps (the simulator), plain_fps and ratio
// (simulator / plain). BM_PlainVsPlain measures two plain servers the same way.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "netaccess/protocol/AgentProtocol.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "sim/KelvoSim.h"

using namespace px::agent;

namespace {

// Room for a whole frame on both ends, so neither side waits for the other half-way through one.
constexpr int kSocketBuffer = 4 << 20;

struct Connection {
    px::SocketHandle s = px::kInvalidSocket;
    ~Connection()
    {
        if (s != px::kInvalidSocket)
            px::SocketClose(s);
    }
    bool Open(uint16_t port)
    {
        return px::SocketOpen(px::SocketType::Stream, &s) == 0 && px::SocketSetNoDelay(s, true) == 0 &&
               px::SocketSetBufferSizes(s, kSocketBuffer) == 0 && px::SocketConnect(s, px::kLoopbackAddress, port) == 0;
    }
};

std::vector<uint8_t> Request(const char* id)
{
    const AgentCommand c = AgentMakeGetData(BufferId::FromText(id), 1);
    const auto env = AgentEncodeEnvelope(AgentMakeEnvelope(c));
    std::vector<uint8_t> out(env.begin(), env.end());
    uint8_t rec[kAgentDataRequestSize];
    size_t n = 0;
    AgentEncodeCommand(c, rec, sizeof rec, &n);
    out.insert(out.end(), rec, rec + n);
    return out;
}

// A server that answers each request with one fixed reply from one buffer.
class CPlainServer {
public:
    explicit CPlainServer(std::vector<uint8_t> reply, size_t requestSize)
        : m_reply(std::move(reply)), m_requestSize(requestSize)
    {
        px::SocketOpen(px::SocketType::Stream, &m_listen);
        px::SocketBind(m_listen, px::kLoopbackAddress, 0);
        px::SocketListen(m_listen);
        px::SocketLocalPort(m_listen, &m_port);
        m_thread.Start("PlainServer", [this] { Serve(); });
    }
    ~CPlainServer()
    {
        px::SocketShutdown(m_listen, px::ShutdownHow::Both);
        px::SocketClose(m_listen);
        m_thread.Join();
    }
    uint16_t Port() const { return m_port; }

private:
    void Serve()
    {
        px::SocketHandle s = px::kInvalidSocket;
        if (px::SocketAccept(m_listen, &s) != 0)
            return;
        px::SocketSetNoDelay(s, true);
        px::SocketSetBufferSizes(s, kSocketBuffer);
        std::vector<uint8_t> request(m_requestSize);
        while (px::SocketRecvAll(s, request.data(), request.size()) == 0)
            if (px::SocketSendAll(s, m_reply.data(), m_reply.size()) != 0)
                break;
        px::SocketClose(s);
    }

    std::vector<uint8_t> m_reply;
    size_t m_requestSize;
    px::SocketHandle m_listen = px::kInvalidSocket;
    uint16_t m_port = 0;
    px::Thread m_thread;
};

bool Fetch(Connection& c, const std::vector<uint8_t>& request, std::vector<uint8_t>& reply)
{
    return px::SocketSendAll(c.s, request.data(), request.size()) == 0 &&
           px::SocketRecvAll(c.s, reply.data(), reply.size()) == 0;
}

// Fetches one frame from each connection per iteration; reports first_fps, plain_fps (the
// second) and ratio = first / second.
void Measure(benchmark::State& state, Connection& first, Connection& second, const std::vector<uint8_t>& request,
             std::vector<uint8_t>& reply)
{
    using Clock = std::chrono::steady_clock;
    Clock::duration firstTime{}, secondTime{};
    int64_t frames = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!Fetch(first, request, reply)) {
            state.SkipWithError("first server's reply failed");
            return;
        }
        const auto t1 = Clock::now();
        if (!Fetch(second, request, reply)) {
            state.SkipWithError("second server's reply failed");
            return;
        }
        const auto t2 = Clock::now();
        firstTime += t1 - t0;
        secondTime += t2 - t1;
        ++frames;
    }
    const double firstSeconds = std::chrono::duration<double>(firstTime).count();
    const double secondSeconds = std::chrono::duration<double>(secondTime).count();
    if (frames > 0 && firstSeconds > 0 && secondSeconds > 0) {
        state.counters["first_fps"] = frames / firstSeconds;
        state.counters["plain_fps"] = frames / secondSeconds;
        state.counters["ratio"] = secondSeconds / firstSeconds;
        state.counters["first_MBps"] = frames * double(reply.size()) / firstSeconds / 1e6;
    }
}

void BM_SimVsPlain(benchmark::State& state, uint32_t width, uint32_t height, uint32_t format)
{
    pxsim::CKelvoSim sim;
    if (sim.Start(pxsim::SingleImageSimConfig("BNCH", width, height, format)) != 0) {
        state.SkipWithError("simulator did not start");
        return;
    }

    // Greeting and subscription on the simulator's connection.
    Connection simConn;
    if (!simConn.Open(sim.BufferPort("BNCH"))) {
        state.SkipWithError("no connection");
        return;
    }
    const auto hello = AgentEncodeHello();
    uint8_t greeting[kAgentHelloReplySize + kAgentHelloExtensionSize];
    const AgentCommand sub = AgentMakeSetTransferBuffer(BufferId::FromText("BNCH"), 1, "bench", 0x0400012C, 0);
    const auto subEnv = AgentEncodeEnvelope(AgentMakeEnvelope(sub));
    uint8_t subRec[kAgentSubscriptionIdSize];
    size_t subSize = 0;
    AgentEncodeCommand(sub, subRec, sizeof subRec, &subSize);
    px::SocketSendAll(simConn.s, hello.data(), hello.size());
    px::SocketRecvAll(simConn.s, greeting, sizeof greeting);
    px::SocketSendAll(simConn.s, subEnv.data(), subEnv.size());
    px::SocketSendAll(simConn.s, subRec, subSize);

    const std::vector<uint8_t> request = Request("BNCH");
    const size_t frameBytes = size_t{width} * height * (format == 256 ? 4 : 1);
    std::vector<uint8_t> reply(kAgentReplyEnvelopeSize + kAgentReplyPartASize + kAgentDataDescSize + frameBytes);
    if (!Fetch(simConn, request, reply)) {
        state.SkipWithError("no reply from the simulator");
        return;
    }
    // The plain server sends exactly what the simulator sent.
    CPlainServer plain(reply, request.size());
    Connection plainConn;
    if (!plainConn.Open(plain.Port())) {
        state.SkipWithError("no plain connection");
        return;
    }

    Measure(state, simConn, plainConn, request, reply);
}

// The same measurement with two plain servers: how far apart two identical servers come out on
// this machine, the yardstick for the ratio above.
void BM_PlainVsPlain(benchmark::State& state, uint32_t width, uint32_t height, uint32_t bytesPerPixel)
{
    const std::vector<uint8_t> request = Request("BNCH");
    std::vector<uint8_t> reply(kAgentReplyEnvelopeSize + kAgentReplyPartASize + kAgentDataDescSize +
                               size_t{width} * height * bytesPerPixel, 0x5A);
    CPlainServer a(reply, request.size()), b(reply, request.size());
    Connection ca, cb;
    if (!ca.Open(a.Port()) || !cb.Open(b.Port())) {
        state.SkipWithError("no plain connection");
        return;
    }
    Measure(state, ca, cb, request, reply);
}

} // namespace

BENCHMARK_CAPTURE(BM_SimVsPlain, vga_mono8, 640, 480, 1)->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(BM_SimVsPlain, fullhd_rgb32, 1920, 1080, 256)->UseRealTime()->MinTime(3.0);
BENCHMARK_CAPTURE(BM_PlainVsPlain, vga_mono8, 640, 480, 1)->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(BM_PlainVsPlain, fullhd_rgb32, 1920, 1080, 4)->UseRealTime()->MinTime(3.0);
