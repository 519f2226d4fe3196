// pellix-update: the camera update facility from the command line.
//
//   pellix-update CAMERA PACKAGE --inquire
//   pellix-update CAMERA PACKAGE [--complete]
//   pellix-update --simulate [PACKAGE]
//
// --inquire compares the update package in the folder PACKAGE with the versions installed on
// CAMERA (a host name, an address or a WSDL URL): prints both sides' versions, one line per value,
// and the verdict in words. Without it the package is installed: the steps' headings as lines, the
// current stage's percentage as a bar redrawn in place on a terminal (plain lines otherwise), the
// details below, and the result's text at the end. --simulate runs a whole update against kelvo-sim
// started in this process (with a package of the simulator's making when none is given), at a
// fiftieth of the real waits. A camera that wants credentials for its web service gets them asked
// on the terminal, the password without echo. Exit status: 0 when the comparison was made or the
// update succeeded, 1 when it failed (the error's text says why), 2 for a wrong command line.
//
// Threads: the main thread does all of it through libpellix, which blocks while it talks to the
// camera; with --simulate the simulator's own threads serve it.
#include <stdlib.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "pellix/pellix.h"
#include "platform/File.h"
#include "platform/TerminalInput.h"
#include "sim/KelvoSim.h"
#include "sim/SimUpdateTool.h"
#include "sim/SimWebService.h"

namespace {

constexpr const char* kUsage =
    "Usage: pellix-update CAMERA PACKAGE --inquire\n"
    "       pellix-update CAMERA PACKAGE [--complete]\n"
    "       pellix-update --simulate [PACKAGE]\n"
    "--inquire compares the update package in the folder PACKAGE (\"version.ini\", \"FpgaRomInfo.txt\")\n"
    "with the versions installed on CAMERA (a host name, an IPv4 address or the URL of its WSDL) and\n"
    "prints both, with the kind of update the package would be. Without it the package is installed\n"
    "on the camera (--complete: a complete update even where a partial one would do), with the\n"
    "progress shown as it goes. --simulate installs PACKAGE, or a package of the simulator's making,\n"
    "on a simulated camera in this process. The camera's web service is reached on port 80 (or the\n"
    "configuration's WebServicePort), its RAM files as RamFilesPath (default smb://%s/RAMFILES),\n"
    "its message server on port 3074 (MessageServerPort).\n";

const struct {
    uint32_t id;
    const char* name;
} kValues[] = {
    {PX_INQUIRE_OS, "operating system version"},
    {PX_INQUIRE_OS_BUILD, "operating system build"},
    {PX_INQUIRE_OS_QFE, "operating system QFE"},
    {PX_INQUIRE_QVL_BUILD, "imaging library build"},
    {PX_INQUIRE_QVL_SP, "imaging library service pack"},
    {PX_INQUIRE_QVL_SP_REVISION, "imaging library service pack revision"},
    {PX_INQUIRE_QVL_HOTFIX, "imaging library hot fix"},
    {PX_INQUIRE_FS, "Flowsmith agent version"},
    {PX_INQUIRE_FS_BUILD, "Flowsmith agent build"},
    {PX_INQUIRE_FS_REVISION, "Flowsmith agent revision"},
    {PX_INQUIRE_BOOTROM, "boot ROM version"},
    {PX_INQUIRE_BOOTROM_BUILD, "boot ROM build"},
    {PX_INQUIRE_SENSOR, "sensor configuration"},
    {PX_INQUIRE_FPGA, "FPGA revision"},
};

const char* VerdictText(uint32_t code)
{
    switch (code) {
    case PX_UPDATE_ALREADY_INSTALLED:
        return "already installed";
    case PX_UPDATE_PARTIAL_DOWNGRADE:
        return "partial downgrade (same operating system, some component older in the package)";
    case PX_UPDATE_PARTIAL_UPGRADE:
        return "partial upgrade (same operating system, some component newer in the package)";
    case PX_UPDATE_COMPLETE_DOWNGRADE:
        return "complete downgrade (the package's operating system is older)";
    case PX_UPDATE_COMPLETE_UPGRADE:
        return "complete upgrade (the package's operating system is newer)";
    case PX_UPDATE_NOT_COMPARABLE:
        return "cannot be compared (only one of package and camera has a Flowsmith agent)";
    default:
        return "unknown";
    }
}

// The dialog's message has a run of tabs where its warning starts: a line break here.
std::string TerminalText(const char* message)
{
    std::string out;
    for (const char* p = message; *p != '\0'; ++p) {
        if (*p != '\t') {
            out += *p;
            continue;
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        while (p[1] == '\t' || p[1] == ' ')
            ++p;
        out += '\n';
    }
    return out;
}

// What the user typed for a camera, kept for the run: each inquiry makes a new connection, and
// the user is asked once, as a credential store with "remember" ticked would do.
struct Remembered {
    std::string caption;
    char user[64] = {};
    char password[64] = {};
    ~Remembered()
    {
        explicit_bzero(user, sizeof user);
        explicit_bzero(password, sizeof password);
    }
};
Remembered g_remembered;

void Answer(char* out, uint32_t size, const char* text)
{
    std::snprintf(out, size, "%s", text);
}

int AskOnTerminal(const char* caption, const char* message, char* user, uint32_t userSize, char* password,
                  uint32_t passwordSize)
{
    Remembered& r = g_remembered;
    if (r.caption != caption) {
        const std::string text = std::string(caption) + "\n" + TerminalText(message) + "\n";
        if (!px::TerminalWrite(text.c_str()) || !px::TerminalReadLine("User name: ", true, r.user, sizeof r.user))
            return 0;
        if (!px::TerminalReadLine("Password: ", false, r.password, sizeof r.password)) {
            explicit_bzero(r.user, sizeof r.user);
            return 0;
        }
        r.caption = caption;
    }
    Answer(user, userSize, r.user);
    Answer(password, passwordSize, r.password);
    return 1;
}

std::string ValueText(const char* camera, const char* package, uint32_t id)
{
    char text[256] = {};
    return PXInquireUpdate(camera, package, id, text) == 1 ? text : "-";
}

int Inquire(const char* camera, const char* package)
{
    uint32_t code = 0;
    if (PXInquireUpdate(camera, package, PX_INQUIRE_COMPARE, &code) != 1) {
        char text[256];
        if (code == 0 || PXGetKelvoUpdateError(static_cast<int>(code), text) != 1)
            std::snprintf(text, sizeof text, "the camera did not report all of its versions");
        std::fprintf(stderr, "pellix-update: %s\n", text);
        return 1;
    }
    std::printf("%-38s %-16s %s\n", "value", "package", "camera");
    for (const auto& v : kValues) {
        // The package's FPGA revision depends on the camera's sensor; the others are the package's own.
        const char* packageCamera = v.id == PX_INQUIRE_FPGA ? camera : nullptr;
        const std::string packageValue = v.id == PX_INQUIRE_SENSOR ? "-" : ValueText(packageCamera, package, v.id);
        std::printf("%-38s %-16s %s\n", v.name, packageValue.c_str(), ValueText(camera, nullptr, v.id).c_str());
    }
    std::printf("\nverdict: %s\n", VerdictText(code));
    return 0;
}

// The update's progress: headings as lines, the stage's percentage as a bar that a terminal
// redraws in place, details indented below. A line that ends in a carriage return is redrawn too.
class CProgress {
public:
    static void Callback(int kind, const void* data) { Instance().Show(kind, data); }
    static CProgress& Instance()
    {
        static CProgress progress;
        return progress;
    }
    void EndLine()
    {
        if (m_bOpen)
            std::fputc('\n', stdout);
        m_bOpen = false;
    }

private:
    CProgress() : m_bTerminal(px::StandardOutputIsTerminal()) {}

    void Show(int kind, const void* data)
    {
        if (kind == PX_UPDATE_PERCENT) {
            const int32_t percent = *static_cast<const int32_t*>(data);
            const int clamped = percent < 0 ? 0 : percent > 100 ? 100 : percent;
            const int filled = clamped * kBarWidth / 100;
            if (m_bTerminal) {
                std::printf("\r    [%.*s%*s] %3d%%", filled, kBar, kBarWidth - filled, "", percent);
                m_bOpen = true;
            } else {
                std::printf("    %3d%%\n", percent);
            }
        } else {
            std::string text = static_cast<const char*>(data);
            const bool redraw = !text.empty() && text.back() == '\r';
            while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
                text.pop_back();
            const std::string last = m_strLastRedraw;
            m_strLastRedraw = redraw ? text : std::string();
            EndLine();
            if (kind == PX_UPDATE_HEADING) {
                std::printf("%s\n", text.c_str());
            } else if (redraw && m_bTerminal) {
                std::printf("    %s", text.c_str());
                m_bOpen = true;
            } else if (redraw && text == last) {
                // Plain output: the same waiting line once.
            } else {
                // A detail of several lines keeps its indentation on each.
                std::string indented = "    ";
                for (char c : text)
                    indented += c == '\n' ? std::string("\n    ") : std::string(1, c);
                std::printf("%s\n", indented.c_str());
            }
        }
        std::fflush(stdout);
    }

    static constexpr int kBarWidth = 40;
    static constexpr const char* kBar = "########################################";
    bool m_bTerminal;
    bool m_bOpen = false;   // a bar or a redrawn line waits for its end
    std::string m_strLastRedraw;
};

int ReportResult(int result)
{
    CProgress::Instance().EndLine();
    char text[256];
    if (result == 0) {
        std::printf("Update completed.\n");
        return 0;
    }
    if (PXGetKelvoUpdateError(result, text) != 1)
        std::snprintf(text, sizeof text, "update error %d", result);
    std::fprintf(stderr, "pellix-update: %s (%d)\n", text, result);
    return 1;
}

int Update(const char* camera, const char* package, bool complete)
{
    return ReportResult(PXKelvoUpdateEx(camera, package, complete ? 1 : 0, &CProgress::Callback));
}

// A scratch folder for the simulated camera, removed at the end.
struct CScratchFolder {
    CScratchFolder()
    {
        const char* dir = getenv("TMPDIR");
        std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/pellix-update-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr)
            path = pattern;
    }
    ~CScratchFolder()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

int Simulate(const char* package)
{
    CScratchFolder scratch;
    if (scratch.path.empty()) {
        std::fprintf(stderr, "pellix-update: no temporary folder for the simulated camera\n");
        return 1;
    }
    std::string packageFolder = package != nullptr ? package : scratch.path + "/package";
    if (package == nullptr) {
        if (const int e = pxsim::WriteSimPackage(packageFolder, pxsim::SimPackage{})) {
            std::fprintf(stderr, "pellix-update: cannot write the package: %s\n", std::strerror(e));
            return 1;
        }
    }
    pxsim::SimConfig config;
    config.usPublishPort = config.usWatchdogPort = config.usMessagePort = config.usFirstBufferPort = 0;
    config.dwFrameIntervalMs = 0;
    config.web.bEnabled = true;
    config.web.usPort = 0;
    config.web.update.strRamFiles = scratch.path + "/ramfiles";
    config.web.update.usMessagePort = 0;
    config.web.update.dwRebootMs = 1500;
    config.web.update.dwLineMs = 100;
    pxsim::CKelvoSim sim;
    if (const int e = sim.Start(config)) {
        std::fprintf(stderr, "pellix-update: the simulated camera did not start: %s\n", std::strerror(e));
        return 1;
    }
    // The library finds the simulated camera's ports and RAM files through its configuration.
    const std::string configPath = scratch.path + "/vistel.conf";
    const std::string text = sim.ClientConfigText() + "UpdateTimeScale=2\n";
    if (px::FileWriteAll(configPath.c_str(), text.data(), text.size()) != 0) {
        std::fprintf(stderr, "pellix-update: cannot write %s\n", configPath.c_str());
        return 1;
    }
    setenv("VISTEL_CONFIG", configPath.c_str(), 1);
    std::printf("Simulated camera at 127.0.0.1 (web service port %u), package %s\n", sim.WebPort(),
                packageFolder.c_str());
    const int status = Update("127.0.0.1", packageFolder.c_str(), false);
    sim.Stop();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    PXSetCredentialPrompt(&AskOnTerminal);
    if (argc >= 2 && argc <= 3 && std::strcmp(argv[1], "--simulate") == 0)
        return Simulate(argc == 3 ? argv[2] : nullptr);
    if (argc == 4 && std::strcmp(argv[3], "--inquire") == 0)
        return Inquire(argv[1], argv[2]);
    if (argc == 3 || (argc == 4 && std::strcmp(argv[3], "--complete") == 0))
        return Update(argv[1], argv[2], argc == 4);
    std::fputs(kUsage, stderr);
    return 2;
}
