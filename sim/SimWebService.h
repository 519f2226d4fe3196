// The camera's web server in the simulator: the WSDL of the store service at
// "/WEBINC/kelvowserv.wsdl" (or only at the older "/kelvowserv.wsdl", or nowhere) and the three
// SOAP operations over a store of values, with the ways a real camera's server refuses or fails.
//
// Who owns what, and which thread runs where: CSimWebService owns a cpp-httplib server, its
// listening thread ("SimWeb") and the server's worker threads, which run the handlers. The store,
// the behaviour, the running processes and the request log are guarded by m_lock; a handler holds
// it only while it reads or changes them, never while it waits or sends. A "silent" handler waits
// on m_wake until its fault is lifted or the service stops; Stop() wakes it before it stops the
// server, and returns when every thread has ended.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimWebConfig.h"

namespace pxsim {

class CSimUpdateTool;

namespace simstore {
// Store identifiers with a meaning of their own in the simulated camera.
enum : uint32_t {
    kStoreCommandLine = 0x24003F,   // setting it starts a program
    kStoreProcessName = 0x24005A,   // the name the next process check asks about
    kStoreProcessAnswer = 0x24005B, // 1 while a process of that name runs
    kQueryProcess = 0x240085,       // SetAndGet: 1 while the named process runs
    kQueryStart = 0x240089,         // SetAndGet: starts a program, non-zero when started
    kStoreStopAgent = 0x240087,     // setting it stops the Flowsmith agent
    kStoreFreeRam = 0x240005,
    kStoreRamFilesSize = 0x240026,  // setting it resizes the RAM file system (0 when done)
    kStoreSafeMode = 0x240037,      // 1: the next start is in the safe mode
    kStoreReboot = 0x240008,        // setting it to 1 reboots the camera
};
} // namespace simstore

// What the service saw of one request, for tests.
struct SimWebRequest {
    std::string strMethod, strPath, strSoapAction, strAuthorization, strUserAgent;
    uint32_t dwStatus = 0;
    std::string strOperation;         // SOAP: the operation element's name
    uint32_t dwId = 0;                // SOAP: the id argument
    bool bHasValue = false;
    SimStoreValue value;              // SOAP: the value or text argument
};

class CSimWebService {
public:
    CSimWebService();
    ~CSimWebService();
    CSimWebService(const CSimWebService&) = delete;
    CSimWebService& operator=(const CSimWebService&) = delete;

    // Level 1: the start; level 2: every request.
    void SetLog(std::function<void(uint32_t level, const std::string&)> log);
    // 0, or the errno value of the failing bind.
    int Start(const SimWebConfig& config, uint32_t bindAddress);
    void Stop();
    uint16_t Port() const { return m_usPort; }

    void SetBehaviour(const SimWebBehaviour& behaviour);
    SimWebBehaviour Behaviour() const;
    // False when the store has no value of that identifier.
    bool GetValue(uint32_t id, SimStoreValue* value) const;
    void SetValue(uint32_t id, const SimStoreValue& value);
    void EraseValue(uint32_t id);
    // Names of the programs running on the camera, as a process check finds them.
    std::vector<std::string> Processes() const;
    std::vector<SimWebRequest> Requests() const;
    void ClearRequests();

    // The camera's update side (sim/SimUpdateTool.h); null when no RAM files folder was given.
    CSimUpdateTool* UpdateTool() { return m_pTool.get(); }
    // The camera reboots: its web service answers nothing but 503 for the configured time (or for
    // good, with the fault), it comes back in the safe mode when that was asked for, with the
    // free RAM of that mode, and its agent processes run again otherwise.
    void Reboot();
    bool Down() const;
    void SetProcessRunning(const std::string& name, bool running);
    // The update tool installed a package: the store reports its versions; the camera reboots.
    void InstallVersions(const std::map<uint32_t, SimStoreValue>& values);

    // The answers, without HTTP (the server's handlers call them).
    std::string Wsdl(const std::string& host) const;
    // The response body and status of a SOAP request; *request is filled with what it asked.
    std::string HandleSoap(const std::string& body, const std::string& soapAction, uint32_t* status,
                           SimWebRequest* request);

private:
    struct Server;
    SimStoreValue Query(uint32_t id, const std::string& argument, bool* known);
    // False when the program did not start.
    bool StartProgram(const std::string& commandLine);
    // The integer result of a SetStoreApiData: a resize can be refused.
    int32_t Store(uint32_t id, const SimStoreValue& value);
    bool ProcessRunning(const std::string& name) const;
    void WaitWhileSilent(bool soap);
    void Note(const SimWebRequest& request);

    std::unique_ptr<Server> m_pServer;
    std::thread m_listener;
    uint16_t m_usPort = 0;
    std::function<void(uint32_t level, const std::string&)> m_log;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_bStopping = false;
    SimWebBehaviour m_behaviour;
    std::map<uint32_t, SimStoreValue> m_store;
    std::vector<std::string> m_processes;
    std::string m_strProcessName;   // the argument of the older process check
    std::vector<SimWebRequest> m_requests;

    SimUpdateConfig m_update;
    int32_t m_lNormalFreeRam = 0;    // the free RAM of a camera not in the safe mode
    std::chrono::steady_clock::time_point m_downUntil{};
    bool m_bDownForever = false;
    std::unique_ptr<CSimUpdateTool> m_pTool;
};

} // namespace pxsim
