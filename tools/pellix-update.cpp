// pellix-update: the camera update facility from the command line.
//
//   pellix-update CAMERA PACKAGE --inquire
//
// Compares the update package in the folder PACKAGE with the versions installed on CAMERA (a host
// name, an address or a WSDL URL): prints both sides' versions, one line per value, and the
// verdict in words. A camera that wants credentials for its web service gets them asked on the
// terminal, the password without echo. Exit status: 0 when the comparison was made, 1 when it
// failed (the error's text says why), 2 for a wrong command line.
//
// Threads: the main thread does all of it through libpellix, which blocks while it talks to the
// camera.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "pellix/pellix.h"
#include "platform/TerminalInput.h"

namespace {

constexpr const char* kUsage =
    "Usage: pellix-update CAMERA PACKAGE --inquire\n"
    "Compares the update package in the folder PACKAGE (\"version.ini\", \"FpgaRomInfo.txt\") with the\n"
    "versions installed on CAMERA (a host name, an IPv4 address or the URL of its WSDL) and prints\n"
    "both, with the kind of update the package would be. The camera's web service is reached on\n"
    "port 80, or on the configuration's WebServicePort.\n";

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

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 4 || std::strcmp(argv[3], "--inquire") != 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    PXSetCredentialPrompt(&AskOnTerminal);
    return Inquire(argv[1], argv[2]);
}
