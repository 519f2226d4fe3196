// The frame of the control's end-to-end tests: kelvo-sim in this process with the library and the
// control pointed at it, a headless host aimed at one of its buffers, the images the control
// hands out during OnImageReceived, and the pictures the tests expect, computed from the
// camera's bytes with the conversion tables as written (not with the control's code).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hosting/HeadlessHost.h"
#include "sim/KelvoSim.h"

namespace pxtest {

using pxhost::CHeadlessHost;
using pxhost::HostValue;

// Every wait of these tests: reached only when something is broken.
constexpr uint32_t kWait = 30000;

// kelvo-sim on free ports and a configuration file of this process naming its ports (for the
// library) and the control's values (extra lines, such as "ForceCopyFormat=16").
class CSimCamera {
public:
    explicit CSimCamera(const pxsim::SimConfig& config, const std::string& extraConfig = "UseDDraw=0\n");
    ~CSimCamera();
    CSimCamera(const CSimCamera&) = delete;
    CSimCamera& operator=(const CSimCamera&) = delete;

    bool Started() const { return m_bStarted; }
    uint16_t Port(const char* id) const { return sim.BufferPort(id); }
    // Makes a frame once the control's read waits for it (frames on demand only).
    bool FrameForWaitingReader();

    pxsim::CKelvoSim sim;

private:
    std::string m_strConfig;
    bool m_bStarted = false;
};

// A camera of one image buffer "IMG0", frames on demand.
pxsim::SimConfig ImageCamera(uint32_t width, uint32_t height, uint32_t format);
// One more buffer of a type for a camera's list.
pxsim::SimBufferConfig BufferOf(const char* id, uint32_t type);

// Sets ServerAddress 127.0.0.1, Port and BufferId for the buffer (does not start).
void AimAt(CHeadlessHost& host, const CSimCamera& camera, const char* id);
// Aims, creates the window (automatic start) and waits for the first data event.
bool StartStreaming(CHeadlessHost& host, const CSimCamera& camera, const char* id);

class CImageRecorder;
// Aims, creates the window and waits until the first image was handed out and composed (the
// update thread then waits for the next frame).
bool StreamFirstImage(CHeadlessHost& host, CSimCamera& camera, CImageRecorder& recorder);

// The integer result of a member.
int64_t CallInt(CHeadlessHost& host, const char* member, const std::vector<HostValue>& args = {});

// Host options of the end-to-end tests: timers only when the test fires them.
pxhost::HeadlessHostOptions Window(int32_t width, int32_t height);

// One image as the control handed it out during OnImageReceived.
struct CapturedImage {
    uint64_t qwSerial = 0;
    int32_t width = 0, height = 0;   // the header's, height negative for top-down rows
    uint16_t bitCount = 0;
    uint32_t dwSizeImage = 0, dwClrUsed = 0, dwHeaderSize = 0;
    std::vector<uint8_t> header;     // the 40 bytes and what follows (44 or 1064 bytes in all)
    std::vector<uint8_t> data;
};

// Records every OnImageReceived of a host (installed as its event handler). The list outlives
// the recorder while a call of the handler is under way on the control's window thread, since a
// test's recorder goes before its host and so before the control stops firing.
class CImageRecorder {
public:
    explicit CImageRecorder(CHeadlessHost& host);
    ~CImageRecorder();
    CImageRecorder(const CImageRecorder&) = delete;
    CImageRecorder& operator=(const CImageRecorder&) = delete;
    std::vector<CapturedImage> Images() const;
    bool WaitForImages(size_t count);

private:
    struct Shared {
        std::mutex lock;
        std::vector<CapturedImage> images;
    };
    CHeadlessHost& m_host;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
};

// ---- expected pictures -------------------------------------------------------------------------

// 0x00RRGGBB pixels, rows packed.
struct Picture {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t At(int32_t x, int32_t y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

// The camera's bytes of frame serial for a geometry.
std::vector<uint8_t> CameraBytes(const pxsim::SimGeometry& g, uint64_t serial);
// The geometry of a whole image of width x height.
pxsim::SimGeometry WholeImage(uint32_t width, uint32_t height, uint32_t format);
// The display format the control converts a camera format into.
uint32_t DisplayFormat(uint32_t cameraFormat, uint32_t displayOptions, uint32_t forceCopyFormat);
uint32_t DisplayStride(uint32_t displayFormat, uint32_t width);
// The converted image's bytes (rows of stride bytes, padding zero), from the tables; a pair the
// control cannot convert gives zeros.
std::vector<uint8_t> Convert(const uint8_t* source, uint32_t sourceFormat, uint32_t width, uint32_t height,
                             uint32_t targetFormat);
// What a converted image looks like (8 bits through the grey or system-colour table, 16 bits
// widened as the raster layer widens 5-bit colours).
Picture Look(const std::vector<uint8_t>& converted, uint32_t displayFormat, uint32_t sourceFormat, uint32_t width,
             uint32_t height);
// How frame serial of a whole image looks once converted into its own display format.
Picture CameraPicture(uint32_t width, uint32_t height, uint32_t format, uint64_t serial);
// The picture stretched to a window as the control paints it (nearest pixel under each centre).
Picture Stretch(const Picture& p, int32_t width, int32_t height);
Picture FromWindow(const pxhost::HostBitmap& window);
// The first pixel where two pictures differ inside [x0, x1) x [y0, y1) (the whole pictures when
// x1 is 0), as "(x, y) 0x.. != 0x..", or "" when none does.
std::string FirstDifference(const Picture& got, const Picture& want, int32_t x0 = 0, int32_t y0 = 0, int32_t x1 = 0,
                            int32_t y1 = 0);
// Pixels of a colour inside a rectangle.
size_t CountColour(const Picture& p, uint32_t rgb, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

} // namespace pxtest
