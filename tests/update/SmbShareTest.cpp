// The SMB share against a real Samba server: smbd from Debian's samba package, started here on a
// private port with its own configuration and folders and a guest account that is this user, and
// stopped at the end. A whole update then runs with the camera's RAM files behind it.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Socket.h"
#include "sim/SimUpdateTool.h"
#include "tests/update/UpdateTestUtil.h"
#include "update/RamShare.h"

extern char** environ;

// libsmbclient keeps a few blocks of its memory pool (talloc) for the whole process; they are the
// library's, not the share's, and would fail every run under LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() { return "leak:libtalloc.so\nleak:libsmbclient.so\n"; }

using namespace updatetest;

namespace {

class CSambaServer {
public:
    explicit CSambaServer(const std::string& dir) : m_dir(dir)
    {
        for (const char* sub : {"share", "lock", "state", "cache", "private", "pid", "ncalrpc", "log"})
            std::filesystem::create_directories(dir + "/" + sub);
        px::SocketHandle h = px::kInvalidSocket;
        if (px::SocketOpenServer(px::kLoopbackAddress, 0, false, &h, &m_port) == 0)
            px::SocketClose(h);   // smbd takes the port a moment later
    }
    ~CSambaServer() { Stop(); }
    void Stop()
    {
        if (m_pid > 0) {
            if (kill(-m_pid, SIGTERM) != 0)
                kill(m_pid, SIGTERM);   // not yet in a group of its own
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    uint16_t Port() const { return m_port; }
    std::string Share() const { return m_dir + "/share"; }

    // Starts smbd and waits until its port takes connections (at most 30 s).
    bool Start(const std::string& user)
    {
        std::ofstream conf(m_dir + "/smb.conf");
        conf << "[global]\n  smb ports = " << m_port << "\n  bind interfaces only = yes\n  interfaces = lo\n";
        for (const char* sub : {"lock", "state", "cache", "pid"})
            conf << "  " << sub << " directory = " << m_dir << "/" << sub << "\n";
        conf << "  ncalrpc dir = " << m_dir << "/ncalrpc\n  private dir = " << m_dir << "/private\n  log file = " << m_dir << "/log/smbd.log\n"
             << "  map to guest = Bad User\n  guest account = " << user << "\n"
             << "  server role = standalone server\n  load printers = no\n  printcap name = /dev/null\n"
             << "  disable spoolss = yes\n"
             << "[RAMFILES]\n  path = " << Share() << "\n  guest ok = yes\n  guest only = yes\n"
             << "  read only = no\n  create mask = 0644\n  map readonly = yes\n"
             << "  store dos attributes = no\n";
        conf.close();
        const std::string confArg = "--configfile=" + m_dir + "/smb.conf";
        // smbd makes a session of its own (it signals its whole group when it stops, which must
        // not be the test's).
        const char* argv[] = {"smbd", "--foreground", confArg.c_str(), nullptr};
        if (posix_spawnp(&m_pid, "smbd", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
            m_pid = -1;
            return false;
        }
        for (uint64_t start = px::TickCount64(); px::TickCount64() - start < 30000; px::SleepMs(50)) {
            px::SocketHandle s = px::kInvalidSocket;
            if (px::SocketOpen(px::SocketType::Stream, &s) != 0)
                return false;
            const bool up = px::SocketConnect(s, px::kLoopbackAddress, m_port) == 0;
            px::SocketClose(s);
            if (up)
                return true;
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;   // it ended: its log says why
                return false;
            }
        }
        return false;
    }

private:
    std::string m_dir;
    uint16_t m_port = 0;
    pid_t m_pid = -1;
};

std::string CurrentUser()
{
    const char* user = getenv("USER");
    if (user != nullptr && *user != '\0')
        return user;
    return getuid() == 0 ? "root" : std::to_string(getuid());
}

TEST(SmbShare, TheShareOperationsAndAWholeUpdateAgainstSamba)
{
    if (getuid() != 0)
        GTEST_SKIP() << "smbd serves a guest share only when started as root";
    CScratch scratch;
    CSambaServer samba(scratch.Path());
    ASSERT_NE(samba.Port(), 0);
    if (!samba.Start(CurrentUser())) {
        std::string log;
        px::FileReadAll((scratch.Path() + "/log/smbd.log").c_str(), 1u << 16, &log);
        FAIL() << "smbd did not start:\n" << log;
    }
    const std::string url = "smb://127.0.0.1:" + std::to_string(samba.Port()) + "/RAMFILES";

    {
        std::unique_ptr<IRamShare> share = OpenSmbRamShare(url);
        scratch.Write("local.bin", std::string(200000, 'x'));
        ASSERT_EQ(share->CreateFolder("Package"), 0);
        EXPECT_EQ(share->CreateFolder("Package"), 0);   // there already
        ASSERT_EQ(share->CopyIn(scratch.Path() + "/local.bin", "Package/a.bin"), 0);
        ASSERT_EQ(share->Rename("Package/a.bin", "Package/b.bin"), 0);
        ASSERT_EQ(share->CreateEmpty("order.tmp"), 0);
        EXPECT_EQ(std::filesystem::file_size(samba.Share() + "/Package/b.bin"), 200000u);
        EXPECT_EQ(std::filesystem::file_size(samba.Share() + "/order.tmp"), 0u);

        // A file made read-only on the server reads so, and is normal again after SetNormal.
        px::FileSetReadOnly((samba.Share() + "/Package/b.bin").c_str(), true);
        std::vector<RamEntry> entries;
        ASSERT_EQ(share->ListAll("", &entries), 0);
        std::sort(entries.begin(), entries.end(), [](const RamEntry& a, const RamEntry& b) { return a.strPath < b.strPath; });
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].strPath, "Package");
        EXPECT_TRUE(entries[0].bFolder);
        EXPECT_EQ(entries[1].strPath, "Package/b.bin");
        EXPECT_TRUE(entries[1].bReadOnly);
        EXPECT_EQ(entries[2].strPath, "order.tmp");
        ASSERT_EQ(share->SetNormal("Package/b.bin"), 0);
        px::FolderEntry attributes;
        ASSERT_EQ(px::FileAttributes((samba.Share() + "/Package/b.bin").c_str(), &attributes), 0);
        EXPECT_FALSE(attributes.bReadOnly);

        ASSERT_EQ(share->DeleteAll(), 0);
        EXPECT_TRUE(std::filesystem::is_empty(samba.Share()));
        EXPECT_NE(share->CopyIn(scratch.Path() + "/missing.bin", "x.bin"), 0);
    }

    // The camera's RAM files are the share; the simulated camera's tool reads them from its folder.
    pxsim::CKelvoSim sim;
    ASSERT_EQ(sim.Start(WebConfig(samba.Share())), 0);
    scratch.Write("vistel.conf", sim.ClientConfigText() + "RamFilesPath=smb://%s:" + std::to_string(samba.Port()) +
                                     "/RAMFILES\nUpdateTimeScale=1\n");
    setenv("VISTEL_CONFIG", (scratch.Path() + "/vistel.conf").c_str(), 1);
    SetUpdateTimingForTests(UpdateTiming{kRoomy, 0});
    ASSERT_EQ(pxsim::WriteSimPackage(scratch.Path() + "/package", pxsim::SimPackage{}), 0);
    EXPECT_EQ(PXKelvoUpdate("127.0.0.1", (scratch.Path() + "/package").c_str(), nullptr), 0);
    EXPECT_TRUE(std::filesystem::exists(samba.Share() + "/Package/filepackUserEx.bin"));
    EXPECT_TRUE(std::filesystem::exists(samba.Share() + "/RX_REBOOT_ORDER.tmp"));
    sim.Stop();
    unsetenv("VISTEL_CONFIG");
    SetUpdateTimingForTests(UpdateTiming{});

    // A server that went away: the error says the share's host is no longer there.
    std::unique_ptr<IRamShare> share = OpenSmbRamShare(url);
    samba.Stop();
    std::vector<RamEntry> entries;
    const int e = share->ListAll("", &entries);
    EXPECT_NE(e, 0);
    EXPECT_TRUE(share->NameGone(e)) << e;
}

} // namespace
