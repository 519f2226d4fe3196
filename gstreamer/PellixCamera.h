// The camera side of pellixsrc: one PX client of one image buffer, through pellix/pellix.h only.
//
// CPellixCamera opens the client (with or without the agent channel and its watchdog), finds the
// buffer in the camera's list, subscribes it, sets the window asked for, and reads frames into
// memory the caller hands in, so that a frame travels from the socket into that memory and
// nowhere else. It follows the camera's changes of window and format: the geometry it reports is
// the one the last frame had.
//
// Threads: Open, Read, Refresh and Close run on one thread at a time (the element's state-change
// thread before and after streaming, its streaming thread in between). Cancel and WatchdogStatus
// may be called from any thread at any time; the handle they use is guarded by m_lock, so that
// they never meet a handle that Close is ending.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "pellix/pellix.h"

namespace pxgst {

struct CameraSettings {
    std::string strCamera;                   // host name or dotted IPv4 address
    std::string strBufferId;                 // 1 to 4 characters; empty: the first image buffer of the list
    std::string strClientName = "pellixsrc";
    uint32_t dwTimeoutMs = 5000;             // of every request; PX_INFINITE waits without limit
    bool bAgentChannel = true;               // the agent channel and its watchdog supervise the camera
    bool bRoi = false;
    uint32_t dwRoi[4] = {};                  // x, y, width, height
};

// What one frame of the buffer holds, from its info record.
struct ImageGeometry {
    uint32_t dwFormat = 0;                   // PX_FORMAT_...
    uint32_t dwWidth = 0, dwHeight = 0;
    uint32_t dwOffsetX = 0, dwOffsetY = 0;
    uint32_t dwBytesPerPixel = 0;
    uint64_t qwRoom = 0;                     // bytes a read may write into its destination

    uint64_t RowBytes() const { return uint64_t{dwWidth} * dwBytesPerPixel; }
    uint64_t FrameBytes() const { return RowBytes() * dwHeight; }
    // The same picture: format and size (the room may differ without changing the frames).
    bool SamePicture(const ImageGeometry& o) const
    {
        return dwFormat == o.dwFormat && dwWidth == o.dwWidth && dwHeight == o.dwHeight;
    }
};

// Bytes per pixel of a camera pixel format; 0 for a code outside the table.
uint32_t PixelFormatBytes(uint32_t format);
// The geometry of an image info record, checked: a known format, a size above 0 and below 65536
// each way, and room for the frame within 512 MiB. False with a sentence otherwise.
bool GeometryFromInfo(const PXBufferInfo& info, ImageGeometry* out, std::string* error);
// "image", "histogram", ...
std::string BufferTypeName(uint32_t type);

struct ReadOutcome {
    uint32_t dwResult = PX_OK;
    bool bFrame = false;                     // a whole frame of Geometry() is in the destination
    bool bGeometryChanged = false;           // nothing delivered: the camera changed its window or format
    uint64_t qwSerial = 0;                   // the camera's counter of the frame
    std::string strError;                    // a sentence when dwResult is not PX_OK
};

class CPellixCamera {
public:
    CPellixCamera() = default;
    ~CPellixCamera() { Close(); }
    CPellixCamera(const CPellixCamera&) = delete;
    CPellixCamera& operator=(const CPellixCamera&) = delete;

    // PX_OK, else the failing result with a sentence in *error (PX_ERROR for a refusal of ours,
    // such as a buffer that is not an image). *warning names a window the camera moved.
    uint32_t Open(const CameraSettings& settings, std::string* error, std::string* warning);
    void Close();

    const ImageGeometry& Geometry() const { return m_geometry; }
    const std::string& BufferId() const { return m_strId; }

    // One frame into dest, which holds Geometry().qwRoom bytes. A camera whose window or format
    // changed gives bGeometryChanged with the new Geometry() (the caller makes room and reads
    // again); a camera that answers with regions of the image gets them laid into a whole frame.
    ReadOutcome Read(bool force, uint8_t* dest);

    // Any thread: makes a waiting read return PX_END_OF_TRANSFERS, and every later one; the
    // client must then be opened anew. False when no client is open.
    bool Cancel();
    // Any thread: PX_OK, PX_WATCHDOG_LOST, or PX_NO_WATCHDOG (also without a client or channel).
    uint32_t WatchdogStatus() const;

private:
    uint32_t Subscribe(std::string* error);
    uint32_t SetWindow(std::string* error, std::string* warning);
    uint32_t ReadGeometry(std::string* error);
    bool TakeRegionReply(uint8_t* dest);
    ReadOutcome Failure(uint32_t result, const std::string& what) const;

    mutable std::mutex m_lock;               // guards m_h against Close while Cancel uses it
    PXHANDLE m_h = 0;
    CameraSettings m_settings;
    std::string m_strId;                     // the identifier as text
    char m_id[4] = {};                       // as the library takes it
    uint16_t m_usPort = 0;
    ImageGeometry m_geometry;
    // A camera that answers with regions writes only the region into the image: the whole frame
    // lives here between reads, and each read lands here before it is copied out.
    bool m_bRegions = false;
    std::vector<uint8_t> m_image;
    // Cleared when a new subscription did not confirm the sizes a data description named: the
    // camera fills those words otherwise, and they are not looked at again.
    bool m_bTrustDescSizes = true;
};

} // namespace pxgst
