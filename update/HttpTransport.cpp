#include "update/HttpTransport.h"

#include <curl/curl.h>
#include <strings.h>

#include <cstring>
#include <mutex>
#include <new>
#include <string_view>

namespace {

// The text the camera's web server has always been sent; it ends after ".NET" on purpose.
constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; .NET CLR 1.1.4322; .NET";

CURL* Handle(void* p) { return static_cast<CURL*>(p); }

bool GlobalInit()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

} // namespace

CHttpTransport::CHttpTransport(const HttpTimeouts& timeouts)
{
    if (!GlobalInit())
        return;
    CURL* c = curl_easy_init();
    if (c == nullptr)
        return;
    bool ok = curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_PROXY, "") == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http") == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.dwConnectMs)) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts.dwRequestMs)) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kHttpMaxBody)) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &CHttpTransport::OnHeader) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_HEADERDATA, this) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CHttpTransport::OnBody) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_WRITEDATA, this) == CURLE_OK;
    if (!ok) {
        curl_easy_cleanup(c);
        return;
    }
    m_pCurl = c;
}

CHttpTransport::~CHttpTransport()
{
    if (m_pCurl != nullptr)
        curl_easy_cleanup(Handle(m_pCurl));
}

bool CHttpTransport::SetCredentials(const char* user, const char* password)
{
    if (m_pCurl == nullptr)
        return false;
    CURL* c = Handle(m_pCurl);
    const bool any = (user != nullptr && *user != '\0') || (password != nullptr && *password != '\0');
    if (!any)
        return curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_NONE) == CURLE_OK;
    return curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_NTLM) == CURLE_OK &&
           curl_easy_setopt(c, CURLOPT_USERNAME, user != nullptr ? user : "") == CURLE_OK &&
           curl_easy_setopt(c, CURLOPT_PASSWORD, password != nullptr ? password : "") == CURLE_OK;
}

size_t CHttpTransport::OnHeader(char* data, size_t size, size_t count, void* self)
{
    CHttpTransport* t = static_cast<CHttpTransport*>(self);
    const size_t n = size * count;
    std::string_view line(data, n);
    // Each response (a redirect, an authentication round) starts anew with its status line.
    if (line.rfind("HTTP/", 0) == 0) {
        t->m_bAuthenticateSeen = false;
        t->m_pReply->strWwwAuthenticate.clear();
        return n;
    }
    constexpr std::string_view kName = "WWW-Authenticate:";
    if (t->m_bAuthenticateSeen || line.size() < kName.size() || strncasecmp(line.data(), kName.data(), kName.size()) != 0)
        return n;
    t->m_bAuthenticateSeen = true;
    std::string_view value = line.substr(kName.size());
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
        value.remove_suffix(1);
    if (value.size() < kHttpMaxAuthenticate)
        t->m_pReply->strWwwAuthenticate.assign(value);
    return n;
}

size_t CHttpTransport::OnBody(char* data, size_t size, size_t count, void* self)
{
    CHttpTransport* t = static_cast<CHttpTransport*>(self);
    const size_t n = size * count;
    std::string& body = t->m_pReply->strBody;
    if (n > kHttpMaxBody - body.size()) {
        t->m_bTooLarge = true;
        return 0;   // ends the transfer
    }
    try {
        body.append(data, n);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return n;
}

bool CHttpTransport::Perform(const std::string& url, HttpReply* reply)
{
    *reply = HttpReply{};
    if (m_pCurl == nullptr)
        return false;
    CURL* c = Handle(m_pCurl);
    m_pReply = reply;
    m_bAuthenticateSeen = false;
    m_bTooLarge = false;
    const bool ok = curl_easy_setopt(c, CURLOPT_URL, url.c_str()) == CURLE_OK && curl_easy_perform(c) == CURLE_OK;
    m_pReply = nullptr;
    long status = 0;
    if (!ok || m_bTooLarge || curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status <= 0 ||
        status > 999) {
        *reply = HttpReply{};
        return false;
    }
    reply->dwStatus = static_cast<uint32_t>(status);
    return true;
}

bool CHttpTransport::Get(const std::string& url, HttpReply* reply)
{
    if (m_pCurl == nullptr)
        return false;
    CURL* c = Handle(m_pCurl);
    if (curl_easy_setopt(c, CURLOPT_HTTPGET, 1L) != CURLE_OK || curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr) != CURLE_OK ||
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) != CURLE_OK)
        return false;
    return Perform(url, reply);
}

bool CHttpTransport::PostSoap(const std::string& url, const std::string& soapAction, const std::string& body,
                              HttpReply* reply)
{
    if (m_pCurl == nullptr)
        return false;
    CURL* c = Handle(m_pCurl);
    curl_slist* headers = nullptr;
    // The action comes from the camera's WSDL: nothing in it may end the header or its quotes.
    std::string action = "SOAPAction: \"";
    for (char ch : soapAction)
        if (static_cast<unsigned char>(ch) >= 0x20 && ch != '"' && ch != 0x7F)
            action += ch;
    action += '"';
    for (const char* h : {"Content-Type: text/xml; charset=\"UTF-8\"", action.c_str(), "Expect:"}) {
        curl_slist* next = curl_slist_append(headers, h);
        if (next == nullptr) {
            curl_slist_free_all(headers);
            return false;
        }
        headers = next;
    }
    bool ok = curl_easy_setopt(c, CURLOPT_POST, 1L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data()) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers) == CURLE_OK;
    ok = ok && Perform(url, reply);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, nullptr);
    curl_slist_free_all(headers);
    return ok;
}
