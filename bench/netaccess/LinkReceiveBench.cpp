// Throughput of asynchronous 4 MiB TCP receives through a link against a plain blocking recv loop
// on the same loopback connection, interleaved in one run so that both see the same machine.
// Reports MiB/s of each and link/plain as "ratio" (1.0 means the link costs nothing).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "netaccess/NetAccess.h"
#include "platform/Event.h"
#include "platform/Socket.h"

namespace {

constexpr uint32_t kChunk = 4u << 20;

struct Done {
    px::Event event{false, false};
    NetResult result{0, 0};
    static uint32_t Hook(uint32_t, uint32_t code, uint32_t detail, void* user)
    {
        auto* d = static_cast<Done*>(user);
        d->result = NetResult{code, detail};
        d->event.Set();
        return 0;
    }
};

void BM_LinkVersusPlainReceive(benchmark::State& state)
{
    px::SocketHandle listening = px::kInvalidSocket;
    uint16_t port = 0;
    px::SocketOpen(px::SocketType::Stream, &listening);
    px::SocketBind(listening, px::kLoopbackAddress, 0);
    px::SocketListen(listening);
    px::SocketLocalPort(listening, &port);

    const uint8_t loopback[4] = {127, 0, 0, 1};
    NetContext* ctx = nullptr;
    NetLink* link = nullptr;
    if (NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, 0, port, nullptr, loopback, nullptr, 0, &ctx).code != 0 ||
        NetAllocLink(ctx, 0, &link).code != 0) {
        state.SkipWithError("cannot connect the link");
        return;
    }
    px::SocketHandle peer = px::kInvalidSocket;
    px::SocketAccept(listening, &peer);
    Done done;
    NetLinkHookFunction(link, NET_HOOK_RCV_STOP, &Done::Hook, &done, 0);

    // The producer writes without pause; both readers drain the same stream.
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        std::vector<uint8_t> data(kChunk, 0xA5);
        while (!stop && px::SocketSendAll(peer, data.data(), data.size()) == 0) {
        }
    });

    std::vector<uint8_t> buffer(kChunk);
    double plainSeconds = 0, linkSeconds = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (px::SocketRecvAll(link->socket, buffer.data(), kChunk) != 0) {
            state.SkipWithError("plain receive failed");
            break;
        }
        auto t1 = Clock::now();
        NetTransferBuffer(link, buffer.data(), kChunk, NET_DIRECTION_RECEIVE, 1, 0, nullptr, 0);
        done.event.Wait();
        auto t2 = Clock::now();
        if (done.result.code != 0) {
            state.SkipWithError("link receive failed");
            break;
        }
        plainSeconds += std::chrono::duration<double>(t1 - t0).count();
        linkSeconds += std::chrono::duration<double>(t2 - t1).count();
        benchmark::DoNotOptimize(buffer.data());
    }
    stop = true;
    px::SocketShutdown(peer, px::ShutdownHow::Both);
    producer.join();
    NetFreeContext(ctx, 0);
    px::SocketClose(peer);
    px::SocketClose(listening);

    const double mib = static_cast<double>(state.iterations()) * (kChunk >> 20);
    if (plainSeconds > 0 && linkSeconds > 0) {
        state.counters["plain_MiBps"] = mib / plainSeconds;
        state.counters["link_MiBps"] = mib / linkSeconds;
        state.counters["ratio"] = plainSeconds / linkSeconds;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kChunk);
}

} // namespace

BENCHMARK(BM_LinkVersusPlainReceive)->MinTime(2.0)->UseRealTime();
