// What a simulated camera publishes and how it misbehaves: plain values, filled by a test or by
// the kelvo-sim command line, copied into CKelvoSim at Start().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "netaccess/protocol/BufferId.h"
#include "pellix/pellix.h"
#include "sim/SimWebConfig.h"

namespace pxsim {

// Pixel formats and buffer types are the codes of the public header (PX_FORMAT_..., PX_BUFTYPE_...):
// the simulator plays the camera that hands them out.

// Element types of a packed array (the variant type codes the viewer understands).
enum : uint32_t {
    SIM_VT_I2 = 2,
    SIM_VT_I4 = 3,
    SIM_VT_R4 = 4,
    SIM_VT_R8 = 5,
    SIM_VT_I1 = 16,
    SIM_VT_UI1 = 17,
    SIM_VT_UI2 = 18,
    SIM_VT_UI4 = 19,
    SIM_VT_INT = 22,
    SIM_VT_UINT = 23,
};

// One published exchange buffer.
struct SimBufferConfig {
    px::agent::BufferId id = px::agent::BufferId::FromText("IMG0");
    uint32_t dwType = PX_BUFTYPE_IMAGE;
    uint16_t usPort = 0;                 // 0: any free port
    std::string strOwner = "kelvo-agent"; // process name shown in the buffer list
    std::string strComment;              // second text of the list record

    // Images.
    uint32_t dwFullSizeX = 640, dwFullSizeY = 480;
    uint32_t dwSizeX = 0, dwSizeY = 0;   // 0: the full size
    uint32_t dwOffsetX = 0, dwOffsetY = 0;
    uint32_t dwSubsection = 1;           // 1: window at the offset; 0: whole image scaled
    uint32_t dwPixelFormat = PX_FORMAT_MONO8;

    // Histogram: identifier of the image it counts (empty: the first image buffer).
    std::string strSource;
    // Text: characters of the text area (UTF-16, terminating 0 included).
    uint32_t dwTextChars = 64;
    // Array: element type and count.
    uint32_t dwArrayType = SIM_VT_I4;
    uint32_t dwArrayCount = 16;
    // Types 2, 7, 8, 9, 10: element count (4-byte elements); types 3, 4: width and height.
    uint32_t dwElements = 64;

    // Delivery.
    bool bSyncDelivery = false;          // data description word 11
    bool bRegionReplies = false;         // answer images with the region below (word 7 = 1)
    uint32_t dwRegionX = 0, dwRegionY = 0, dwRegionW = 0, dwRegionH = 0;  // 0 size: middle quarter
};

// Fault switches. All can also be changed while the simulator runs.
struct SimFaults {
    // Watchdog service.
    uint32_t dwWatchdogStopAfterMs = 0;  // 0: signals never stop
    bool bWatchdogNoCheckReply = false;
    // Connections.
    bool bRefusePublish = false, bRefuseWatchdog = false, bRefuseMessage = false, bRefuseBuffers = false;
    uint32_t dwDropAfterRequests = 0;    // close a command connection after this many requests (0: never)
    bool bDropMidReply = false;          // close a data connection half-way through a data reply
    uint32_t dwReplyDelayMs = 0;
    bool bResourceCheckZero = false;
    bool bShortReply = false;            // data replies lack their last bytes; the connection stays
    // Hostile sizes.
    bool bHostilePartC = false;          // announce more data than the buffer holds
    bool bHostileRegion = false;         // a region reply outside the image
    bool bHostileListCount = false;      // a buffer list that claims 2^31 records
};

struct SimConfig {
    uint32_t dwAgentVersion = 0x0400012C;  // 4.0.300
    uint32_t dwListRecordSize = 540;       // buffer-list record size sent to new agents' clients
    uint32_t dwBindAddress = 0x7F000001u;  // 127.0.0.1
    uint16_t usPublishPort = 3072;
    uint16_t usWatchdogPort = 3073;
    uint16_t usMessagePort = 3075;
    uint16_t usFirstBufferPort = 3100;     // buffers whose own port is 0 count up from here; 0: any
    uint32_t dwFrameIntervalMs = 40;       // 0: frames only on ProduceFrame()
    uint32_t dwWatchdogId = 0x4B454C56;    // identity handed out by WD_GET_ID
    std::vector<SimBufferConfig> buffers;
    SimFaults faults;
    SimWebConfig web;                      // off unless asked for
};

// The default camera: a VGA mono image, its histogram, a text, an array and an input channel.
SimConfig DefaultSimConfig();
// A camera of one image buffer on free ports that makes frames only on demand (benchmarks).
SimConfig SingleImageSimConfig(const char* id, uint32_t width, uint32_t height, uint32_t format);

// True for agents that talk with envelopes (version 0 or 2.2.0 and above).
inline bool SimIsNewAgent(uint32_t version) { return version == 0 || version >= 0x02020000u; }

} // namespace pxsim
