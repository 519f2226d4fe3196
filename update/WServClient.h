// CWServClient: the client of a camera's web service, through which the update facility reads
// and writes values in the camera's store with three SOAP operations.
//
// Construction finds and fetches the camera's WSDL (asking the user for credentials through the
// process-wide prompt when the server wants them and none were given), reads the operation table
// from it and sets up the connector that posts the calls; it is connected when a WSDL was read.
// Credentials are wiped as soon as the connector holds them. There is no reconnection: a caller
// that needs a new connection makes a new client.
//
// A client is used by the thread that made it. Every wait inside is bounded by the time-outs of
// UpdateTiming; nothing a camera sends can make it allocate without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "update/HttpTransport.h"
#include "update/SoapValue.h"
#include "update/UpdateTiming.h"
#include "update/WsdlReader.h"

// Where a camera keeps its WSDL, and where older ones do.
constexpr const char* kWsdlPath = "/WEBINC/kelvowserv.wsdl";
constexpr const char* kWsdlFallbackPath = "/kelvowserv.wsdl";

class CWServClient {
public:
    static constexpr size_t kUrlSize = 260;         // a URL of at most 259 characters
    static constexpr size_t kCredentialSize = 100;  // a user name or password of at most 99
    static constexpr size_t kPromptLimit = 20;      // what the prompt lets the user type

    // address: a camera's host name or IP address, or a full WSDL URL beginning with "http" (in
    // any case); user and password may be null.
    CWServClient(const char* address, const char* user, const char* password);
    ~CWServClient();
    CWServClient(const CWServClient&) = delete;
    CWServClient& operator=(const CWServClient&) = delete;

    bool Connected() const { return m_dwConnected == 1; }

    // The operation's integer result; -1 when the call failed or gave no integer, so that no
    // caller takes a call that never reached the camera for a success.
    int32_t SetStoreApiData(uint32_t id, int32_t value);
    int32_t SetStoreApiData(uint32_t id, const char* text);
    SoapValue GetStoreApiDataOLE(uint32_t id);
    // When the camera gives nothing (it may not offer the operation), the value is obtained with
    // the older operations for the identifiers that have an equivalent.
    SoapValue SetAndGetStoreApiDataOLE(uint32_t id, const char* text);

    // For diagnostics and tests.
    const char* WsdlUrl() const { return m_szWsdlUrl; }
    bool NtlmOffered() const { return m_bNtlmOffered; }
    const std::vector<WsdlOperation>& Operations() const { return m_operations; }
    // True when every byte of both credential buffers is zero.
    bool CredentialsWiped() const;

private:
    enum class Fetch { Ok, Denied, Failed, Cancelled };

    Fetch FetchWsdl(const std::string& path);
    Fetch FetchWithPrompt(const std::string& path);
    bool Prompt();
    bool SetUpSoap(const std::string& path);
    SoapValue Call(const char* operation, const SoapValue* args, size_t count);
    std::string RequestUrl(const std::string& path) const;
    void WipeCredentials();

    uint32_t m_dwConnected = 0;
    char m_szWsdlUrl[kUrlSize] = {};
    char m_szUser[kCredentialSize] = {};
    char m_szPassword[kCredentialSize] = {};
    std::string m_strServer;     // of the WSDL URL, with its port when it names one
    uint16_t m_usDefaultPort = 80;
    bool m_bNtlmOffered = false;
    std::vector<WsdlOperation> m_operations;
    UpdateTiming m_timing;
    std::string m_strEndpoint;   // where the calls are posted: the WSDL URL
    std::unique_ptr<CHttpTransport> m_pConnector;
};

// The server and path of a WSDL URL: the text after its first seven characters up to the first
// "/" (or, when there is none, the first "\"), and the rest from that separator on. False when
// neither separator is there.
bool SplitWsdlUrl(const std::string& url, std::string* server, std::string* path);
// The host of a server text without its port ("cam:8080" gives "cam", "[::1]:81" gives "[::1]").
std::string ServerHost(const std::string& server);
