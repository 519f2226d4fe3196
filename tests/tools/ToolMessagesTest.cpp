// What pellix-ls and pellix-grab tell a user when the camera cannot be reached or fails: each kind
// of failure gets its own cause, with the host, the port and where the port came from, and what to
// check. The tools run as programs against ports of this process: a closed one, one that never
// answers, a peer that is not a camera, and kelvo-sim in this process with its faults.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Socket.h"
#include "tests/platform/Scratch.h"
#include "tests/platform/SilentPort.h"
#include "tests/sim/SimTestCamera.h"
#include "ToolTestUtil.h"

namespace {

using tooltest::Outcome;
using tooltest::RunCommand;

bool Has(const Outcome& o, const std::string& text) { return o.output.find(text) != std::string::npos; }

// A port the system handed out and took back: nothing listens there.
uint16_t ClosedPort()
{
    px::SocketHandle s = px::kInvalidSocket;
    uint16_t port = 0;
    px::SocketOpen(px::SocketType::Stream, &s);
    px::SocketBind(s, px::kLoopbackAddress, 0);
    px::SocketLocalPort(s, &port);
    px::SocketClose(s);
    return port;
}

// Another program on the camera's port. With an answer it answers every connection with it and
// closes; without, it keeps every connection open and says nothing. Accepted is set at each.
class CForeignPeer {
public:
    explicit CForeignPeer(const char* answer) : m_answer(answer != nullptr ? answer : "")
    {
        px::SocketOpenServer(px::kLoopbackAddress, 0, true, &m_listening, &m_port);
        m_thread = std::thread([this] {
            px::SocketHandle s = px::kInvalidSocket;
            while (px::SocketAccept(m_listening, &s) == 0) {
                if (m_bStop.load() || !m_answer.empty()) {
                    px::SocketSendAll(s, m_answer.data(), m_answer.size());
                    px::SocketClose(s);
                } else {
                    m_held.push_back(s);
                }
                if (m_bStop.load())
                    return;
                m_evAccepted.Set();
            }
        });
    }
    ~CForeignPeer()
    {
        m_bStop = true;
        px::SocketHandle wake = px::kInvalidSocket;   // one last connection ends the accept loop
        px::SocketOpen(px::SocketType::Stream, &wake);
        px::SocketConnect(wake, px::kLoopbackAddress, m_port, 5000);
        m_thread.join();
        px::SocketClose(wake);
        for (px::SocketHandle s : m_held)
            px::SocketClose(s);
        px::SocketClose(m_listening);
    }
    uint16_t Port() const { return m_port; }
    px::Event& Accepted() { return m_evAccepted; }

private:
    const std::string m_answer;
    px::SocketHandle m_listening = px::kInvalidSocket;
    uint16_t m_port = 0;
    std::vector<px::SocketHandle> m_held;   // the accepting thread's until it ends
    px::Event m_evAccepted{false, false};
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// A tool started in the background, with its process id (the shell prints its own, then becomes
// env and env the tool), so that the test can signal it.
struct CBackground {
    explicit CBackground(const std::string& command) : p(tooltest::StartCommand("echo $$; exec env " + command))
    {
        char line[32] = {};
        if (p != nullptr && std::fgets(line, sizeof line, p) != nullptr)
            pid = static_cast<pid_t>(std::atoi(line));
    }
    FILE* p;
    pid_t pid = 0;
};

class ToolMessages : public ::testing::Test {
protected:
    void TearDown() override { m_sim.Stop(); }
    // Every port of the camera is port, plus the extra lines.
    void AllPortsAt(uint16_t port, const std::string& extra = "")
    {
        const std::string p = std::to_string(port);
        std::ofstream(m_config) << "PublishPort=" << p << "\nWatchDogPort=" << p << "\nAsyncMsgPort=" << p << "\n"
                                << extra;
    }
    // kelvo-sim in this process with the faults, frames only when asked, the configuration at it.
    void StartSim(const pxsim::SimFaults& faults)
    {
        pxsim::SimConfig c = simtest::TestConfig();
        c.faults = faults;
        ASSERT_EQ(m_sim.Start(c), 0);
        std::ofstream(m_config) << m_sim.ClientConfigText();
    }
    // pellix-grab against kelvo-sim in this process with the faults.
    Outcome GrabWith(const pxsim::SimFaults& faults, const std::string& args)
    {
        m_sim.Stop();
        StartSim(faults);
        return RunCommand(Tool(PELLIX_GRAB_PATH, "127.0.0.1 " + args + " -o " + m_dir));
    }
    std::string Tool(const char* path, const std::string& args)
    {
        return "VISTEL_CONFIG=" + m_config + " " + path + " " + args;
    }
    // "(the publish port, PublishPort in VISTEL_CONFIG=...)"
    std::string FromConfig(const char* role, const char* name)
    {
        return std::string("(the ") + role + ", " + name + " in VISTEL_CONFIG=" + m_config + ")";
    }

    platformtest::CScratch m_scratch;
    const std::string& m_dir = m_scratch.Path();
    const std::string m_config = m_scratch.In("vistel.conf");
    pxsim::CKelvoSim m_sim;
};

} // namespace

TEST_F(ToolMessages, ACameraThatCannotBeReachedIsToldApartByItsCause)
{
    // A closed port, with two values the library passes over.
    const uint16_t closed = ClosedPort();
    AllPortsAt(closed, "ShowDebugMessage=yes\nWatchDogPort=70000\n");
    Outcome o = RunCommand(Tool(PELLIX_LS_PATH, "127.0.0.1 -t 2000"));
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(Has(o, "PXGetBufferList) failed: PX_COMM_ERROR: communication with the camera's agent failed\n"))
        << o.output;
    EXPECT_TRUE(Has(o, "  cause: nothing listens on 127.0.0.1 port " + std::to_string(closed) + " " +
                           FromConfig("publish port", "PublishPort") + ": the connection was refused\n  check: "))
        << o.output;
    EXPECT_TRUE(Has(o, "warning: ShowDebugMessage=yes in VISTEL_CONFIG=" + m_config + " is not a number")) << o.output;
    EXPECT_TRUE(Has(o, "warning: WatchDogPort=70000 in VISTEL_CONFIG=" + m_config +
                           " is not a port number (at most 65535): the library uses port 4464"))
        << o.output;

    // A configuration file that is not there: the defaults, said so.
    o = RunCommand("VISTEL_CONFIG=" + m_dir + "/missing.conf " + PELLIX_LS_PATH + " 127.0.0.2 -t 2000");
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(Has(o, "warning: VISTEL_CONFIG=" + m_dir + "/missing.conf cannot be read")) << o.output;
    EXPECT_TRUE(Has(o, "port 3072 (the publish port, default)")) << o.output;

    // A name nobody knows.
    o = RunCommand(Tool(PELLIX_GRAB_PATH, "no-such-camera.invalid -t 2000 -o " + m_dir));
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(Has(o, "'no-such-camera.invalid'")) << o.output;
    EXPECT_TRUE(Has(o, "check: the name's spelling")) << o.output;

    // Another program on the port.
    CForeignPeer other("HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    AllPortsAt(other.Port());
    o = RunCommand(Tool(PELLIX_LS_PATH, "127.0.0.1 -t 2000"));
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(Has(o, "cause: 127.0.0.1 port " + std::to_string(other.Port()))) << o.output;
    EXPECT_TRUE(Has(o, "not as a camera's agent")) << o.output;
    EXPECT_TRUE(Has(o, "another program answers there")) << o.output;
}

// The mistyped address: without a bound on the connects each tool sat silent for minutes.
TEST_F(ToolMessages, ACameraThatNeverAnswersIsReportedWithinTheBound)
{
    platformtest::CSilentPort silent;
    ASSERT_TRUE(silent.Silent());
    AllPortsAt(silent.Port());
    for (const std::string& tool : {std::string(PELLIX_LS_PATH), PELLIX_GRAB_PATH + (" -o " + m_dir)}) {
        const uint64_t start = px::TickCount64();
        const Outcome o = RunCommand(Tool(tool.c_str(), "127.0.0.1 --timeout 300"));
        EXPECT_LT(px::TickCount64() - start, 60000u) << tool;
        EXPECT_EQ(o.status, 1) << o.output;
        EXPECT_TRUE(Has(o, "cause: the camera did not answer: 127.0.0.1 port " + std::to_string(silent.Port()) + " " +
                               FromConfig("publish port", "PublishPort") + " did not answer within 300 ms"))
            << o.output;
        EXPECT_TRUE(Has(o, "check: the address")) << o.output;
    }
}

TEST_F(ToolMessages, ACameraThatFailsIsToldApartByItsCause)
{
    // No watchdog: the subscription's time-out has nobody to ask.
    pxsim::SimFaults faults;
    faults.bRefuseWatchdog = true;
    Outcome o = GrabWith(faults, "-n 1 --force");
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(Has(o, "(PXSetExchangeBuffer) failed: PX_NO_WATCHDOG")) << o.output;
    EXPECT_TRUE(Has(o, "cause: the camera's watchdog is not available: 127.0.0.1 port " +
                           std::to_string(m_sim.WatchdogPort()) + " " + FromConfig("watchdog port", "WatchDogPort") +
                           " accepts connections, but the watchdog could not be set up there"))
        << o.output;

    // The watchdog falls silent while a read waits for a frame that never comes.
    faults = {};
    faults.dwWatchdogStopAfterMs = 200;
    o = GrabWith(faults, "-n 1 -t 1000");
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(Has(o, "(PXGetExchangeBufferData) failed: PX_WATCHDOG_LOST")) << o.output;
    EXPECT_TRUE(Has(o, "cause: the camera's watchdog stopped signalling, so the camera counts as lost; its agent "
                       "still answers"))
        << o.output;

    // The camera drops the connection: its agent still answers a new one.
    faults = {};
    faults.dwDropAfterRequests = 3;
    o = GrabWith(faults, "-n 3 --force");
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(Has(o, "failed: PX_COMM_ERROR")) << o.output;
    EXPECT_TRUE(Has(o, "so the call's connection was dropped")) << o.output;

    // The camera goes away while a read waits.
    m_sim.Stop();
    StartSim({});
    CBackground grab(Tool(PELLIX_GRAB_PATH, "127.0.0.1 -n 1 -o " + m_dir));
    ASSERT_TRUE(m_sim.WaitForWaitingRequests(1, 60000));
    const uint16_t imagePort = m_sim.BufferPort("IMG0");
    m_sim.Stop();
    o = tooltest::FinishCommand(grab.p);
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(Has(o, "cause: the camera went away: nothing listens on 127.0.0.1 port " + std::to_string(imagePort) +
                       " (the port of buffer IMG0, from the camera's buffer list)"))
        << o.output;
}

TEST_F(ToolMessages, WrongUseAndAMovedWindowAreSaid)
{
    Outcome o = RunCommand(std::string(PELLIX_LS_PATH) + " --bogus");
    EXPECT_EQ(o.status, 2) << o.output;
    EXPECT_TRUE(Has(o, "usage: pellix-ls")) << o.output;
    EXPECT_FALSE(Has(o, "PXGetBufferList")) << o.output;   // not taken for a camera's name
    EXPECT_EQ(RunCommand(std::string(PELLIX_GRAB_PATH) + " -t 0").status, 2);
    EXPECT_EQ(RunCommand(std::string(PELLIX_GRAB_PATH) + " --roi 1,2,3").status, 2);
    EXPECT_EQ(RunCommand(std::string(PELLIX_GRAB_PATH) + " -n 0").status, 2);
    o = RunCommand(std::string(PELLIX_GRAB_PATH) + " -b NOPE -o " + m_dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Has(o, "no buffer 'NOPE'")) << o.output;
    o = RunCommand(std::string(PELLIX_GRAB_PATH) + " -b INP0 -o " + m_dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Has(o, "input buffer")) << o.output;

    // A window that does not fit the 640x480 image is moved by the camera; the tool says where.
    o = RunCommand(std::string(PELLIX_GRAB_PATH) + " -n 1 --roi 600,400,200,100 --format pgm -o " + m_dir);
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(Has(o, "the camera moved the window to fit its 640x480 image: 440,380,200,100 (asked for "
                       "600,400,200,100)"))
        << o.output;

    // kelvo-sim names the port it cannot take.
    px::SocketHandle held = px::kInvalidSocket;
    uint16_t port = 0;
    ASSERT_EQ(px::SocketOpenServer(px::kLoopbackAddress, 0, true, &held, &port), 0);
    o = RunCommand(std::string(KELVO_SIM_PATH) + " --ephemeral --publish-port " + std::to_string(port));
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(Has(o, "Address already in use on publish port " + std::to_string(port))) << o.output;
    px::SocketClose(held);
}

// Ctrl-C ends pellix-grab at once: a read that waits is cancelled, and where nothing can be
// cancelled (a connect or a greeting that waits for its time-out) the program ends there.
TEST_F(ToolMessages, CtrlCEndsAGrabAtOnce)
{
    StartSim({});
    CBackground reading(Tool(PELLIX_GRAB_PATH, "127.0.0.1 -n 1 -t 60000 -o " + m_dir));
    ASSERT_GT(reading.pid, 0);
    ASSERT_TRUE(m_sim.WaitForWaitingRequests(1, 60000));
    uint64_t start = px::TickCount64();
    kill(reading.pid, SIGINT);
    Outcome o = tooltest::FinishCommand(reading.p);
    EXPECT_LT(px::TickCount64() - start, 30000u);
    EXPECT_EQ(o.status, 130) << o.output;
    EXPECT_TRUE(Has(o, "interrupted after 0 frames")) << o.output;

    CForeignPeer mute(nullptr);
    AllPortsAt(mute.Port());
    CBackground connecting(Tool(PELLIX_GRAB_PATH, "127.0.0.1 -t 60000 -o " + m_dir));
    ASSERT_GT(connecting.pid, 0);
    ASSERT_EQ(mute.Accepted().Wait(60000), px::WaitResult::Signaled);
    start = px::TickCount64();
    kill(connecting.pid, SIGINT);
    o = tooltest::FinishCommand(connecting.p);
    EXPECT_LT(px::TickCount64() - start, 30000u);
    EXPECT_EQ(o.status, 130) << o.output;
    EXPECT_TRUE(Has(o, "pellix-grab: interrupted")) << o.output;
}
