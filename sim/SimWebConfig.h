// How the simulated camera's web service is set up: plain values, filled by a test or by the
// kelvo-sim command line (see sim/SimWebService.h for the service itself).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pxsim {

// A value of the store: an integer or a text.
struct SimStoreValue {
    bool bText = false;
    int32_t lValue = 0;
    std::string strText;

    static SimStoreValue Integer(int32_t v);
    static SimStoreValue Text(const std::string& t);
    bool operator==(const SimStoreValue& o) const;
};

enum class SimWsdlAt { Main, Fallback, None };
enum class SimWsdlFault { None, Empty, Broken, Silent };       // how the WSDL is answered
enum class SimSoapFault { None, Fault, Broken, Silent };       // how every SOAP call is answered

// What can change while the service runs.
struct SimWebBehaviour {
    SimWsdlAt wsdlAt = SimWsdlAt::Main;
    SimWsdlFault wsdlFault = SimWsdlFault::None;
    SimSoapFault soapFault = SimSoapFault::None;
    bool bNoSetAndGet = false;      // the WSDL lacks SetAndGetStoreApiDataOLE; calls of it get a fault
    // Not empty: a request without accepted credentials gets 401 with this WWW-Authenticate value
    // ("NTLM", "Basic realm=\"Kelvo\"", ...). Basic credentials strUser:strPassword are accepted
    // when strUser is not empty; NTLM is never completed.
    std::string strAuthenticate;
    std::string strUser, strPassword;
};

// How the camera's update tool misbehaves.
struct SimUpdateFaults {
    bool bResizeFails = false;   // every resize of the RAM file system is refused
    bool bShareFull = false;     // after a resize, no file can be written to the RAM files
    bool bToolNoStart = false;   // the update tool does not start
    bool bToolSilent = false;    // the update tool takes the message connection and says nothing
    bool bAgentStays = false;    // the camera's agent processes keep running under the tool
    bool bNeverBack = false;     // a rebooted camera's web service never returns
    int32_t lFinalStatus = 0;    // not 0: the tool ends with this status instead of rebooting
};

// The camera's side of an update: its RAM files, its message server and its update tool.
struct SimUpdateConfig {
    std::string strRamFiles;          // the RAM file system's folder; empty: no update side
    uint16_t usMessagePort = 3074;    // the message server's port; 0: any free port
    uint32_t dwRebootMs = 3000;       // how long a reboot keeps the web service away
    uint32_t dwLineMs = 150;          // between two lines of the update tool
    uint32_t dwClientWaitMs = 30000;  // how long the tool waits for the host on the message server
    int32_t lSafeModeFreeRam = 96 << 20;   // free RAM after a reboot into the safe mode
    SimUpdateFaults faults;
};

struct SimWebConfig {
    bool bEnabled = false;   // the program turns it on; tests and tools ask for it
    bool bOptional = false;  // a port that cannot be opened leaves the service out instead of failing
    uint16_t usPort = 80;    // 0: any free port
    SimWebBehaviour behaviour;
    std::map<uint32_t, SimStoreValue> store;   // over the defaults
    SimUpdateConfig update;
};

// The store of a camera that answers every version and update value.
std::map<uint32_t, SimStoreValue> DefaultSimStore();

// The web-service options of the command line. 1 when args[*i] was one of them (*i then points
// at its last word), 0 when it was not, -1 with a reason when its value is wrong.
int ParseSimWebOption(const std::vector<std::string>& args, size_t* i, SimWebConfig* web, std::string* error);
// Reads "ID=VALUE" lines (a number, or a text, quoted or not; '#' starts a comment) into store.
bool ParseSimStoreText(const std::string& text, std::map<uint32_t, SimStoreValue>* store, std::string* error);
const char* SimWebUsage();

} // namespace pxsim
