// What pellix-ls and pellix-grab share: result texts, names of buffer types, the
// camera argument, and the in-process simulator that stands in when no camera is named.
//
// The tools talk to a camera only through the public header pellix/pellix.h. Without a camera
// argument CToolCamera starts kelvo-sim in this process on free loopback ports and points the
// library at it through a temporary VISTEL_CONFIG file, which must happen before the first PX
// call (the library reads the ports when a client is made). That file is a CConfigLayer: the
// user's configuration with the simulator's ports after it, so the user's other values (the
// viewer's display, the log) still hold. The simulator's own threads serve it; the tool's main
// thread only calls the library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pellix/pellix.h"

namespace pxtool {

// The library's text for a result (PXGetResultText), to build messages with:
// "PX_COMM_ERROR: communication with the camera's agent failed", "agent result 17".
std::string PxResultText(uint32_t result);

// "image", "text", "histogram", "array", "input"; "type N" for the others.
std::string BufferTypeName(uint32_t type);
// The identifier's four characters as text (the list entry has no terminating NUL).
std::string BufferIdText(const char id[4]);

// Where the camera is: a dotted IPv4 address (bIsAddress, byAddress most significant first) or a
// host name. Empty text: the in-process simulator.
struct CameraAddress {
    bool bSimulator = true;
    bool bIsAddress = false;
    uint8_t byAddress[4] = {};
    std::string strHost;
};
// False (with a message) for text that is neither a dotted IPv4 address nor a usable host name.
bool ParseCameraArgument(const std::string& text, CameraAddress* out, std::string* error);
// The camera for a person: "192.168.0.20", "kelvo-7.lab".
std::string CameraText(const CameraAddress& camera);

// The wait of every request and connect unless --timeout says otherwise.
constexpr uint32_t kDefaultTimeoutMs = 5000;
// --timeout MS: 1 to 3600000 ms. False for anything else.
bool ParseTimeout(const char* text, uint32_t* timeoutMs);
// Opens a PX client with an agent channel to the camera, its requests and connects waiting at
// most timeoutMs, with the watchdog the tools use.
uint32_t OpenCameraClient(const CameraAddress& camera, const char* clientName, uint32_t timeoutMs, PXHANDLE* handle);
// The lines of --help that say which ports the tools use and how long they wait.
std::string ConnectionHelp();

// A configuration file of this process's own laid over the one in force: that file's text (the
// user's values) followed by lines of the tool's, which win as a later assignment of a name does.
// VISTEL_CONFIG names it for as long as the object lives; the destructor removes the file and
// gives VISTEL_CONFIG its previous value back. Layers stack: a second one made while a first is
// in force carries the first's text. Made and ended on one thread, before the library reads it.
class CConfigLayer {
public:
    CConfigLayer() = default;
    ~CConfigLayer();
    CConfigLayer(const CConfigLayer&) = delete;
    CConfigLayer& operator=(const CConfigLayer&) = delete;

    // Writes the file ("Name=Value" lines) and sets VISTEL_CONFIG; a second call replaces the
    // lines of the first over the same text underneath. False with a message.
    bool Put(const std::string& lines, std::string* error);
    // The file written; empty before Put.
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
    std::string m_strBelow;          // the text of the file in force at the first Put
    bool m_bHadPrevious = false;     // VISTEL_CONFIG was set at the first Put, to m_strPrevious
    std::string m_strPrevious;
};

// kelvo-sim in this process, for as long as the object lives.
class CToolCamera {
public:
    CToolCamera();
    ~CToolCamera();
    CToolCamera(const CToolCamera&) = delete;
    CToolCamera& operator=(const CToolCamera&) = delete;

    // Starts the default camera (an image IMG0 of 640x480 mono8 every 40 ms, a histogram, a text,
    // an array and an input channel) and lays its ports over the configuration in force
    // (CConfigLayer). False with a message.
    bool Start(std::string* error);
    // 127.0.0.1, where the simulator listens.
    CameraAddress Address() const;
    // The configuration file it wrote; the destructor removes it and restores VISTEL_CONFIG.
    std::string ConfigFile() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

} // namespace pxtool
