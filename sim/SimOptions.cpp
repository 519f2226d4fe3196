#include "sim/SimOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "image/PixelFormat.h"
#include "sim/SimPattern.h"

namespace pxsim {

namespace {

bool ParseU32(const std::string& text, uint32_t* out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull || text[0] == '-')
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool ParsePort(const std::string& text, uint16_t* out)
{
    uint32_t v = 0;
    if (!ParseU32(text, &v) || v > 65535)
        return false;
    *out = static_cast<uint16_t>(v);
    return true;
}

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

// "A,B,C,D" or "AxB" into numbers.
bool ParseNumbers(const std::string& text, char sep, size_t count, uint32_t* out)
{
    std::vector<std::string> parts = Split(text, sep);
    if (parts.size() != count)
        return false;
    for (size_t i = 0; i < count; ++i)
        if (!ParseU32(parts[i], &out[i]))
            return false;
    return true;
}

// A format by its name (in any case: "mono8", "rgb24", ...) or its code.
bool ParseFormat(const std::string& text, uint32_t* out)
{
    for (uint32_t code : {PX_FORMAT_MONO8, PX_FORMAT_SYSCOLOR8, PX_FORMAT_RGB24, PX_FORMAT_RGB32, PX_FORMAT_YUV16,
                          PX_FORMAT_RGB16}) {
        if (strcasecmp(text.c_str(), pximage::FormatName(code)) == 0) {
            *out = code;
            return true;
        }
    }
    return ParseU32(text, out) && pximage::BytesPerPixel(*out) != 0;
}

bool ParseType(const std::string& text, uint32_t* out)
{
    if (text == "image")
        *out = PX_BUFTYPE_IMAGE;
    else if (text == "text")
        *out = PX_BUFTYPE_TEXT;
    else if (text == "histogram")
        *out = PX_BUFTYPE_HISTOGRAM;
    else if (text == "array")
        *out = PX_BUFTYPE_ARRAY;
    else if (text == "input")
        *out = PX_BUFTYPE_INPUT;
    else if (!ParseU32(text, out) || !((*out >= 1 && *out <= 11) || *out == 101))
        return false;
    return true;
}

bool Fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool ParseVersion(const std::string& text, uint32_t* version)
{
    uint32_t parts[3];
    if (ParseNumbers(text, '.', 3, parts)) {
        if (parts[0] > 255 || parts[1] > 255 || parts[2] > 65535)
            return false;
        *version = (parts[0] << 24) | (parts[1] << 16) | parts[2];
        return true;
    }
    return ParseU32(text, version);
}

bool ParseBufferOption(const std::string& text, SimBufferConfig* out, std::string* error)
{
    std::vector<std::string> parts = Split(text, ':');
    if (parts.size() < 2 || parts[0].empty() || parts[0].size() > 4)
        return Fail(error, "buffer \"" + text + "\": expected ID:TYPE[:key=value...] with an ID of 1 to 4 characters");
    SimBufferConfig b;
    b.id = px::agent::BufferId::FromText(parts[0].c_str());
    if (!ParseType(parts[1], &b.dwType))
        return Fail(error, "buffer \"" + text + "\": unknown type \"" + parts[1] + "\"");
    for (size_t i = 2; i < parts.size(); ++i) {
        const std::string& kv = parts[i];
        const size_t eq = kv.find('=');
        const std::string key = kv.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : kv.substr(eq + 1);
        uint32_t n[4];
        bool ok = true;
        if (key == "size") {
            ok = ParseNumbers(value, 'x', 2, n);
            b.dwFullSizeX = n[0], b.dwFullSizeY = n[1];
        } else if (key == "format") {
            ok = ParseFormat(value, &b.dwPixelFormat);
        } else if (key == "port") {
            ok = ParsePort(value, &b.usPort);
        } else if (key == "window") {
            ok = ParseNumbers(value, ',', 4, n);
            b.dwOffsetX = n[0], b.dwOffsetY = n[1], b.dwSizeX = n[2], b.dwSizeY = n[3];
        } else if (key == "mode") {
            ok = ParseU32(value, &b.dwSubsection) && b.dwSubsection <= 2;
        } else if (key == "sync") {
            b.bSyncDelivery = true;
        } else if (key == "region") {
            if (value.empty()) {
                b.bRegionReplies = true;
            } else {
                ok = ParseNumbers(value, ',', 4, n);
                b.bRegionReplies = true;
                b.dwRegionX = n[0], b.dwRegionY = n[1], b.dwRegionW = n[2], b.dwRegionH = n[3];
            }
        } else if (key == "owner") {
            b.strOwner = value;
        } else if (key == "comment") {
            b.strComment = value;
        } else if (key == "source") {
            b.strSource = value;
        } else if (key == "chars") {
            ok = ParseU32(value, &b.dwTextChars) && b.dwTextChars > 0;
        } else if (key == "vt") {
            ok = ParseU32(value, &b.dwArrayType) && SimArrayElementSize(b.dwArrayType) != 0;
        } else if (key == "count") {
            ok = ParseU32(value, &b.dwArrayCount);
        } else if (key == "elements") {
            ok = ParseU32(value, &b.dwElements);
        } else {
            return Fail(error, "buffer \"" + text + "\": unknown setting \"" + key + "\"");
        }
        if (!ok)
            return Fail(error, "buffer \"" + text + "\": bad value in \"" + kv + "\"");
    }
    *out = b;
    return true;
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions* out, std::string* error)
{
    SimOptions o;
    o.config = DefaultSimConfig();
    o.config.web.bEnabled = o.config.web.bOptional = true;
    bool buffersGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= args.size())
                return false;
            *v = args[++i];
            return true;
        };
        std::string v;
        uint32_t n = 0;
        bool ok = true;
        SimFaults& f = o.config.faults;
        if (a == "-h" || a == "--help") {
            o.bHelp = true;
        } else if (a == "-v") {
            ++o.dwVerbosity;
        } else if (a == "-q" || a == "--quiet") {
            o.dwVerbosity = 0;
        } else if (a == "--verbosity") {
            ok = value(&v) && ParseU32(v, &o.dwVerbosity);
        } else if (a == "--interactive") {
            o.bInteractive = true;
        } else if (a == "--address") {
            uint32_t parts[4];
            ok = value(&v) && ParseNumbers(v, '.', 4, parts) && parts[0] < 256 && parts[1] < 256 && parts[2] < 256 &&
                 parts[3] < 256;
            if (ok)
                o.config.dwBindAddress = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
        } else if (a == "--publish-port") {
            ok = value(&v) && ParsePort(v, &o.config.usPublishPort);
        } else if (a == "--watchdog-port") {
            ok = value(&v) && ParsePort(v, &o.config.usWatchdogPort);
        } else if (a == "--message-port") {
            ok = value(&v) && ParsePort(v, &o.config.usMessagePort);
        } else if (a == "--buffer-port") {
            ok = value(&v) && ParsePort(v, &o.config.usFirstBufferPort);
        } else if (a == "--ephemeral") {
            o.config.usPublishPort = o.config.usWatchdogPort = o.config.usMessagePort = 0;
            o.config.usFirstBufferPort = 0;
            o.config.web.usPort = 0;
            o.config.web.bOptional = false;
        } else if (a == "--agent-version") {
            ok = value(&v) && ParseVersion(v, &o.config.dwAgentVersion);
        } else if (a == "--list-record-size") {
            ok = value(&v) && ParseU32(v, &n) && n >= 540 && n <= 65536;
            o.config.dwListRecordSize = n;
        } else if (a == "--frame-interval") {
            ok = value(&v) && ParseU32(v, &o.config.dwFrameIntervalMs);
        } else if (a == "--fps") {
            ok = value(&v) && ParseU32(v, &n) && n > 0 && n <= 1000;
            o.config.dwFrameIntervalMs = n ? 1000 / n : 0;
        } else if (a == "--watchdog-id") {
            ok = value(&v) && ParseU32(v, &o.config.dwWatchdogId);
        } else if (a == "--buffer") {
            SimBufferConfig b;
            if (!value(&v))
                return Fail(error, "--buffer needs a value");
            if (!ParseBufferOption(v, &b, error))
                return false;
            if (!buffersGiven)
                o.config.buffers.clear();
            buffersGiven = true;
            o.config.buffers.push_back(b);
        } else if (a == "--wd-stop-after") {
            ok = value(&v) && ParseU32(v, &f.dwWatchdogStopAfterMs);
        } else if (a == "--wd-no-check") {
            f.bWatchdogNoCheckReply = true;
        } else if (a == "--refuse") {
            ok = value(&v);
            if (v == "publish")
                f.bRefusePublish = true;
            else if (v == "watchdog")
                f.bRefuseWatchdog = true;
            else if (v == "message")
                f.bRefuseMessage = true;
            else if (v == "buffers")
                f.bRefuseBuffers = true;
            else
                ok = false;
        } else if (a == "--drop-after") {
            ok = value(&v) && ParseU32(v, &f.dwDropAfterRequests);
        } else if (a == "--drop-mid-reply") {
            f.bDropMidReply = true;
        } else if (a == "--delay") {
            ok = value(&v) && ParseU32(v, &f.dwReplyDelayMs);
        } else if (a == "--resource-zero") {
            f.bResourceCheckZero = true;
        } else if (a == "--short-reply") {
            f.bShortReply = true;
        } else if (a == "--hostile") {
            ok = value(&v);
            if (v == "partc")
                f.bHostilePartC = true;
            else if (v == "region")
                f.bHostileRegion = true;
            else if (v == "listcount")
                f.bHostileListCount = true;
            else
                ok = false;
        } else if (const int web = ParseSimWebOption(args, &i, &o.config.web, error); web != 0) {
            if (web < 0)
                return false;
        } else {
            return Fail(error, "unknown option \"" + a + "\" (see --help)");
        }
        if (!ok)
            return Fail(error, "bad or missing value for " + a);
    }
    *out = o;
    return true;
}

const char* SimUsage()
{
    return "Usage: kelvo-sim [options]\n"
           "A simulated Kelvo camera agent: publish port, watchdog port, message port and one port per\n"
           "exchange buffer, serving a moving test pattern and the other buffer types.\n"
           "\n"
           "Ports and agent:\n"
           "  --address A.B.C.D        address to listen on (default 127.0.0.1)\n"
           "  --publish-port N         publish port (default 3072; 0: any free port)\n"
           "  --watchdog-port N        watchdog port (default 3073; 0: any)\n"
           "  --message-port N         asynchronous message port (default 3075; 0: any)\n"
           "  --buffer-port N          first port of the buffers without a port (default 3100; 0: any)\n"
           "  --ephemeral              every port 0 (any free port, the web service's too); the ports\n"
           "                           are logged\n"
           "  --agent-version V        agent version X.Y.Z or a number (default 4.0.300). 0 and 2.2.0 or\n"
           "                           above talk with envelopes; below 2.0.0 no greeting extension\n"
           "  --list-record-size N     buffer-list record size for new agents (540 to 65536)\n"
           "  --watchdog-id N          identity answered to WD_GET_ID\n"
           "\n"
           "Frames:\n"
           "  --fps N                  frames per second (default 25)\n"
           "  --frame-interval MS      milliseconds between frames; 0: frames only on the 'frame' command\n"
           "\n"
           "Buffers (the default set is IMG0 640x480 mono8, HIST, TEXT, ARR0 and INP0; the first --buffer\n"
           "replaces it):\n"
           "  --buffer ID:TYPE[:key=value...]\n"
           "      TYPE: image, histogram, text, array, input, or a number 2 to 11 or 101\n"
           "      size=WxH             image full size (default 640x480)\n"
           "      format=F             mono8, syscolor8, rgb24, rgb32, yuv16, rgb16, or the code\n"
           "      window=X,Y,W,H       initial offset and size; mode=M subsection mode (0 scaled, 1 window)\n"
           "      sync                 ask for synchronous delivery (data description word 11)\n"
           "      region[=X,Y,W,H]     answer with a region of the image (default: the middle quarter)\n"
           "      port=N               the buffer's port\n"
           "      owner=NAME comment=TEXT   texts of the buffer list\n"
           "      source=ID            histogram: the image it counts (default: the first image)\n"
           "      chars=N              text: characters of the text area\n"
           "      vt=T count=N         array: element type (2 3 4 5 16 17 18 19 22 23) and count\n"
           "      elements=N           types 2, 3, 4, 7, 8, 9, 10: number of 32-bit elements\n"
           "\n"
           "Faults:\n"
           "  --wd-stop-after MS       stop the watchdog signals MS after they started\n"
           "  --wd-no-check            do not answer WD_CHECK\n"
           "  --refuse P               refuse connections on publish, watchdog, message or buffers\n"
           "  --drop-after N           close a command connection after N requests\n"
           "  --drop-mid-reply         close a data connection half-way through each data reply\n"
           "  --delay MS               delay every reply\n"
           "  --resource-zero          answer every resource check with 0\n"
           "  --short-reply            send replies 4 bytes shorter than announced\n"
           "  --hostile partc          announce more data than the buffer holds\n"
           "  --hostile region         answer images with a region outside the image\n"
           "  --hostile listcount      announce 2^31 buffer-list records\n"
           "\n"
           "Other:\n"
           "  -v, --verbosity N        log detail: 0 nothing, 1 connections (default), 2 commands,\n"
           "                           3 every reply; -v raises it by one, -q sets 0\n"
           "  --interactive            read commands from standard input:\n"
           "                             add ID:TYPE[:key=value...]   publish one more buffer\n"
           "                             remove ID                    withdraw a buffer\n"
           "                             frame                        make one frame now\n"
           "                             quit                         stop\n"
           "  -h, --help               this text\n"
           "\n"
           "kelvo-sim stops cleanly on SIGINT and SIGTERM.\n";
}

} // namespace pxsim
