// pellix-ls: lists what a camera publishes.
//
//   pellix-ls [camera] [-t MS]
//
// Opens a client with an agent channel and prints the agent's watchdog status, what the library
// lets us tell about the agent's version, and every published buffer: identifier, type, port,
// owning process and second text; then it subscribes each buffer in turn to print its client
// count (this listing included) and its info record in words. Without a camera argument kelvo-sim
// runs in this process. A failure that leaves nothing to list ends with a message naming the
// library's result, its cause and what to check (tools/Diagnosis.h), and status 1; a buffer that
// cannot be subscribed is reported on its line.
//
// Threads: the main thread does all of it; the library's link, watchdog and message threads and
// (without a camera) the simulator's threads run beside it.
#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pellix/pellix.h"
#include "image/ImageWriter.h"
#include "tools/Diagnosis.h"
#include "tools/ToolSupport.h"

namespace {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "pellix-ls: %s\n", message.c_str());
    return 1;
}

// The library gives no agent version; two of its answers bound it.
std::string AgentVersionText(PXHANDLE h, uint16_t anyPort)
{
    uint32_t answer = 0;
    const bool resourceCheck = PXVerifyResources(h, anyPort, &answer) != PX_NOT_SUPPORTED;
    const bool listChanges = PXGetRefreshListEvent(h) != 0;
    if (listChanges)
        return "4.0.197 or later (announces list changes)";
    if (resourceCheck)
        return "3.0.341 or later (checks resources; announces no list changes)";
    return "older than 3.0.341 (no resource check)";
}

std::string InfoText(PXHANDLE h, const char* id, uint32_t type)
{
    if (type == PX_BUFTYPE_INPUT)
        return "no info record (input channel)";
    auto item = [&](uint32_t param, uint32_t* value) { return PXGetExchangeBufferInfo(h, id, param, value) == PX_OK; };
    char text[256];
    if (type == PX_BUFTYPE_IMAGE) {
        PXBufferInfo info;
        std::memset(&info, 0, sizeof info);
        const uint32_t r = PXGetExchangeBufferInfoStruct(h, id, &info);
        if (r != PX_OK)
            return "info record: " + pxtool::PxResultText(r);
        const char* format = pximage::FormatName(info.image.format);
        std::snprintf(text, sizeof text, "%ux%u at %u,%u of %ux%u, %s, %u band%s, %u bytes, subsection %u",
                      info.image.sizeX, info.image.sizeY, info.image.offsetX, info.image.offsetY, info.image.fullSizeX,
                      info.image.fullSizeY, format ? format : ("format " + std::to_string(info.image.format)).c_str(),
                      info.image.numBands, info.image.numBands == 1 ? "" : "s", info.image.dataSize,
                      info.image.subsection);
        return text;
    }
    uint32_t size = 0, x = 0, y = 0, word1 = 0;
    const uint32_t r = PXGetExchangeBufferInfo(h, id, PX_INFO_DATA_SIZE, &size);
    if (r != PX_OK)
        return "info record: " + pxtool::PxResultText(r);
    std::string s = std::to_string(size) + " bytes";
    // Items a type does not have leave the value untouched, so each is asked with a marker.
    x = y = word1 = 0xFFFFFFFFu;
    if (item(PX_INFO_SIZE_X, &x) && item(PX_INFO_SIZE_Y, &y) && x != 0xFFFFFFFFu && y != 0xFFFFFFFFu)
        s += ", size " + std::to_string(x) + "x" + std::to_string(y);
    if (item(PX_INFO_1008, &word1) && word1 != 0xFFFFFFFFu)
        s += ", item 1008 = " + std::to_string(word1);
    return s;
}

int Run(const std::string& cameraText, uint32_t timeoutMs)
{
    pxtool::CameraAddress camera;
    std::string error;
    if (!pxtool::ParseCameraArgument(cameraText, &camera, &error))
        return Fail(error);
    pxtool::CToolCamera sim;  // outlives the client below
    if (camera.bSimulator) {
        if (!sim.Start(&error))
            return Fail(error);
        camera = sim.Address();
    } else {
        pxtool::WarnAboutConfiguration("pellix-ls");
    }

    PXHANDLE h = 0;
    uint32_t r = pxtool::OpenCameraClient(camera, "pellix-ls", timeoutMs, &h);
    if (r != PX_OK)
        return Fail("PXClientInit failed: " + pxtool::PxResultText(r));
    struct Close {
        PXHANDLE h;
        ~Close() { PXClientTerminate(h); }
    } close{h};

    uint32_t count = 0;
    const PXBufferListEntry* list = nullptr;
    if ((r = PXGetBufferList(h, &count, &list)) != PX_OK)
        return Fail("reading the camera's buffer list (PXGetBufferList) failed: " + pxtool::PxResultText(r) +
                    pxtool::DiagnosisLines(camera, timeoutMs, r, pxtool::PublishPortOrigin(), false));
    const std::vector<PXBufferListEntry> entries(list, list + count);

    std::printf("camera: %s\n", camera.bSimulator ? "simulated, in this process (127.0.0.1)"
                                : camera.bIsAddress ? cameraText.c_str()
                                                    : camera.strHost.c_str());
    uint32_t status = 0;
    if ((r = PXGetWatchDogStatus(h, &status)) != PX_OK)
        std::printf("watchdog: unknown, %s\n", pxtool::PxResultText(r).c_str());
    else
        std::printf("watchdog: %s\n", status == PX_OK ? "receiving signals" : pxtool::PxResultText(status).c_str());
    std::printf("agent version: %s\n", AgentVersionText(h, entries.empty() ? 0 : entries[0].port).c_str());
    std::printf("buffers: %u\n", count);

    for (const PXBufferListEntry& e : entries) {
        char id[4];
        std::memcpy(id, e.id, 4);
        std::printf("  %-4s  %-9s  port %-5u  %s  \"%s\"\n", pxtool::BufferIdText(e.id).c_str(),
                    pxtool::BufferTypeName(e.type).c_str(), unsigned{e.port}, e.processName, e.text);
        r = PXSetExchangeBuffer(h, e.port, id, 0, h);
        if (r != PX_OK) {
            std::printf("        not subscribed: %s%s\n", pxtool::PxResultText(r).c_str(),
                        pxtool::DiagnosisLines(camera, timeoutMs, r,
                                               pxtool::BufferPortOrigin(e.port, pxtool::BufferIdText(e.id)), true)
                            .c_str());
            continue;
        }
        uint32_t clients = 0;
        r = PXGetNumberOfClient(h, id, &clients);
        const std::string clientText =
            r == PX_OK ? std::to_string(clients) + " client" + (clients == 1 ? "" : "s") + " (this listing included)"
                       : "clients unknown: " + pxtool::PxResultText(r);
        std::printf("        %s; %s\n", clientText.c_str(), InfoText(h, id, e.type).c_str());
    }
    return 0;
}

} // namespace

const char kUsage[] = "usage: pellix-ls [camera] [-t MS]\n"
                      "  camera            host name or dotted IPv4 address; none: a simulated camera in this process\n";

int main(int argc, char** argv)
{
    static const option kLong[] = {
        {"timeout", required_argument, nullptr, 't'}, {"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
    uint32_t timeoutMs = pxtool::kDefaultTimeoutMs;
    int c = 0;
    while ((c = getopt_long(argc, argv, "t:h", kLong, nullptr)) != -1) {
        switch (c) {
        case 't':
            if (!pxtool::ParseTimeout(optarg, &timeoutMs)) {
                std::fprintf(stderr, "pellix-ls: --timeout wants milliseconds from 1 to 3600000: '%s'\n", optarg);
                return 2;
            }
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            std::fputs(pxtool::ConnectionHelp().c_str(), stdout);
            return 0;
        default: std::fputs(kUsage, stderr); return 2;   // getopt named the option
        }
    }
    if (argc - optind > 1) {
        std::fprintf(stderr, "pellix-ls: one camera only ('%s' is extra)\n%s", argv[optind + 1], kUsage);
        return 2;
    }
    return Run(optind < argc ? argv[optind] : "", timeoutMs);
}
