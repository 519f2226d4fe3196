#include "sim/SimWebService.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <httplib.h>
#include <pugixml.hpp>
#include <sstream>

#include "sim/SimUpdateTool.h"

namespace pxsim {

namespace {

constexpr const char* kWsdlPath = "/WEBINC/kelvowserv.wsdl";
constexpr const char* kWsdlFallbackPath = "/kelvowserv.wsdl";
constexpr const char* kMessageNamespace = "http://tempuri.org/message/";
constexpr const char* kActionPrefix = "http://tempuri.org/action/KelvoWServ.";

using namespace simstore;


const char* LocalName(const char* name)
{
    const char* colon = std::strrchr(name, ':');
    return colon != nullptr ? colon + 1 : name;
}

pugi::xml_node ChildNamed(const pugi::xml_node& parent, const char* localName)
{
    for (pugi::xml_node n : parent.children())
        if (n.type() == pugi::node_element && std::strcmp(LocalName(n.name()), localName) == 0)
            return n;
    return {};
}

pugi::xml_node FirstElement(const pugi::xml_node& parent)
{
    for (pugi::xml_node n : parent.children())
        if (n.type() == pugi::node_element)
            return n;
    return {};
}

// The namespace URI a prefixed element name is bound to, looked up through its ancestors.
std::string NamespaceOf(const pugi::xml_node& element)
{
    const char* colon = std::strchr(element.name(), ':');
    const std::string attribute =
        colon != nullptr ? "xmlns:" + std::string(element.name(), colon - element.name()) : std::string("xmlns");
    for (pugi::xml_node n = element; n; n = n.parent())
        if (pugi::xml_attribute a = n.attribute(attribute.c_str()))
            return a.value();
    return {};
}

bool ParseInteger(const char* text, int32_t* out)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < INT32_MIN || v > UINT32_MAX)
        return false;
    *out = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

// An argument element's value: xsi:type "int" gives an integer, anything else a text.
bool ArgumentValue(const pugi::xml_node& element, SimStoreValue* value)
{
    if (!element)
        return false;
    const char* text = element.text().get();
    for (pugi::xml_attribute a : element.attributes()) {
        if (std::strchr(a.name(), ':') != nullptr && std::strcmp(LocalName(a.name()), "type") == 0 &&
            std::strcmp(LocalName(a.value()), "int") == 0) {
            value->bText = false;
            return ParseInteger(text, &value->lValue);
        }
    }
    *value = SimStoreValue::Text(text);
    return true;
}

std::string Envelope(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">"
           "<SOAP-ENV:Body>" +
           body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Fault(const std::string& text, uint32_t* status)
{
    *status = 500;
    return Envelope("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Client</faultcode><faultstring>" + Escaped(text) +
                    "</faultstring></SOAP-ENV:Fault>");
}

std::string Response(const std::string& operation, const SimStoreValue* value, uint32_t* status)
{
    *status = 200;
    std::string result;
    if (value == nullptr)
        result = "<Result xsi:nil=\"true\"/>";
    else if (value->bText)
        result = "<Result xsi:type=\"xsd:string\">" + Escaped(value->strText) + "</Result>";
    else
        result = "<Result xsi:type=\"xsd:int\">" + std::to_string(value->lValue) + "</Result>";
    return Envelope("<SOAPSDK1:" + operation + "Response xmlns:SOAPSDK1=\"" + kMessageNamespace + "\">" + result +
                    "</SOAPSDK1:" + operation + "Response>");
}

// The file name of a program's command line: its first word after the last backslash.
std::string ProgramName(const std::string& commandLine)
{
    const std::string first = commandLine.substr(0, commandLine.find(' '));
    const size_t slash = first.rfind('\\');
    return slash == std::string::npos ? first : first.substr(slash + 1);
}

SimWebRequest RequestOf(const httplib::Request& req)
{
    SimWebRequest r;
    r.strMethod = req.method;
    r.strPath = req.path;
    r.strAuthorization = req.get_header_value("Authorization");
    r.strUserAgent = req.get_header_value("User-Agent");
    r.strSoapAction = req.get_header_value("SOAPAction");
    return r;
}

// The first half of a broken answer: a body that ends inside its markup.
std::string Broken(const std::string& body) { return body.substr(0, body.size() / 2); }

} // namespace

SimStoreValue SimStoreValue::Integer(int32_t v)
{
    SimStoreValue s;
    s.lValue = v;
    return s;
}

SimStoreValue SimStoreValue::Text(const std::string& t)
{
    SimStoreValue s;
    s.bText = true;
    s.strText = t;
    return s;
}

bool SimStoreValue::operator==(const SimStoreValue& o) const
{
    return bText == o.bText && (bText ? strText == o.strText : lValue == o.lValue);
}

std::map<uint32_t, SimStoreValue> DefaultSimStore()
{
    return {
        {0x14000E, SimStoreValue::Text("4.0")},      // operating system version
        {0x140010, SimStoreValue::Integer(300)},      // operating system build
        {0x140011, SimStoreValue::Integer(2)},        // QFE
        {0x140014, SimStoreValue::Text("9.2.0")},    // imaging library build
        {0x1400B7, SimStoreValue::Text("SP1")},      // imaging library service pack
        {0x1400B8, SimStoreValue::Text("9.2.1")},    // its revision
        {0x1400BB, SimStoreValue::Text("HF_3")},     // hot fix
        {0x1400C2, SimStoreValue::Text("2.1")},      // Flowsmith agent version
        {0x1400C3, SimStoreValue::Integer(45)},       // its build
        {0x1400C4, SimStoreValue::Integer(3)},        // its revision
        {0x10000D, SimStoreValue::Integer(0x00020005)}, // boot ROM 2.5
        {0x10000E, SimStoreValue::Integer(17)},       // boot ROM build
        {0x80007, SimStoreValue::Integer(0x41)},      // sensor configuration
        {0x240039, SimStoreValue::Integer(0x12A)},    // FPGA revision
        {0x240038, SimStoreValue::Integer(0)},        // no imaging library application runs
        {0x240005, SimStoreValue::Integer(48 << 20)}, // free RAM
        {0x240026, SimStoreValue::Integer(8 << 20)},  // RAM file system size
    };
}

} // namespace pxsim

// ThreadSanitizer sees the memory accesses of the HTTP library (built without it, by Debian) but
// not all of its synchronisation, and would report its worker threads against each other. The
// accesses it makes through intercepted calls are left out; our handlers stay under watch.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libcpp-httplib.so\n"; }

namespace pxsim {

struct CSimWebService::Server {
    httplib::Server http;
};

CSimWebService::CSimWebService() = default;

CSimWebService::~CSimWebService() { Stop(); }

void CSimWebService::SetLog(std::function<void(uint32_t level, const std::string&)> log) { m_log = std::move(log); }

int CSimWebService::Start(const SimWebConfig& config, uint32_t bindAddress)
{
    if (m_pServer)
        return EALREADY;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStopping = false;
        m_behaviour = config.behaviour;
        m_store = DefaultSimStore();
        for (const auto& [id, value] : config.store)
            m_store[id] = value;
        m_processes = {"hostlet.exe", "flowsmithagent.exe"};
        m_update = config.update;
        m_bDownForever = false;
        m_downUntil = {};
        const auto ram = m_store.find(kStoreFreeRam);
        m_lNormalFreeRam = ram != m_store.end() ? ram->second.lValue : 0;
    }
    if (!config.update.strRamFiles.empty()) {
        auto tool = std::make_unique<CSimUpdateTool>(*this);
        if (const int e = tool->Start(config.update, bindAddress))
            return e;
        m_pTool = std::move(tool);
    }
    auto server = std::make_unique<Server>();
    httplib::Server& http = server->http;
    http.new_task_queue = [] { return new httplib::ThreadPool(4); };
    http.set_keep_alive_timeout(1);
    http.set_tcp_nodelay(true);
    http.set_payload_max_length(1u << 20);
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (Down()) {
            res.status = 503;
            res.set_content("Rebooting", "text/plain");
            SimWebRequest r = RequestOf(req);
            r.dwStatus = 503;
            Note(r);
            return httplib::Server::HandlerResponse::Handled;
        }
        SimWebBehaviour b = Behaviour();
        if (b.strAuthenticate.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        if (!b.strUser.empty() &&
            req.get_header_value("Authorization") ==
                httplib::make_basic_authentication_header(b.strUser, b.strPassword).second)
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 401;
        res.set_header("WWW-Authenticate", b.strAuthenticate);
        res.set_content("Unauthorized", "text/plain");
        SimWebRequest r = RequestOf(req);
        r.dwStatus = 401;
        Note(r);
        return httplib::Server::HandlerResponse::Handled;
    });
    http.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        SimWebRequest r = RequestOf(req);
        const SimWebBehaviour b = Behaviour();
        const bool served = (b.wsdlAt == SimWsdlAt::Main && req.path == kWsdlPath) ||
                            (b.wsdlAt == SimWsdlAt::Fallback && req.path == kWsdlFallbackPath);
        if (!served) {
            res.status = 404;
            res.set_content("Not Found", "text/plain");
        } else if (b.wsdlFault == SimWsdlFault::Silent) {
            r.dwStatus = 0;
            Note(r);
            WaitWhileSilent(false);
            res.status = 503;
            return;
        } else {
            res.status = 200;
            const std::string wsdl = Wsdl(req.get_header_value("Host"));
            res.set_content(b.wsdlFault == SimWsdlFault::Empty    ? std::string()
                            : b.wsdlFault == SimWsdlFault::Broken ? Broken(wsdl)
                                                                  : wsdl,
                            "text/xml");
        }
        r.dwStatus = static_cast<uint32_t>(res.status);
        Note(r);
    });
    http.Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
        SimWebRequest r = RequestOf(req);
        const SimWebBehaviour b = Behaviour();
        if (b.soapFault == SimSoapFault::Silent) {
            Note(r);
            WaitWhileSilent(true);
            res.status = 503;
            return;
        }
        uint32_t status = 0;
        std::string body = HandleSoap(req.body, r.strSoapAction, &status, &r);
        if (b.soapFault == SimSoapFault::Fault)
            body = Fault("the camera refuses the call", &status);
        else if (b.soapFault == SimSoapFault::Broken)
            body = Broken(body);
        res.status = static_cast<int>(status);
        res.set_content(body, "text/xml; charset=\"UTF-8\"");
        r.dwStatus = status;
        Note(r);
    });

    char host[16];
    std::snprintf(host, sizeof host, "%u.%u.%u.%u", bindAddress >> 24, (bindAddress >> 16) & 0xFF,
                  (bindAddress >> 8) & 0xFF, bindAddress & 0xFF);
    errno = 0;
    if (config.usPort == 0) {
        const int port = http.bind_to_any_port(host);
        if (port <= 0)
            return errno != 0 ? errno : EADDRNOTAVAIL;
        m_usPort = static_cast<uint16_t>(port);
    } else {
        if (!http.bind_to_port(host, config.usPort))
            return errno != 0 ? errno : EADDRNOTAVAIL;
        m_usPort = config.usPort;
    }
    m_pServer = std::move(server);
    m_listener = std::thread([this] {
        pthread_setname_np(pthread_self(), "SimWeb");
        m_pServer->http.listen_after_bind();
    });
    // The server ignores a stop that comes before its loop runs, and says so only through this
    // flag: Start() returns when it is up, so that a Stop() right after it is never lost.
    for (int i = 0; i < 10000 && !m_pServer->http.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (m_log)
        m_log(1, "web service on port " + std::to_string(m_usPort) +
                     (m_pTool ? ", message server on port " + std::to_string(m_pTool->Port()) : std::string()));
    return 0;
}

void CSimWebService::Stop()
{
    // The tool's threads first (they call into the service); the tool itself goes last, when no
    // handler can reach it any more.
    if (m_pTool)
        m_pTool->Stop();
    if (m_pServer) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_bStopping = true;
        }
        m_wake.notify_all();
        m_pServer->http.stop();
        if (m_listener.joinable())
            m_listener.join();
        m_pServer.reset();
    }
    m_pTool.reset();
}

void CSimWebService::WaitWhileSilent(bool soap)
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_wake.wait(lock, [&] {
        return m_bStopping || (soap ? m_behaviour.soapFault != SimSoapFault::Silent
                                    : m_behaviour.wsdlFault != SimWsdlFault::Silent);
    });
}

void CSimWebService::SetBehaviour(const SimWebBehaviour& behaviour)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_behaviour = behaviour;
    }
    m_wake.notify_all();
}

SimWebBehaviour CSimWebService::Behaviour() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_behaviour;
}

bool CSimWebService::GetValue(uint32_t id, SimStoreValue* value) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_store.find(id);
    if (it == m_store.end())
        return false;
    *value = it->second;
    return true;
}

void CSimWebService::SetValue(uint32_t id, const SimStoreValue& value)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_store[id] = value;
}

void CSimWebService::EraseValue(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_store.erase(id);
}

std::vector<std::string> CSimWebService::Processes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_processes;
}

std::vector<SimWebRequest> CSimWebService::Requests() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

void CSimWebService::ClearRequests()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_requests.clear();
}

void CSimWebService::Note(const SimWebRequest& request)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_requests.push_back(request);
    }
    if (!m_log)
        return;
    std::string line = "web " + request.strMethod + " " + request.strPath + " " + std::to_string(request.dwStatus);
    if (!request.strOperation.empty()) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%X", request.dwId);
        line += " " + request.strOperation + " " + id;
    }
    m_log(2, line);
}

std::string CSimWebService::Wsdl(const std::string& host) const
{
    struct Op {
        const char* name;
        const char* inputParts;   // part elements of the request message
        const char* order;
        const char* resultType;
    };
    std::vector<Op> ops = {
        {"SetStoreApiData", "<part name=\"id\" type=\"xsd:int\"/><part name=\"value\" type=\"xsd:anyType\"/>", "id value",
         "xsd:int"},
        {"GetStoreApiDataOLE", "<part name=\"id\" type=\"xsd:int\"/>", "id", "xsd:anyType"},
    };
    if (!Behaviour().bNoSetAndGet)
        ops.push_back({"SetAndGetStoreApiDataOLE",
                       "<part name=\"id\" type=\"xsd:int\"/><part name=\"text\" type=\"xsd:string\"/>", "id text",
                       "xsd:anyType"});
    std::string messages, portOps, bindingOps;
    for (const Op& op : ops) {
        const std::string n = op.name;
        messages += "<message name=\"KelvoWServ." + n + "\">" + op.inputParts + "</message>";
        messages += "<message name=\"KelvoWServ." + n + "Response\"><part name=\"Result\" type=\"" + op.resultType +
                    "\"/></message>";
        portOps += "<operation name=\"" + n + "\" parameterOrder=\"" + op.order + "\"><input message=\"wsdlns:KelvoWServ." +
                   n + "\"/><output message=\"wsdlns:KelvoWServ." + n + "Response\"/></operation>";
        bindingOps += "<operation name=\"" + n + "\"><soap:operation soapAction=\"" + kActionPrefix + n +
                      "\"/><input><soap:body use=\"literal\" namespace=\"" + kMessageNamespace +
                      "\"/></input><output><soap:body use=\"literal\" namespace=\"" + kMessageNamespace +
                      "\"/></output></operation>";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<definitions name=\"KelvoWServ\" targetNamespace=\"http://tempuri.org/wsdl/\" "
           "xmlns:wsdlns=\"http://tempuri.org/wsdl/\" xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns=\"http://schemas.xmlsoap.org/wsdl/\">\n" +
           messages + "\n<portType name=\"KelvoWServSoapPort\">" + portOps +
           "</portType>\n<binding name=\"KelvoWServSoapBinding\" type=\"wsdlns:KelvoWServSoapPort\">"
           "<soap:binding style=\"rpc\" transport=\"http://schemas.xmlsoap.org/soap/http\"/>" +
           bindingOps +
           "</binding>\n<service name=\"KelvoWServ\"><port name=\"KelvoWServSoapPort\" "
           "binding=\"wsdlns:KelvoWServSoapBinding\"><soap:address location=\"http://" +
           Escaped(host) + kWsdlPath + "\"/></port></service>\n</definitions>\n";
}

std::string CSimWebService::HandleSoap(const std::string& body, const std::string& soapAction, uint32_t* status,
                                       SimWebRequest* request)
{
    pugi::xml_document doc;
    if (!doc.load_buffer(body.data(), body.size()))
        return Fault("the request is no XML", status);
    const pugi::xml_node call = FirstElement(ChildNamed(ChildNamed(doc, "Envelope"), "Body"));
    if (!call)
        return Fault("the request has no body", status);
    const std::string op = LocalName(call.name());
    request->strOperation = op;
    if (NamespaceOf(call) != kMessageNamespace)
        return Fault("the operation is not in the message namespace", status);
    std::string action = soapAction;
    if (action.size() >= 2 && action.front() == '"' && action.back() == '"')
        action = action.substr(1, action.size() - 2);
    if (action != kActionPrefix + op)
        return Fault("wrong SOAPAction \"" + action + "\"", status);
    // The id is an integer part: it comes as a number, with or without its type.
    int32_t id = 0;
    if (!ParseInteger(ChildNamed(call, "id").text().get(), &id))
        return Fault("no integer id", status);
    request->dwId = static_cast<uint32_t>(id);

    if (op == "SetStoreApiData") {
        SimStoreValue value;
        if (!ArgumentValue(ChildNamed(call, "value"), &value))
            return Fault("no value", status);
        request->bHasValue = true;
        request->value = value;
        const SimStoreValue result = SimStoreValue::Integer(Store(request->dwId, value));
        return Response(op, &result, status);
    }
    if (op == "GetStoreApiDataOLE") {
        bool known = false;
        const SimStoreValue v = Query(request->dwId, std::string(), &known);
        return Response(op, known ? &v : nullptr, status);
    }
    if (op == "SetAndGetStoreApiDataOLE") {
        if (Behaviour().bNoSetAndGet)
            return Fault("no such operation", status);
        SimStoreValue text;
        if (!ArgumentValue(ChildNamed(call, "text"), &text) || !text.bText)
            return Fault("no text", status);
        request->bHasValue = true;
        request->value = text;
        bool known = false;
        const SimStoreValue v = Query(request->dwId, text.strText, &known);
        return Response(op, known ? &v : nullptr, status);
    }
    return Fault("no such operation", status);
}

SimStoreValue CSimWebService::Query(uint32_t id, const std::string& argument, bool* known)
{
    *known = true;
    switch (id) {
    case kQueryStart:
        return SimStoreValue::Integer(StartProgram(argument) ? 1 : 0);
    case kQueryProcess:
        return SimStoreValue::Integer(ProcessRunning(argument) ? 1 : 0);
    case kStoreProcessAnswer: {
        std::string name;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            name = m_strProcessName;
        }
        return SimStoreValue::Integer(ProcessRunning(name) ? 1 : 0);
    }
    default:
        break;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_store.find(id);
    *known = it != m_store.end();
    return *known ? it->second : SimStoreValue();
}

bool CSimWebService::StartProgram(const std::string& commandLine)
{
    const std::string name = ProgramName(commandLine);
    if (name.empty())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_processes.push_back(name);
    }
    // The update tool runs as long as its thread; a tool that does not start leaves no process.
    if (m_pTool && strcasecmp(name.c_str(), "Restorix.exe") == 0 && !m_pTool->Launch()) {
        SetProcessRunning(name, false);
        return false;
    }
    if (m_log)
        m_log(2, "web started \"" + commandLine + "\"");
    return true;
}

bool CSimWebService::ProcessRunning(const std::string& name) const
{
    const std::string wanted = ProgramName(name);
    std::lock_guard<std::mutex> lock(m_lock);
    for (const std::string& p : m_processes)
        if (strcasecmp(p.c_str(), wanted.c_str()) == 0)
            return true;
    return false;
}

} // namespace pxsim
