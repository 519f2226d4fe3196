// The web-service options of kelvo-sim, kept beside the others (sim/SimOptions.cpp) so that each
// service's options live with it.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/File.h"
#include "sim/SimWebConfig.h"

namespace pxsim {

namespace {

bool Fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

std::string Trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// A 32-bit number, decimal or 0x hex, signed or not.
bool ParseNumber(const std::string& text, int32_t* out)
{
    if (text.empty())
        return false;
    const bool negative = text[0] == '-';
    const char* s = text.c_str() + (negative ? 1 : 0);
    if (*s < '0' || *s > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s, &end, 0);
    if (errno != 0 || *end != '\0' || v > (negative ? 0x80000000ull : 0xFFFFFFFFull))
        return false;
    *out = static_cast<int32_t>(negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v));
    return true;
}

// "ID=VALUE": the value a number, or a text (quotes around it are dropped).
bool ParseAssignment(const std::string& text, uint32_t* id, SimStoreValue* value)
{
    const size_t eq = text.find('=');
    int32_t n = 0;
    if (eq == std::string::npos || !ParseNumber(Trim(text.substr(0, eq)), &n))
        return false;
    *id = static_cast<uint32_t>(n);
    const std::string v = Trim(text.substr(eq + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        *value = SimStoreValue::Text(v.substr(1, v.size() - 2));
    else if (ParseNumber(v, &n))
        *value = SimStoreValue::Integer(n);
    else
        *value = SimStoreValue::Text(v);
    return true;
}

} // namespace

bool ParseSimStoreText(const std::string& text, std::map<uint32_t, SimStoreValue>* store, std::string* error)
{
    size_t at = 0, lineNumber = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        if (Trim(line).empty())
            continue;
        uint32_t id = 0;
        SimStoreValue value;
        if (!ParseAssignment(line, &id, &value))
            return Fail(error, "store line " + std::to_string(lineNumber) + ": expected ID=VALUE");
        (*store)[id] = value;
    }
    return true;
}

int ParseSimWebOption(const std::vector<std::string>& args, size_t* i, SimWebConfig* web, std::string* error)
{
    const std::string& a = args[*i];
    std::string v;
    auto value = [&] {
        if (*i + 1 >= args.size())
            return false;
        v = args[++*i];
        return true;
    };
    bool ok = true;
    SimWebBehaviour& b = web->behaviour;
    if (a == "--web-port") {
        int32_t n = 0;
        ok = value() && ParseNumber(v, &n) && n >= 0 && n <= 65535;
        web->usPort = static_cast<uint16_t>(n);
        web->bOptional = false;
        web->bEnabled = true;
    } else if (a == "--no-web") {
        web->bEnabled = false;
    } else if (a == "--wsdl-at") {
        ok = value() && (v == "main" || v == "fallback" || v == "none");
        b.wsdlAt = v == "fallback" ? SimWsdlAt::Fallback : v == "none" ? SimWsdlAt::None : SimWsdlAt::Main;
    } else if (a == "--wsdl-fault") {
        ok = value() && (v == "empty" || v == "broken" || v == "silent");
        b.wsdlFault = v == "empty" ? SimWsdlFault::Empty : v == "broken" ? SimWsdlFault::Broken : SimWsdlFault::Silent;
    } else if (a == "--soap-fault") {
        ok = value() && (v == "fault" || v == "broken" || v == "silent");
        b.soapFault = v == "fault" ? SimSoapFault::Fault : v == "broken" ? SimSoapFault::Broken : SimSoapFault::Silent;
    } else if (a == "--no-set-and-get") {
        b.bNoSetAndGet = true;
    } else if (a == "--web-auth") {
        ok = value() && !v.empty();
        b.strAuthenticate = v;
    } else if (a == "--web-user") {
        const size_t colon = (ok = value()) ? v.find(':') : std::string::npos;
        ok = ok && colon != std::string::npos && colon > 0;
        if (ok) {
            b.strUser = v.substr(0, colon);
            b.strPassword = v.substr(colon + 1);
        }
    } else if (a == "--ramfiles") {
        ok = value() && !v.empty();
        web->update.strRamFiles = v;
    } else if (a == "--message-server-port") {
        int32_t n = 0;
        ok = value() && ParseNumber(v, &n) && n >= 0 && n <= 65535;
        web->update.usMessagePort = static_cast<uint16_t>(n);
    } else if (a == "--reboot-ms" || a == "--tool-line-ms") {
        int32_t n = 0;
        ok = value() && ParseNumber(v, &n) && n >= 0;
        (a == "--reboot-ms" ? web->update.dwRebootMs : web->update.dwLineMs) = static_cast<uint32_t>(n);
    } else if (a == "--safe-mode-free-ram") {
        ok = value() && ParseNumber(v, &web->update.lSafeModeFreeRam);
    } else if (a == "--tool-status") {
        int32_t n = 0;
        ok = value() && ParseNumber(v, &n) && n >= 0 && n <= 255;
        web->update.faults.lFinalStatus = n;
    } else if (a == "--update-fault") {
        SimUpdateFaults& f = web->update.faults;
        ok = value();
        if (v == "resize")
            f.bResizeFails = true;
        else if (v == "share-full")
            f.bShareFull = true;
        else if (v == "no-tool")
            f.bToolNoStart = true;
        else if (v == "silent-tool")
            f.bToolSilent = true;
        else if (v == "never-back")
            f.bNeverBack = true;
        else if (v == "agent-stays")
            f.bAgentStays = true;
        else
            ok = false;
    } else if (a == "--store") {
        uint32_t id = 0;
        SimStoreValue s;
        ok = value() && ParseAssignment(v, &id, &s);
        if (ok)
            web->store[id] = s;
    } else if (a == "--store-file") {
        std::string text;
        if (!value()) {
            Fail(error, "--store-file needs a file");
            return -1;
        }
        if (const int e = px::FileReadAll(v.c_str(), 1u << 20, &text)) {
            Fail(error, "--store-file " + v + ": " + std::strerror(e));
            return -1;
        }
        if (!ParseSimStoreText(text, &web->store, error))
            return -1;
    } else {
        return 0;
    }
    if (!ok) {
        Fail(error, "bad or missing value for " + a);
        return -1;
    }
    return 1;
}

const char* SimWebUsage()
{
    return "\n"
           "Web service (the camera's WSDL and SOAP store operations; on by default):\n"
           "  --web-port N             its port (default 80, which needs root: without it the service is\n"
           "                           left out unless the port is given; 0: any free port)\n"
           "  --no-web                 no web service\n"
           "  --store ID=VALUE         a store value: a number (decimal or 0x) or a text (\"4.0\")\n"
           "  --store-file FILE        store values, one ID=VALUE a line, '#' starts a comment\n"
           "  --wsdl-at P              where the WSDL is: main (/WEBINC/kelvowserv.wsdl, default),\n"
           "                           fallback (/kelvowserv.wsdl only) or none\n"
           "  --wsdl-fault F           the WSDL comes empty, broken (cut in half) or silent (no answer)\n"
           "  --soap-fault F           every call gets a fault, a broken body or no answer (silent)\n"
           "  --no-set-and-get         a camera without SetAndGetStoreApiDataOLE\n"
           "  --web-auth VALUE         refuse requests with 401 and this WWW-Authenticate value, such as\n"
           "                           NTLM or 'Basic realm=\"Kelvo\"'\n"
           "  --web-user USER:PASSWORD the basic credentials that pass the refusal\n"
           "\n"
           "Update side (the RAM files, the message server and the update tool; off by default):\n"
           "  --ramfiles DIR           the camera's RAM file system (the host's RamFilesPath names it)\n"
           "  --message-server-port N  the message server's port (default 3074; 0: any free port)\n"
           "  --reboot-ms N            how long a reboot keeps the web service away (default 3000)\n"
           "  --tool-line-ms N         between two lines of the update tool (default 150)\n"
           "  --safe-mode-free-ram N   free RAM in bytes after a reboot into the safe mode\n"
           "  --tool-status N          the update tool ends with this status (0 to 255) instead of\n"
           "                           rebooting the camera\n"
           "  --update-fault F         resize (refused), share-full (no file can be written after the\n"
           "                           resize), no-tool (the tool does not start), silent-tool (it says\n"
           "                           nothing), never-back (a rebooted camera never returns),\n"
           "                           agent-stays (hostlet.exe keeps running under the tool)\n"
           "  An imaging library application that keeps running: --store 0x240038=1; too little RAM for\n"
           "  the update: --store 0x240005=N (then the safe mode's free RAM counts)\n";
}

} // namespace pxsim
