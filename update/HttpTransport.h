// HTTP for the web-service client, over one libcurl easy handle: the GET of the WSDL and the
// POSTs of the SOAP calls. The handle keeps its connection (keep-alive) and its credentials
// (libcurl copies them when they are set, so the caller may wipe its own at once).
//
// Every reply is bounded: the body stops at kHttpMaxBody bytes (a longer one fails the request),
// the whole request at the time-out, the connection at its own time-out; no proxy is used, no
// compressed body is asked for, and only plain HTTP is spoken, redirects included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kHttpMaxBody = 1u << 20;
// The first WWW-Authenticate value is read into a buffer of this size: a longer one reads as none.
constexpr size_t kHttpMaxAuthenticate = 100;

struct HttpTimeouts {
    uint32_t dwConnectMs = 30000;
    uint32_t dwRequestMs = 60000;
};

struct HttpReply {
    uint32_t dwStatus = 0;
    std::string strWwwAuthenticate;   // of the final response
    std::string strBody;
};

class CHttpTransport {
public:
    explicit CHttpTransport(const HttpTimeouts& timeouts);
    ~CHttpTransport();
    CHttpTransport(const CHttpTransport&) = delete;
    CHttpTransport& operator=(const CHttpTransport&) = delete;

    // False when libcurl could not make a handle.
    bool Valid() const { return m_pCurl != nullptr; }

    // Basic or NTLM authentication, as the server offers; neither when both texts are empty.
    bool SetCredentials(const char* user, const char* password);

    // False when no reply came (connection, time-out, a body over the limit); a reply of any
    // status is true.
    bool Get(const std::string& url, HttpReply* reply);
    bool PostSoap(const std::string& url, const std::string& soapAction, const std::string& body, HttpReply* reply);

private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    bool Perform(const std::string& url, HttpReply* reply);

    void* m_pCurl = nullptr;
    HttpReply* m_pReply = nullptr;   // the reply being read
    bool m_bAuthenticateSeen = false;
    bool m_bTooLarge = false;
};
