// Helpers of the update tests: a simulated camera whose web service answers on a free loopback
// port with the configuration pointing the library at it, a credential prompt that records what
// it was asked, and a package folder made on the spot.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "pellix/pellix.h"
#include "sim/KelvoSim.h"
#include "sim/SimWebService.h"
#include "tests/platform/BoxCatcher.h"
#include "tests/platform/Scratch.h"
#include "update/CredentialPrompt.h"
#include "update/UpdateTiming.h"

namespace updatetest {

// Quick enough for a silent camera, roomy enough for a loaded machine under a sanitizer.
constexpr HttpTimeouts kQuick{2000, 1500};
constexpr HttpTimeouts kRoomy{10000, 20000};

using platformtest::CScratch;

// The SOAP operations among requests, as "Name 0xID" or "Name 0xID=value".
inline std::vector<std::string> CallsOf(const std::vector<pxsim::SimWebRequest>& requests)
{
    std::vector<std::string> out;
    for (const pxsim::SimWebRequest& r : requests) {
        if (r.strOperation.empty())
            continue;
        char id[16];
        std::snprintf(id, sizeof id, "0x%X", r.dwId);
        std::string line = r.strOperation + " " + id;
        if (r.bHasValue)
            line += "=" + (r.value.bText ? r.value.strText : std::to_string(r.value.lValue));
        out.push_back(line);
    }
    return out;
}

// kelvo-sim with its web service alone on a free port; with RAM files, its update side too
// (message server on a free port, reboots of 100 ms, the tool's lines without pause).
inline pxsim::SimConfig WebConfig(const std::string& ramFiles = "")
{
    pxsim::SimConfig c;
    c.usPublishPort = c.usWatchdogPort = c.usMessagePort = c.usFirstBufferPort = 0;
    c.dwFrameIntervalMs = 0;
    c.web.bEnabled = true;
    c.web.usPort = 0;
    if (!ramFiles.empty()) {
        c.web.update.strRamFiles = ramFiles;
        c.web.update.usMessagePort = 0;
        c.web.update.dwRebootMs = 100;
        c.web.update.dwLineMs = 0;
    }
    return c;
}

// kelvo-sim with only its web service, and VISTEL_CONFIG naming its port. One per test.
class CWebCamera {
public:
    explicit CWebCamera(const pxsim::SimWebBehaviour& behaviour = {},
                        const std::map<uint32_t, pxsim::SimStoreValue>& store = {}, HttpTimeouts timeouts = kRoomy)
    {
        pxsim::SimConfig c = WebConfig();
        c.web.behaviour = behaviour;
        c.web.store = store;
        m_started = m_sim.Start(c) == 0 && m_sim.WebService() != nullptr;
        PointConfigAt(m_sim.WebPort());
        SetUpdateTimingForTests(UpdateTiming{timeouts});
    }
    ~CWebCamera()
    {
        m_sim.Stop();
        unsetenv("VISTEL_CONFIG");
        SetUpdateTimingForTests(UpdateTiming{});
        SetCredentialPrompt(nullptr);
    }
    bool Started() const { return m_started; }
    pxsim::CSimWebService& Web() { return *m_sim.WebService(); }
    uint16_t Port() const { return m_sim.WebPort(); }
    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(Port()) + path;
    }
    // Makes the configuration name another web port (a closed one, say).
    void PointConfigAt(uint16_t port)
    {
        m_scratch.Write("vistel.conf", "WebServicePort=" + std::to_string(port) + "\n");
        setenv("VISTEL_CONFIG", (m_scratch.Path() + "/vistel.conf").c_str(), 1);
    }
    // The methods and paths the service saw, one "GET /path" or "POST /path" each.
    std::vector<std::string> Seen()
    {
        std::vector<std::string> out;
        for (const pxsim::SimWebRequest& r : Web().Requests())
            out.push_back(r.strMethod + " " + r.strPath);
        return out;
    }
    // The SOAP operations that reached the service, as "Name 0xID" or "Name 0xID=value".
    std::vector<std::string> Calls() { return CallsOf(Web().Requests()); }

private:
    pxsim::CKelvoSim m_sim;
    CScratch m_scratch;
    bool m_started = false;
};

// A credential prompt that answers with the given texts and keeps what it was shown.
struct PromptRecord {
    int calls = 0;
    std::string caption, message;
    uint32_t userSize = 0, passwordSize = 0;
    int answer = 0;
    std::string user, password;   // written without a terminator when as long as the buffer
};
inline PromptRecord g_prompt;

inline int RecordingPrompt(const char* caption, const char* message, char* user, uint32_t userSize, char* password,
                           uint32_t passwordSize)
{
    ++g_prompt.calls;
    g_prompt.caption = caption;
    g_prompt.message = message;
    g_prompt.userSize = userSize;
    g_prompt.passwordSize = passwordSize;
    std::memcpy(user, g_prompt.user.data(), std::min<size_t>(g_prompt.user.size() + 1, userSize));
    std::memcpy(password, g_prompt.password.data(), std::min<size_t>(g_prompt.password.size() + 1, passwordSize));
    return g_prompt.answer;
}

inline void UsePrompt(int answer, const std::string& user = "", const std::string& password = "")
{
    g_prompt = PromptRecord{};
    g_prompt.answer = answer;
    g_prompt.user = user;
    g_prompt.password = password;
    SetCredentialPrompt(&RecordingPrompt);
}

using platformtest::CBoxCatcher;

} // namespace updatetest
