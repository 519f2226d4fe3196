#include "update/WServClient.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/Config.h"
#include "platform/Messages.h"
#include "update/CredentialPrompt.h"
#include "update/SoapMessage.h"

namespace {

constexpr const char* kPromptShort = "The server %s requires a username and password.";
constexpr const char* kPromptWarning =
    "The server %s requires a username and password. \t\t\t\t\t\t\t\t Warning: This server is requesting that your "
    "username and password be sent in an insecure manner (basic authentication without a secure connection).";
constexpr size_t kPromptMessageSize = 501;

// Store identifiers of the older operations that stand in for SetAndGetStoreApiDataOLE.
enum : uint32_t {
    kStoreCommandLine = 0x24003F,
    kStoreProcessName = 0x24005A,
    kStoreProcessAnswer = 0x24005B,
    kStoreArgument = 0x24005E,
    kStoreArgumentAnswer = 0x24005F,
    kStoreArgumentAnswer2 = 0x240078,
};

void CopyCredential(char (&to)[CWServClient::kCredentialSize], const char* from)
{
    if (from != nullptr)
        std::snprintf(to, sizeof to, "%s", from);
}

// The position of a port's colon in a server text, or npos.
size_t PortColon(const std::string& server)
{
    const size_t colon = server.rfind(':');
    const size_t bracket = server.rfind(']');
    if (colon == std::string::npos || (bracket != std::string::npos && bracket > colon) || colon + 1 == server.size())
        return std::string::npos;
    for (size_t i = colon + 1; i < server.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(server[i])))
            return std::string::npos;
    return colon;
}

int32_t IntegerResult(const SoapValue& v)
{
    int32_t n = 0;
    return v.ToInteger(&n) ? n : -1;
}

} // namespace

bool SplitWsdlUrl(const std::string& url, std::string* server, std::string* path)
{
    if (url.size() < 7)
        return false;
    size_t at = url.find('/', 7);
    if (at == std::string::npos)
        at = url.find('\\', 7);
    if (at == std::string::npos)
        return false;
    *server = url.substr(7, at - 7);
    *path = url.substr(at);
    return true;
}

std::string ServerHost(const std::string& server)
{
    const size_t colon = PortColon(server);
    return colon == std::string::npos ? server : server.substr(0, colon);
}

CWServClient::CWServClient(const char* address, const char* user, const char* password)
    : m_timing(CurrentUpdateTiming())
{
    CopyCredential(m_szUser, user);
    CopyCredential(m_szPassword, password);
    // The camera's web server listens on port 80; the configuration may name another (a
    // simulator, a camera behind a port forward), and a URL with its own port keeps that one.
    const uint32_t port = px::ConfigGetNumber("WebServicePort", 80);
    m_usDefaultPort = port != 0 && port <= 65535 ? static_cast<uint16_t>(port) : 80;
    try {
        if (address == nullptr) {
            WipeCredentials();
            return;
        }
        // One transport: the SOAP exchange over our own HTTP and XML. The camera maker's alternate
        // web-service component is a component-model class of another platform; it has no place here.
        const bool isUrl = strncasecmp(address, "http", 4) == 0;
        std::snprintf(m_szWsdlUrl, sizeof m_szWsdlUrl, isUrl ? "%s" : "http://%s/WEBINC/kelvowserv.wsdl", address);
        std::string path;
        if (!SplitWsdlUrl(m_szWsdlUrl, &m_strServer, &path)) {
            WipeCredentials();
            return;
        }
        Fetch fetched = FetchWithPrompt(path);
        // An older camera keeps its WSDL at the top; a URL the caller gave is taken as it is.
        if (!isUrl && fetched != Fetch::Ok && fetched != Fetch::Cancelled)
            fetched = FetchWithPrompt(kWsdlFallbackPath);
        if (fetched == Fetch::Cancelled) {
            WipeCredentials();
            return;
        }
        m_dwConnected = fetched == Fetch::Ok ? 1 : 0;
        // The calls go to the WSDL URL, also when the WSDL itself came from the fallback path.
        if (!SetUpSoap(path))
            m_dwConnected = 0;
    } catch (const std::bad_alloc&) {
        m_dwConnected = 0;
    }
    WipeCredentials();
}

CWServClient::~CWServClient() { WipeCredentials(); }

void CWServClient::WipeCredentials()
{
    explicit_bzero(m_szUser, sizeof m_szUser);
    explicit_bzero(m_szPassword, sizeof m_szPassword);
}

bool CWServClient::CredentialsWiped() const
{
    for (size_t i = 0; i < kCredentialSize; ++i)
        if (m_szUser[i] != 0 || m_szPassword[i] != 0)
            return false;
    return true;
}

std::string CWServClient::RequestUrl(const std::string& path) const
{
    if (PortColon(m_strServer) != std::string::npos)
        return "http://" + m_strServer + path;
    return "http://" + m_strServer + ":" + std::to_string(m_usDefaultPort) + path;
}

CWServClient::Fetch CWServClient::FetchWsdl(const std::string& path)
{
    m_bNtlmOffered = false;
    CHttpTransport http(m_timing.http);
    HttpReply reply;
    if (!http.Valid() || !http.SetCredentials(m_szUser, m_szPassword) || !http.Get(RequestUrl(path), &reply))
        return Fetch::Failed;
    if (reply.dwStatus == 401) {
        m_bNtlmOffered = reply.strWwwAuthenticate == "NTLM";
        return Fetch::Denied;
    }
    if (reply.dwStatus != 200)
        return Fetch::Failed;
    // The WSDL stays in memory: a library must not write into its host's current directory, and
    // two updates at once must not share a file. An empty body is fetched, but cannot be read.
    std::vector<WsdlOperation> table;
    if (!ReadWsdl(reply.strBody.data(), reply.strBody.size(), &table))
        return Fetch::Failed;
    m_operations.swap(table);
    return Fetch::Ok;
}

CWServClient::Fetch CWServClient::FetchWithPrompt(const std::string& path)
{
    Fetch fetched = FetchWsdl(path);
    if (fetched != Fetch::Denied || m_szUser[0] != '\0' || m_szPassword[0] != '\0')
        return fetched;
    if (!Prompt())
        return Fetch::Cancelled;
    return FetchWsdl(path);
}

bool CWServClient::Prompt()
{
    const std::string host = ServerHost(m_strServer);
    const std::string caption = "Connect to " + host;
    char message[kPromptMessageSize];
    std::snprintf(message, sizeof message, m_bNtlmOffered ? kPromptShort : kPromptWarning, host.c_str());
    char user[kPromptLimit + 1] = {}, password[kPromptLimit + 1] = {};
    const int answer =
        CurrentCredentialPrompt()(caption.c_str(), message, user, sizeof user, password, sizeof password);
    user[kPromptLimit] = password[kPromptLimit] = '\0';
    if (answer == 1) {
        CopyCredential(m_szUser, user);
        CopyCredential(m_szPassword, password);
    }
    explicit_bzero(user, sizeof user);
    explicit_bzero(password, sizeof password);
    return answer == 1;
}

bool CWServClient::SetUpSoap(const std::string& path)
{
    auto connector = std::make_unique<CHttpTransport>(m_timing.http);
    // libcurl keeps its own copy of the credentials for the calls; ours are wiped after this.
    if (!connector->Valid() || !connector->SetCredentials(m_szUser, m_szPassword))
        return false;
    m_strEndpoint = RequestUrl(path);
    m_pConnector = std::move(connector);
    return true;
}

SoapValue CWServClient::Call(const char* operation, const SoapValue* args, size_t count)
{
    if (m_dwConnected == 0) {
        px::ShowMessageBox("Soap connection failed ", m_szWsdlUrl);
        return {};
    }
    try {
        const WsdlOperation* op = FindWsdlOperation(m_operations, operation);
        std::string body;
        if (!BuildSoapRequest(op, args, count, &body))
            return {};
        HttpReply reply;
        if (!m_pConnector->PostSoap(m_strEndpoint, op->strSoapAction, body, &reply))
            return {};
        // A fault comes with status 500 and reads as empty; other statuses carry no envelope.
        if (reply.dwStatus != 200 && reply.dwStatus != 500)
            return {};
        return ReadSoapResponse(reply.strBody.data(), reply.strBody.size(), op);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

int32_t CWServClient::SetStoreApiData(uint32_t id, int32_t value)
{
    const SoapValue args[] = {SoapValue::Integer(static_cast<int32_t>(id)), SoapValue::Integer(value)};
    return IntegerResult(Call("SetStoreApiData", args, 2));
}

int32_t CWServClient::SetStoreApiData(uint32_t id, const char* text)
{
    const SoapValue args[] = {SoapValue::Integer(static_cast<int32_t>(id)), SoapValue::Text(text != nullptr ? text : "")};
    return IntegerResult(Call("SetStoreApiData", args, 2));
}

SoapValue CWServClient::GetStoreApiDataOLE(uint32_t id)
{
    const SoapValue args[] = {SoapValue::Integer(static_cast<int32_t>(id))};
    return Call("GetStoreApiDataOLE", args, 1);
}

SoapValue CWServClient::SetAndGetStoreApiDataOLE(uint32_t id, const char* text)
{
    const char* t = text != nullptr ? text : "";
    const SoapValue args[] = {SoapValue::Integer(static_cast<int32_t>(id)), SoapValue::Text(t)};
    SoapValue v = Call("SetAndGetStoreApiDataOLE", args, 2);
    if (!v.IsEmpty())
        return v;
    switch (id) {
    case 0x240084:
        SetStoreApiData(kStoreArgument, t);
        return GetStoreApiDataOLE(kStoreArgumentAnswer);
    case 0x240085:
        SetStoreApiData(kStoreProcessName, t);
        return GetStoreApiDataOLE(kStoreProcessAnswer);
    case 0x240086:
        SetStoreApiData(kStoreArgument, t);
        return GetStoreApiDataOLE(kStoreArgumentAnswer2);
    case 0x240089: {
        SetStoreApiData(kStoreCommandLine, t);
        const char* slash = std::strrchr(t, '\\');
        SetStoreApiData(kStoreProcessName, slash != nullptr ? slash + 1 : t);
        return GetStoreApiDataOLE(kStoreProcessAnswer);
    }
    default:
        return {};
    }
}
