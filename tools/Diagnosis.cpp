// The tools' diagnosis of failed calls; see Diagnosis.h.
#include "tools/Diagnosis.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "netaccess/protocol/AgentProtocol.h"
#include "platform/Clock.h"
#include "platform/Config.h"
#include "platform/File.h"
#include "platform/Socket.h"
#include "pellix/pellix.h"

using namespace px::agent;

namespace pxtool {

namespace {

enum class ProbeOutcome {
    Agent,             // answered as a camera's agent, as far as the probe went
    UnknownHost,       // the name resolves to no address
    NameService,       // the name service failed or did not answer
    Refused,           // nothing listens on the port
    NoAnswer,          // the connect was not answered within the bound
    Unreachable,       // no route to the host or its network
    ClosedAtGreeting,  // connected, then closed without an agent's answer
    SilentAtGreeting,  // connected, but no answer within the bound
    NotAnAgent,        // answered, but not as a camera's agent does
    Failed,            // any other failure of a socket call (error says which)
};

struct ProbeResult {
    ProbeOutcome outcome = ProbeOutcome::Failed;
    int error = 0;              // errno value of the failing call, when there is one
    std::string strAddress;     // the address the probe connected to, dotted
};

// A configuration file larger than this is not one.
constexpr size_t kMaxConfigBytes = 1u << 20;

// Where the configuration file's name came from, for a person.
std::string ConfigFileText()
{
    const char* env = std::getenv("VISTEL_CONFIG");
    return env != nullptr && *env != '\0' ? "VISTEL_CONFIG=" + px::ConfigPath() : px::ConfigPath();
}

// The raw text of a value, false when the file or the value is missing.
bool RawValue(const char* name, std::string* raw)
{
    std::string text;
    return px::FileReadAll(px::ConfigPath().c_str(), kMaxConfigBytes, &text) == 0 && px::ConfigLookup(text, name, raw);
}

std::string Dotted(uint32_t a)
{
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) +
           "." + std::to_string(a & 0xFF);
}

// The camera as the user named it, with the address a name resolved to.
std::string HostText(const CameraAddress& camera, const ProbeResult& probe)
{
    if (camera.bIsAddress || probe.strAddress.empty())
        return CameraText(camera);
    return camera.strHost + " (" + probe.strAddress + ")";
}

// Reads exactly size bytes, each wait at most until deadline: 0, ETIMEDOUT, ECONNRESET when the
// peer closed first, or the socket's error.
int ReceiveWithin(px::SocketHandle s, uint8_t* data, size_t size, uint64_t deadline)
{
    while (size > 0) {
        const uint64_t now = px::TickCount64();
        bool readable = false;
        if (int e = px::SocketWaitReadable(s, now >= deadline ? 0 : static_cast<int>(deadline - now), &readable))
            return e;
        if (!readable)
            return ETIMEDOUT;
        size_t got = 0;
        if (int e = px::SocketRecv(s, data, size, &got))
            return e;
        if (got == 0)
            return ECONNRESET;
        data += got;
        size -= got;
    }
    return 0;
}

ProbeOutcome ReadFailure(int e)
{
    return e == ETIMEDOUT ? ProbeOutcome::SilentAtGreeting
                          : e == ECONNRESET || e == EPIPE ? ProbeOutcome::ClosedAtGreeting : ProbeOutcome::Failed;
}

// The greeting and, for the publish port, one buffer-list request with the head of its reply, as
// the library speaks them.
ProbeResult Converse(px::SocketHandle s, uint32_t timeoutMs, ProbeDepth depth, ProbeResult r)
{
    const auto hello = AgentEncodeHello();
    if (int e = px::SocketSendAll(s, hello.data(), hello.size())) {
        r.outcome = ReadFailure(e);
        r.error = e;
        return r;
    }
    uint64_t deadline = px::TickCount64() + timeoutMs;
    uint8_t reply[kAgentHelloReplySize], extension[kAgentHelloExtensionSize];
    AgentHelloReply greeting;
    int e = ReceiveWithin(s, reply, sizeof reply, deadline);
    if (e == 0 && AgentDecodeHelloReply(reply, sizeof reply, &greeting) == AGENT_OK && greeting.bExtended) {
        e = ReceiveWithin(s, extension, sizeof extension, deadline);
        if (e == 0 && AgentDecodeHelloExtension(extension, sizeof extension, &greeting) != AGENT_OK)
            e = EPROTO;
    }
    if (e != 0) {
        r.outcome = e == EPROTO ? ProbeOutcome::NotAnAgent : ReadFailure(e);
        r.error = e;
        return r;
    }
    r.outcome = ProbeOutcome::Agent;
    if (depth != ProbeDepth::BufferList)
        return r;

    const uint32_t version = greeting.dwAgentVersion;
    const bool envelopes = AgentUsesEnvelopes(version);
    const AgentCommand list = AgentMakeGetBufferList();
    uint8_t request[kAgentEnvelopeSize + kAgentGetBufferListSize];
    size_t used = 0, written = 0;
    if (envelopes) {
        const auto envelope = AgentEncodeEnvelope(AgentMakeEnvelope(list));
        std::memcpy(request, envelope.data(), envelope.size());
        used = envelope.size();
    }
    AgentEncodeCommand(list, request + used, sizeof request - used, &written);
    if ((e = px::SocketSendAll(s, request, used + written)) != 0) {
        r.outcome = ProbeOutcome::NotAnAgent;
        r.error = e;
        return r;
    }
    deadline = px::TickCount64() + timeoutMs;
    AgentReplyEnvelope envelope;
    uint8_t envelopeBytes[kAgentReplyEnvelopeSize];
    uint32_t sizeA = 0, sizeB = 0;
    if (envelopes) {
        if ((e = ReceiveWithin(s, envelopeBytes, sizeof envelopeBytes, deadline)) == 0 &&
            AgentDecodeReplyEnvelope(envelopeBytes, sizeof envelopeBytes, &envelope) != AGENT_OK)
            e = EPROTO;
    }
    if (e == 0 && AgentReplyPartSizes(CMD_GET_BUFFER_LIST, version, envelopes ? &envelope : nullptr, &sizeA,
                                      &sizeB) != AGENT_OK)
        e = EPROTO;
    uint8_t partA[kAgentMaxReplyPartSize], partB[kAgentMaxReplyPartSize];
    if (e == 0)
        e = ReceiveWithin(s, partA, sizeA, deadline);
    if (e == 0)
        e = ReceiveWithin(s, partB, sizeB, deadline);
    AgentReply decoded;
    if (e == 0 && AgentDecodeReplyParts(CMD_GET_BUFFER_LIST, version, envelopes ? &envelope : nullptr, partA, sizeA,
                                        partB, sizeB, &decoded) != AGENT_OK)
        e = EPROTO;
    if (e != 0) {
        // An agent's greeting, but no agent's reply to the list: the peer is something else.
        r.outcome = ProbeOutcome::NotAnAgent;
        r.error = e;
    }
    return r;
}

std::string Check(const std::string& text) { return "\n  check: " + text; }

} // namespace

std::string PortOrigin::Text() const
{
    return "port " + std::to_string(usPort) + " (the " + strRole + ", " + strOrigin + ")";
}

namespace {

PortOrigin ConfiguredPort(const char* name, uint16_t defaultPort, const char* role, ProbeDepth depth)
{
    PortOrigin o;
    o.strRole = role;
    o.strValueName = name;
    o.depth = depth;
    std::string raw;
    uint32_t value = 0;
    if (RawValue(name, &raw) && px::ConfigParseNumber(raw, &value)) {
        o.usPort = static_cast<uint16_t>(value);   // as the library takes it
        o.strOrigin = std::string(name) + " in " + ConfigFileText();
    } else {
        o.usPort = defaultPort;
        o.strOrigin = "default";
    }
    return o;
}

} // namespace

// The publish port answers a buffer-list request; the watchdog port takes no greeting.
PortOrigin PublishPortOrigin() { return ConfiguredPort("PublishPort", 3072, "publish port", ProbeDepth::BufferList); }
PortOrigin WatchDogPortOrigin() { return ConfiguredPort("WatchDogPort", 3073, "watchdog port", ProbeDepth::Connect); }

PortOrigin BufferPortOrigin(uint16_t port, const std::string& id)
{
    PortOrigin o;
    o.usPort = port;
    o.strRole = "port of buffer " + id;
    o.strOrigin = "from the camera's buffer list";
    o.depth = ProbeDepth::Greeting;
    return o;
}

namespace {

std::vector<std::string> ConfigurationWarnings()
{
    std::vector<std::string> warnings;
    const char* env = std::getenv("VISTEL_CONFIG");
    std::string text;
    const int e = px::FileReadAll(px::ConfigPath().c_str(), kMaxConfigBytes, &text);
    if (e != 0) {
        // Without VISTEL_CONFIG a missing /etc/dravik/vistel.conf is the normal case.
        if ((env != nullptr && *env != '\0') || e != ENOENT)
            warnings.push_back(ConfigFileText() + " cannot be read (" + std::strerror(e) +
                               "): the library uses its defaults for every value");
        return warnings;
    }
    static const struct {
        const char* name;
        uint32_t defaultValue;
        bool port;
    } kValues[] = {
        {"PublishPort", 3072, true},      {"WatchDogPort", 3073, true}, {"AsyncMsgPort", 3075, true},
        {"ShowDebugMessage", 0, false},   {"ConnectTimeout", 5000, false},
    };
    for (const auto& v : kValues) {
        std::string raw;
        uint32_t value = 0;
        if (!px::ConfigLookup(text, v.name, &raw))
            continue;
        const std::string where = std::string(v.name) + "=" + raw + " in " + ConfigFileText();
        if (!px::ConfigParseNumber(raw, &value))
            warnings.push_back(where + " is not a number (decimal or 0x hex): the library uses the default " +
                               std::to_string(v.defaultValue));
        else if (v.port && value > 0xFFFF)
            warnings.push_back(where + " is not a port number (at most 65535): the library uses port " +
                               std::to_string(value & 0xFFFF));
    }
    return warnings;
}

ProbeResult ProbePort(const CameraAddress& camera, uint16_t port, uint32_t timeoutMs, ProbeDepth depth)
{
    ProbeResult r;
    uint32_t address = 0;
    if (camera.bIsAddress) {
        address = px::Ipv4FromBytes(camera.byAddress);
    } else {
        std::vector<uint32_t> addresses;
        if (int e = px::ResolveHostName(camera.strHost.c_str(), &addresses)) {
            r.outcome = e == ENOENT ? ProbeOutcome::UnknownHost : ProbeOutcome::NameService;
            r.error = e;
            return r;
        }
        address = addresses[0];   // the one the library connects to
    }
    r.strAddress = Dotted(address);
    px::SocketHandle s = px::kInvalidSocket;
    if (int e = px::SocketOpen(px::SocketType::Stream, &s)) {
        r.error = e;
        return r;
    }
    const int bound = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
    const int e = px::SocketConnect(s, address, port, bound);
    if (e == 0) {
        r.outcome = ProbeOutcome::Agent;
        if (depth != ProbeDepth::Connect)
            r = Converse(s, timeoutMs, depth, r);
    } else {
        r.error = e;
        // A reset while connecting: the port took the connection and threw it away at once.
        r.outcome = e == ECONNREFUSED                                    ? ProbeOutcome::Refused
                    : e == ECONNRESET                                    ? ProbeOutcome::ClosedAtGreeting
                    : e == ETIMEDOUT                                     ? ProbeOutcome::NoAnswer
                    : e == EHOSTUNREACH || e == ENETUNREACH || e == EHOSTDOWN || e == ENETDOWN
                        ? ProbeOutcome::Unreachable
                        : ProbeOutcome::Failed;
    }
    px::SocketClose(s);
    return r;
}

std::string DescribeProbe(const CameraAddress& camera, const PortOrigin& port, const ProbeResult& probe,
                          uint32_t timeoutMs)
{
    const std::string host = HostText(camera, probe);
    const std::string where = host + " " + port.Text();
    const std::string within = " within " + std::to_string(timeoutMs) + " ms";
    switch (probe.outcome) {
    case ProbeOutcome::Agent: return "the camera's agent answers on " + where;
    case ProbeOutcome::UnknownHost: return "the host name '" + camera.strHost + "' is not known";
    case ProbeOutcome::NameService:
        return "the name service gave no answer for '" + camera.strHost + "' (" + std::strerror(probe.error) + ")";
    case ProbeOutcome::Refused: return "nothing listens on " + where + ": the connection was refused";
    case ProbeOutcome::NoAnswer: return where + " did not answer" + within;
    case ProbeOutcome::Unreachable: return host + " cannot be reached (" + std::strerror(probe.error) + ")";
    case ProbeOutcome::ClosedAtGreeting:
        return where + " accepted the connection and closed it without an agent's greeting: it is not a camera's "
                       "agent";
    case ProbeOutcome::SilentAtGreeting:
        return where + " accepted the connection but did not answer the greeting" + within +
               ": it is not a camera's agent";
    case ProbeOutcome::NotAnAgent: return where + " answers, but not as a camera's agent";
    case ProbeOutcome::Failed: break;
    }
    return "trying " + where + " failed: " + std::strerror(probe.error);
}

std::string Explain(const CameraAddress& camera, uint32_t timeoutMs, uint32_t result, const PortOrigin& port,
                    bool answeredBefore)
{
    const std::string host = CameraText(camera);
    if (result == PX_NO_WATCHDOG) {
        const PortOrigin watchdog = WatchDogPortOrigin();
        const ProbeResult probe = ProbePort(camera, watchdog.usPort, timeoutMs, watchdog.depth);
        // Whatever took the connection there, it did not act as a watchdog.
        const bool connected = probe.outcome == ProbeOutcome::Agent || probe.outcome == ProbeOutcome::ClosedAtGreeting;
        const std::string cause =
            connected ? host + " " + watchdog.Text() + " accepts connections, but the watchdog could not be set up there"
                      : DescribeProbe(camera, watchdog, probe, timeoutMs);
        return "  cause: the camera's watchdog is not available: " + cause +
               Check("that the camera runs its watchdog, and that " + std::to_string(watchdog.usPort) +
                     " is its watchdog port (WatchDogPort in the configuration)");
    }
    if (result == PX_WATCHDOG_LOST) {
        const PortOrigin publish = PublishPortOrigin();
        const ProbeResult probe = ProbePort(camera, publish.usPort, timeoutMs, publish.depth);
        if (probe.outcome == ProbeOutcome::Agent)
            return "  cause: the camera's watchdog stopped signalling, so the camera counts as lost; its agent still "
                   "answers on " + host + " " + publish.Text() +
                   Check("the camera's load (a camera too busy to signal in time) and the network on the way");
        return "  cause: the camera's watchdog stopped signalling, so the camera counts as lost; now " +
               DescribeProbe(camera, publish, probe, timeoutMs) +
               Check("that the camera is switched on and reachable from here, then try again");
    }

    const ProbeResult probe = ProbePort(camera, port.usPort, timeoutMs, port.depth);
    const std::string what = DescribeProbe(camera, port, probe, timeoutMs);
    const std::string shown = HostText(camera, probe);
    switch (probe.outcome) {
    case ProbeOutcome::Agent:
        return "  cause: " + what +
               ", so the call's connection was dropped (the agent closed it, or the network cut it) or the agent's "
               "reply did not fit the request" +
               Check("the camera's log and load, then try again");
    case ProbeOutcome::UnknownHost:
    case ProbeOutcome::NameService:
        return "  cause: " + what + Check("the name's spelling and this machine's name service, or give the camera's "
                                          "IPv4 address");
    case ProbeOutcome::Refused:
        if (answeredBefore)
            return "  cause: the camera went away: " + what +
                   " now (its agent ended, or the camera restarted)" + Check("that the camera runs, then try again");
        return "  cause: " + what +
               Check("that " + shown + " is the camera and its agent runs, and that " + std::to_string(port.usPort) +
                     " is its " + port.strRole +
                     (port.strValueName.empty() ? " (the camera may have withdrawn it)"
                                                : " (" + port.strValueName + " in the configuration)"));
    case ProbeOutcome::NoAnswer:
        return std::string("  cause: the camera ") + (answeredBefore ? "stopped answering: " : "did not answer: ") +
               what +
               Check("the address, that the camera is switched on and reachable from here (ping " + shown +
                     "), and the firewalls on the way");
    case ProbeOutcome::Unreachable:
        return "  cause: " + what + Check("the address and this machine's network connection");
    case ProbeOutcome::ClosedAtGreeting:
    case ProbeOutcome::SilentAtGreeting:
    case ProbeOutcome::NotAnAgent:
        return "  cause: " + what +
               Check("that " + shown + " is the camera and " + std::to_string(port.usPort) + " its " + port.strRole +
                     ": another program answers there");
    case ProbeOutcome::Failed: break;
    }
    return "  cause: " + what + Check("this machine's network settings");
}

} // namespace

std::string DiagnosisLines(const CameraAddress& camera, uint32_t timeoutMs, uint32_t result, const PortOrigin& port,
                           bool answeredBefore)
{
    if (result != PX_COMM_ERROR && result != PX_WATCHDOG_LOST && result != PX_NO_WATCHDOG)
        return {};
    return "\n" + Explain(camera, timeoutMs, result, port, answeredBefore);
}

void WarnAboutConfiguration(const char* tool)
{
    for (const std::string& w : ConfigurationWarnings())
        std::fprintf(stderr, "%s: warning: %s\n", tool, w.c_str());
}

} // namespace pxtool
