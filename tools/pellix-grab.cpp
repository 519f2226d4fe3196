// pellix-grab: reads frames (or records) of one exchange buffer of a camera and saves them.
//
//   pellix-grab [camera] [-b ID] [-n N] [-o DIR] [--format png|pgm|raw] [--roi X,Y,W,H] [--force] [-t MS]
//
// Opens a client with an agent channel, takes the buffer list, subscribes the buffer (without -b
// the first image buffer), optionally sets its window, then reads N frames, writes each to
// DIR/ID-NNNN.ext and keeps one live line with frames per second and MB/s. Without a camera
// argument kelvo-sim runs in this process and serves the default camera. Any failure ends the
// program with a message naming the library's result, its cause and what to check
// (tools/Diagnosis.h), and a non-zero status (1; 2 for usage).
//
// Threads: the main thread parses, calls the library and writes the files; the library's link,
// watchdog and message threads and (without a camera) the simulator's threads run beside it. One
// more thread waits for SIGINT and SIGTERM (blocked everywhere else) and cancels a waiting read
// with PXCancelTransfers; the program then ends with status 130.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pellix/pellix.h"
#include "image/ImageWriter.h"
#include "tools/Diagnosis.h"
#include "tools/ToolSupport.h"

namespace {

// SIGINT and SIGTERM are blocked in every thread and taken by this watcher with sigwait, which
// may then call the library: it cancels a read that waits for a frame, so that Ctrl-C ends the
// program at once and not after the read's time-outs. The client is ended under the same lock,
// so a cancel never meets a handle being terminated. Outside the reads nothing can be cancelled
// (connects, subscribing, and the diagnosis of a failure each wait up to the time-out), so there
// the program ends at once, removing the in-process simulator's configuration file first.
class CInterruptWatcher {
public:
    // Before any thread starts, so that all of them inherit the blocked signals.
    static void BlockSignals()
    {
        sigset_t set = Signals();
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }
    void Start()
    {
        m_thread = std::thread([this] { Watch(); });
    }
    ~CInterruptWatcher()
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_bDone = true;
        }
        kill(getpid(), SIGUSR1);  // a process signal: only the watcher takes it
        m_thread.join();
    }
    void SetHandle(PXHANDLE h)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_h = h;
    }
    // While set, a signal cancels the reads; otherwise it ends the program.
    void SetReading(bool reading)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bReading = reading;
    }
    // A file to remove when a signal ends the program.
    void SetScratchFile(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_strScratch = path;
    }
    // Ends the client unless a cancel is being made, then never again.
    void Terminate()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_h != 0)
            PXClientTerminate(m_h);
        m_h = 0;
    }
    bool Interrupted() const { return m_bInterrupted.load(); }

private:
    static sigset_t Signals()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGUSR1);
        return set;
    }
    void Watch()
    {
        const sigset_t set = Signals();
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0)
                return;
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_bDone)
                return;
            if (signal == SIGUSR1)
                continue;
            m_bInterrupted = true;
            if (m_bReading && m_h != 0) {
                PXCancelTransfers(m_h);
                continue;
            }
            if (!m_strScratch.empty())
                unlink(m_strScratch.c_str());
            std::fputs("\npellix-grab: interrupted\n", stderr);
            _exit(130);
        }
    }

    std::mutex m_lock;
    PXHANDLE m_h = 0;
    bool m_bReading = false;
    std::string m_strScratch;
    bool m_bDone = false;
    std::atomic<bool> m_bInterrupted{false};
    std::thread m_thread;
};

// Frames larger than this are a camera's claim we do not believe.
constexpr uint64_t kMaxFrameBytes = uint64_t{512} << 20;

struct Options {
    std::string strCamera;
    std::string strBuffer;
    uint32_t dwFrames = 5;
    std::string strDir = ".";
    pximage::ImageFileFormat format = pximage::ImageFileFormat::Png;
    bool bRoi = false;
    uint32_t dwRoi[4] = {};  // x, y, w, h
    bool bForce = false;
    uint32_t dwTimeoutMs = pxtool::kDefaultTimeoutMs;
};

const char kUsage[] =
    "usage: pellix-grab [camera] [-b ID] [-n N] [-o DIR] [--format png|pgm|raw] [--roi X,Y,W,H] [--force] [-t MS]\n"
    "  camera            host name or dotted IPv4 address; none: a simulated camera in this process\n"
    "  -b ID             the buffer to read (default: the first image buffer of the camera's list)\n"
    "  -n N              frames or records to read (default 5)\n"
    "  -o DIR            where the files go (default: the current folder; made when missing)\n"
    "  --format F        png (default), pgm (PGM or PPM by colour) or raw (the bytes as received)\n"
    "  --roi X,Y,W,H     read only this window of the image (the camera may move it to fit: the window\n"
    "                    it chose is shown)\n"
    "  --force           ask for data at once instead of waiting for each new frame\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "pellix-grab: %s\n", message.c_str());
    return 1;
}

// diagnosis: the lines of pxtool::DiagnosisLines, or nothing.
int FailPx(const std::string& what, uint32_t result, const std::string& diagnosis = {})
{
    return Fail(what + " failed: " + pxtool::PxResultText(result) + diagnosis);
}

bool ParseNumber(const char* text, uint32_t* out)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v > 0xFFFFFFFFul || text[0] == '-')
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool ParseRoi(const std::string& text, uint32_t out[4])
{
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < 3) != (comma != std::string::npos))
            return false;
        if (!ParseNumber(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start).c_str(),
                         &out[i]))
            return false;
        start = comma + 1;
    }
    return out[2] > 0 && out[3] > 0;
}

// 0 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options* o)
{
    static const option kLong[] = {
        {"format", required_argument, nullptr, 'f'}, {"roi", required_argument, nullptr, 'r'},
        {"force", no_argument, nullptr, 'F'},        {"help", no_argument, nullptr, 'h'},
        {"timeout", required_argument, nullptr, 't'}, {nullptr, 0, nullptr, 0},
    };
    int c = 0;
    while ((c = getopt_long(argc, argv, "b:n:o:t:h", kLong, nullptr)) != -1) {
        switch (c) {
        case 'b':
            o->strBuffer = optarg;
            if (o->strBuffer.empty() || o->strBuffer.size() > 4) {
                std::fprintf(stderr, "pellix-grab: a buffer identifier has 1 to 4 characters: '%s'\n", optarg);
                return 2;
            }
            break;
        case 'n':
            if (!ParseNumber(optarg, &o->dwFrames) || o->dwFrames == 0) {
                std::fprintf(stderr, "pellix-grab: -n wants a positive number: '%s'\n", optarg);
                return 2;
            }
            break;
        case 'o': o->strDir = optarg; break;
        case 'f':
            if (std::strcmp(optarg, "png") == 0)
                o->format = pximage::ImageFileFormat::Png;
            else if (std::strcmp(optarg, "pgm") == 0 || std::strcmp(optarg, "pnm") == 0)
                o->format = pximage::ImageFileFormat::Pnm;
            else if (std::strcmp(optarg, "raw") == 0)
                o->format = pximage::ImageFileFormat::Raw;
            else {
                std::fprintf(stderr, "pellix-grab: --format is png, pgm or raw, not '%s'\n", optarg);
                return 2;
            }
            break;
        case 'r':
            if (!ParseRoi(optarg, o->dwRoi)) {
                std::fprintf(stderr, "pellix-grab: --roi wants X,Y,W,H with W and H above 0: '%s'\n", optarg);
                return 2;
            }
            o->bRoi = true;
            break;
        case 'F': o->bForce = true; break;
        case 't':
            if (!pxtool::ParseTimeout(optarg, &o->dwTimeoutMs)) {
                std::fprintf(stderr, "pellix-grab: --timeout wants milliseconds from 1 to 3600000: '%s'\n", optarg);
                return 2;
            }
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            std::fputs(pxtool::ConnectionHelp().c_str(), stdout);
            return -1;
        default: std::fputs(kUsage, stderr); return 2;
        }
    }
    if (optind < argc)
        o->strCamera = argv[optind++];
    if (optind < argc) {
        std::fprintf(stderr, "pellix-grab: one camera only ('%s' is extra)\n%s", argv[optind], kUsage);
        return 2;
    }
    return 0;
}

bool MakeDirectory(const std::string& dir, std::string* error)
{
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        *error = "'" + dir + "' is not a folder";
        return false;
    }
    if (mkdir(dir.c_str(), 0777) != 0) {
        *error = "cannot make the folder '" + dir + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

// The live line: rewritten in place on a terminal, a line a second otherwise.
class CRateLine {
public:
    CRateLine() : m_bTerminal(isatty(STDOUT_FILENO) != 0), m_start(Clock::now()), m_lastShown(m_start) {}
    void Frame(uint32_t index, uint32_t total, uint64_t bytes)
    {
        m_bytes += bytes;
        const auto now = Clock::now();
        const bool last = index == total;
        if (!last && now - m_lastShown < (m_bTerminal ? std::chrono::milliseconds(200) : std::chrono::seconds(1)))
            return;
        m_lastShown = now;
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        const double fps = seconds > 0 ? index / seconds : 0.0;
        const double mbps = seconds > 0 ? m_bytes / seconds / 1e6 : 0.0;
        std::printf("%sframe %u/%u  %.1f fps  %.2f MB/s%s", m_bTerminal ? "\r" : "", index, total, fps, mbps,
                    m_bTerminal && !last ? "   " : "\n");
        std::fflush(stdout);
    }
    void Abandon()
    {
        if (m_bTerminal)
            std::printf("\n");
    }

private:
    using Clock = std::chrono::steady_clock;
    bool m_bTerminal;
    Clock::time_point m_start, m_lastShown;
    uint64_t m_bytes = 0;
};

struct Grabber {
    PXHANDLE h = 0;
    CInterruptWatcher* pWatcher = nullptr;
    ~Grabber()
    {
        if (pWatcher != nullptr)
            pWatcher->Terminate();
    }
};

int Run(const Options& o, CInterruptWatcher& watcher)
{
    pxtool::CameraAddress camera;
    std::string error;
    if (!pxtool::ParseCameraArgument(o.strCamera, &camera, &error))
        return Fail(error);
    // Declared before the client so that it outlives it.
    pxtool::CToolCamera sim;
    if (camera.bSimulator) {
        if (!sim.Start(&error))
            return Fail(error);
        camera = sim.Address();
        watcher.SetScratchFile(sim.ConfigFile());
        std::printf("no camera given: using a simulated camera in this process\n");
    } else {
        pxtool::WarnAboutConfiguration("pellix-grab");
    }
    if (!MakeDirectory(o.strDir, &error))
        return Fail(error);

    Grabber g;
    g.pWatcher = &watcher;
    uint32_t r = pxtool::OpenCameraClient(camera, "pellix-grab", o.dwTimeoutMs, &g.h);
    if (r != PX_OK)
        return FailPx("PXClientInit", r);
    watcher.SetHandle(g.h);

    // The list is the library's until the next call: keep what we need.
    uint32_t count = 0;
    const PXBufferListEntry* list = nullptr;
    if ((r = PXGetBufferList(g.h, &count, &list)) != PX_OK)
        return FailPx("reading the camera's buffer list (PXGetBufferList)", r,
                      pxtool::DiagnosisLines(camera, o.dwTimeoutMs, r, pxtool::PublishPortOrigin(), false));
    PXBufferListEntry entry;
    bool found = false;
    std::string known;
    for (uint32_t i = 0; i < count && !found; ++i) {
        const std::string id = pxtool::BufferIdText(list[i].id);
        known += (known.empty() ? "" : ", ") + id;
        if (o.strBuffer.empty() ? list[i].type == PX_BUFTYPE_IMAGE : id == o.strBuffer) {
            entry = list[i];
            found = true;
        }
    }
    if (!found)
        return Fail(o.strBuffer.empty() ? "the camera publishes no image buffer (buffers: " + known + ")"
                                        : "the camera publishes no buffer '" + o.strBuffer + "' (buffers: " + known + ")");
    const std::string id = pxtool::BufferIdText(entry.id);
    if (entry.type == PX_BUFTYPE_INPUT)
        return Fail("'" + id + "' is an input buffer: it takes data and has none to read");
    char idText[4] = {};
    std::memcpy(idText, entry.id, 4);
    // Why a call on the buffer failed; the camera answered its buffer list before.
    const pxtool::PortOrigin bufferPort = pxtool::BufferPortOrigin(entry.port, id);
    auto diagnosis = [&](uint32_t result) {
        return pxtool::DiagnosisLines(camera, o.dwTimeoutMs, result, bufferPort, true);
    };

    if ((r = PXSetExchangeBuffer(g.h, entry.port, idText, 0, g.h)) != PX_OK)
        return FailPx("subscribing " + id + " (PXSetExchangeBuffer)", r, diagnosis(r));
    const bool image = entry.type == PX_BUFTYPE_IMAGE;
    if (o.bRoi) {
        if (!image)
            return Fail("--roi needs an image buffer; '" + id + "' is " + pxtool::BufferTypeName(entry.type));
        // Sizes first: the window must fit the image at every step, and the offset is 0 or smaller.
        const uint32_t items[4] = {PX_INFO_SIZE_X, PX_INFO_SIZE_Y, PX_INFO_OFFSET_X, PX_INFO_OFFSET_Y};
        const uint32_t values[4] = {o.dwRoi[2], o.dwRoi[3], o.dwRoi[0], o.dwRoi[1]};
        uint32_t offsets[2] = {0, 0};
        PXGetExchangeBufferInfo(g.h, idText, PX_INFO_OFFSET_X, &offsets[0]);
        PXGetExchangeBufferInfo(g.h, idText, PX_INFO_OFFSET_Y, &offsets[1]);
        const bool offsetsFirst = o.dwRoi[0] < offsets[0] || o.dwRoi[1] < offsets[1];
        for (int k = 0; k < 4; ++k) {
            const int i = offsetsFirst ? (k + 2) % 4 : k;
            if ((r = PXSetExchangeBufferInfo(g.h, idText, items[i], &values[i])) != PX_OK)
                return FailPx("setting the window (PXSetExchangeBufferInfo)", r, diagnosis(r));
        }
    }

    PXBufferInfo info;
    std::memset(&info, 0, sizeof info);
    if ((r = PXGetExchangeBufferInfoStruct(g.h, idText, &info)) != PX_OK)
        return FailPx("reading the buffer's info record (PXGetExchangeBufferInfoStruct)", r, diagnosis(r));
    uint32_t dataSize = 0;
    if ((r = PXGetExchangeBufferInfo(g.h, idText, PX_INFO_DATA_SIZE, &dataSize)) != PX_OK)
        return FailPx("reading the buffer's data size (PXGetExchangeBufferInfo)", r, diagnosis(r));
    uint64_t room = dataSize;
    if (image) {
        // A camera that answers with regions writes them into the full image.
        const uint64_t full = uint64_t{info.image.fullSizeX} * info.image.fullSizeY * info.image.numBands;
        room = full > room ? full : room;
        // The camera fits a window that does not lie in the image: say what it chose.
        if (o.bRoi && (info.image.offsetX != o.dwRoi[0] || info.image.offsetY != o.dwRoi[1] ||
                       info.image.sizeX != o.dwRoi[2] || info.image.sizeY != o.dwRoi[3]))
            std::printf("the camera moved the window to fit its %ux%u image: %u,%u,%u,%u (asked for %u,%u,%u,%u)\n",
                        info.image.fullSizeX, info.image.fullSizeY, info.image.offsetX, info.image.offsetY,
                        info.image.sizeX, info.image.sizeY, o.dwRoi[0], o.dwRoi[1], o.dwRoi[2], o.dwRoi[3]);
        const char* name = pximage::FormatName(info.image.format);
        std::printf("%s: %ux%u %s from port %u\n", id.c_str(), info.image.sizeX, info.image.sizeY,
                    name ? name : ("format " + std::to_string(info.image.format)).c_str(), unsigned{entry.port});
    } else {
        std::printf("%s: %s records of %u bytes from port %u\n", id.c_str(), pxtool::BufferTypeName(entry.type).c_str(),
                    dataSize, unsigned{entry.port});
    }
    if (room == 0 || room > kMaxFrameBytes)
        return Fail("the camera announces " + std::to_string(room) + " bytes per frame, which is not believable");
    std::vector<uint8_t> frame;
    std::vector<uint8_t> scratch;
    try {
        frame.resize(room);
    } catch (const std::bad_alloc&) {
        return Fail("no memory for a frame of " + std::to_string(room) + " bytes");
    }

    CRateLine rate;
    uint32_t empty = 0;
    watcher.SetReading(true);
    for (uint32_t n = 1; n <= o.dwFrames;) {
        uint32_t received = 0;
        r = watcher.Interrupted() ? PX_END_OF_TRANSFERS
                                  : PXGetExchangeBufferData(g.h, idText, o.bForce ? 1 : 0, frame.data(), &info, &received);
        if (watcher.Interrupted()) {
            rate.Abandon();
            std::fprintf(stderr, "pellix-grab: interrupted after %u frames\n", n - 1);
            return 130;
        }
        if (r != PX_OK) {
            rate.Abandon();
            watcher.SetReading(false);   // the diagnosis cannot be cancelled
            return FailPx("reading " + id + " (PXGetExchangeBufferData)", r, diagnosis(r));
        }
        if (received == 0) {
            if (++empty == 3) {
                rate.Abandon();
                return Fail("the camera answered three reads of " + id + " without data");
            }
            continue;
        }
        empty = 0;

        char path[4096];
        pximage::ImageStatus written;
        uint64_t bytes = 0;
        if (image) {
            uint32_t isRegion = 0;
            PXGetExchangeBufferDataDesc(g.h, idText, PX_DESC_IS_REGION, &isRegion);
            const uint32_t w = isRegion == 1 ? info.image.fullSizeX : info.image.sizeX;
            const uint32_t hgt = isRegion == 1 ? info.image.fullSizeY : info.image.sizeY;
            // Raw files keep the bytes of any format, known or not.
            const uint32_t known = pximage::BytesPerPixel(info.image.format);
            const uint32_t bpp = known != 0 ? known : info.image.numBands;
            bytes = uint64_t{w} * hgt * bpp;
            if (bytes == 0 || bytes > frame.size()) {
                rate.Abandon();
                return Fail("the camera's info record (" + std::to_string(w) + "x" + std::to_string(hgt) + ", " +
                            std::to_string(bpp) + " bytes a pixel) does not fit the data read");
            }
            if (o.format == pximage::ImageFileFormat::Raw) {
                std::snprintf(path, sizeof path, "%s/%s-%04u.raw", o.strDir.c_str(), id.c_str(), n);
                written = pximage::WriteBytes(path, frame.data(), bytes);
            } else {
                pximage::ImageView view;
                written = pximage::CameraImageView(info.image.format, frame.data(), frame.size(), size_t{w} * bpp, w,
                                                   hgt, &scratch, &view);
                std::snprintf(path, sizeof path, "%s/%s-%04u.%s", o.strDir.c_str(), id.c_str(), n,
                              pximage::ImageFileExtension(o.format, view.layout));
                if (written.Ok())
                    written = pximage::WriteImage(o.format, path, view);
            }
        } else {
            bytes = dataSize;
            std::snprintf(path, sizeof path, "%s/%s-%04u.bin", o.strDir.c_str(), id.c_str(), n);
            written = pximage::WriteBytes(path, frame.data(), bytes);
        }
        if (!written.Ok()) {
            rate.Abandon();
            std::string why = pximage::ImageErrorText(written.error);
            if (written.detail != 0)
                why += std::string(": ") + std::strerror(written.detail);
            return Fail(std::string("cannot save frame ") + std::to_string(n) + " to " + path + ": " + why);
        }
        rate.Frame(n, o.dwFrames, bytes);
        ++n;
    }
    std::printf("saved %u %s of %s in %s\n", o.dwFrames, image ? "frames" : "records", id.c_str(), o.strDir.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    const int parsed = ParseOptions(argc, argv, &o);
    if (parsed != 0)
        return parsed < 0 ? 0 : parsed;
    CInterruptWatcher::BlockSignals();
    CInterruptWatcher watcher;
    watcher.Start();
    return Run(o, watcher);
}
