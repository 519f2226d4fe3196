// Shared pieces of the command-line tools; see ToolSupport.h.
#include "tools/ToolSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "netaccess/protocol/BufferId.h"
#include "platform/Config.h"
#include "platform/File.h"
#include "sim/KelvoSim.h"

namespace pxtool {

namespace {

// Each part 0 to 255, exactly four parts of digits.
bool ParseDottedAddress(const std::string& text, uint8_t out[4])
{
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        const size_t start = pos;
        uint32_t value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3)
            value = value * 10 + uint32_t(text[pos++] - '0');
        if (pos == start || value > 255)
            return false;
        out[part] = static_cast<uint8_t>(value);
    }
    return pos == text.size();
}

} // namespace

std::string PxResultText(uint32_t result) { return PXGetResultText(result); }

std::string BufferTypeName(uint32_t type)
{
    switch (type) {
    case PX_BUFTYPE_IMAGE: return "image";
    case PX_BUFTYPE_TEXT: return "text";
    case PX_BUFTYPE_HISTOGRAM: return "histogram";
    case PX_BUFTYPE_ARRAY: return "array";
    case PX_BUFTYPE_INPUT: return "input";
    default: return "type " + std::to_string(type);
    }
}

std::string BufferIdText(const char id[4]) { return px::agent::BufferId::FromChars(id).ToText().c_str(); }

bool ParseCameraArgument(const std::string& text, CameraAddress* out, std::string* error)
{
    CameraAddress a;
    if (text.empty()) {
        *out = a;
        return true;
    }
    a.bSimulator = false;
    if (ParseDottedAddress(text, a.byAddress)) {
        a.bIsAddress = true;
    } else {
        // A host name: letters, digits, dots and hyphens, as the record holds at most 255.
        bool ok = text.size() < 256;
        for (char c : text)
            ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_');
        if (!ok) {
            *error = "'" + text + "' is neither a dotted IPv4 address nor a host name";
            return false;
        }
        a.strHost = text;
    }
    *out = a;
    return true;
}

namespace {
// The watchdog signals every 250 ms (ending a client waits for the next signal, so a short period
// makes the tools end quickly) and is lost after 1.5 s, 3 tries.
constexpr uint32_t kSignalDelayMs = 250, kSignalTimeoutMs = 1500, kRetries = 3;
constexpr uint32_t kLongestTimeoutMs = 3600000;
} // namespace

std::string CameraText(const CameraAddress& camera)
{
    if (!camera.bIsAddress)
        return camera.strHost;
    return std::to_string(camera.byAddress[0]) + "." + std::to_string(camera.byAddress[1]) + "." +
           std::to_string(camera.byAddress[2]) + "." + std::to_string(camera.byAddress[3]);
}

bool ParseTimeout(const char* text, uint32_t* timeoutMs)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || v == 0 || v > kLongestTimeoutMs)
        return false;
    *timeoutMs = static_cast<uint32_t>(v);
    return true;
}

std::string ConnectionHelp()
{
    return "  -t, --timeout MS  how long every connect and every request waits (default " +
           std::to_string(kDefaultTimeoutMs) +
           " ms)\n"
           "ports: the camera's publish port 3072, watchdog port 3073 and message port 3075, or PublishPort,\n"
           "  WatchDogPort and AsyncMsgPort of the configuration file (VISTEL_CONFIG names it, else\n"
           "  /etc/dravik/vistel.conf); each buffer's port comes from the camera's buffer list\n"
           "watchdog: it signals every " +
           std::to_string(kSignalDelayMs) + " ms, and a signal missing for " + std::to_string(kSignalTimeoutMs) +
           " ms counts the camera as lost\n"
           "failures: exit status 1 with the library's result, its cause (found by trying the camera's\n"
           "  name and port again) and what to check; wrong use: status 2\n";
}

uint32_t OpenCameraClient(const CameraAddress& camera, const char* clientName, uint32_t timeoutMs, PXHANDLE* handle)
{
    const char* host = camera.bIsAddress ? nullptr : camera.strHost.c_str();
    const uint8_t* address = camera.bIsAddress ? camera.byAddress : nullptr;
    return PXClientInit(host, address, clientName, handle, timeoutMs, 1, kSignalDelayMs, kSignalTimeoutMs, kRetries);
}

namespace {
// A configuration file is a few lines; anything far larger is not one.
constexpr size_t kLargestConfigBytes = 1 << 20;
} // namespace

CConfigLayer::~CConfigLayer()
{
    if (m_strPath.empty())
        return;
    unlink(m_strPath.c_str());
    if (m_bHadPrevious)
        setenv("VISTEL_CONFIG", m_strPrevious.c_str(), 1);
    else
        unsetenv("VISTEL_CONFIG");
}

bool CConfigLayer::Put(const std::string& lines, std::string* error)
{
    if (m_strPath.empty()) {
        const char* previous = std::getenv("VISTEL_CONFIG");
        m_bHadPrevious = previous != nullptr;
        m_strPrevious = previous != nullptr ? previous : "";
        const std::string below = px::ConfigPath();
        // No file underneath is the usual case (every value at its default); one that cannot be
        // read would silently lose the user's values, so it is an error.
        if (int e = px::FileReadAll(below.c_str(), kLargestConfigBytes, &m_strBelow); e != 0 && e != ENOENT) {
            *error = "cannot read the configuration file " + below + ": " + std::strerror(e);
            return false;
        }
        if (!m_strBelow.empty() && m_strBelow.back() != '\n')
            m_strBelow += '\n';
        const char* dir = std::getenv("TMPDIR");
        std::string path = std::string(dir && *dir ? dir : "/tmp") + "/pellix-tool-XXXXXX";
        const int fd = mkstemp(path.data());
        if (fd < 0) {
            *error = "cannot create a configuration file " + path + ": " + std::strerror(errno);
            return false;
        }
        close(fd);
        m_strPath = path;
    }
    const std::string text = m_strBelow + lines;
    if (int e = px::FileWriteAll(m_strPath.c_str(), text.data(), text.size()); e != 0) {
        *error = "cannot write the configuration file " + m_strPath + ": " + std::strerror(e);
        return false;
    }
    setenv("VISTEL_CONFIG", m_strPath.c_str(), 1);
    return true;
}

struct CToolCamera::Impl {
    pxsim::CKelvoSim sim;
    CConfigLayer config;
};

CToolCamera::CToolCamera() : m_pImpl(std::make_unique<Impl>()) {}

CToolCamera::~CToolCamera() { m_pImpl->sim.Stop(); }

bool CToolCamera::Start(std::string* error)
{
    pxsim::SimConfig config = pxsim::DefaultSimConfig();
    config.usPublishPort = config.usWatchdogPort = config.usMessagePort = config.usFirstBufferPort = 0;
    config.dwFrameIntervalMs = 40;
    if (int e = m_pImpl->sim.Start(config)) {
        *error = std::string("the in-process simulator did not start: ") + std::strerror(e);
        return false;
    }
    return m_pImpl->config.Put(m_pImpl->sim.ClientConfigText(), error);
}

std::string CToolCamera::ConfigFile() const { return m_pImpl->config.Path(); }

CameraAddress CToolCamera::Address() const
{
    CameraAddress a;
    a.bSimulator = true;
    a.bIsAddress = true;
    a.byAddress[0] = 127, a.byAddress[3] = 1;
    return a;
}

} // namespace pxtool
