// PXKelvoUpdateEx end to end against the simulated camera (web service, RAM files folder,
// message server and update tool), on free loopback ports and at a scaled time.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/File.h"
#include "sim/SimUpdateTool.h"
#include "tests/update/UpdateTestUtil.h"
#include "update/KelvoUpdate.h"

using namespace updatetest;
using pxsim::SimStoreValue;

namespace {

// What the callback heard, as "0:heading", "1:percent", "2:detail".
std::vector<std::string> g_heard;
// Runs on every message before it is kept (a test may change the camera at a given step).
std::function<void(const std::string&)> g_onMessage;

void Hear(int kind, const void* data)
{
    const std::string line = std::to_string(kind) + ":" +
                             (kind == PX_UPDATE_PERCENT ? std::to_string(*static_cast<const int32_t*>(data))
                                                        : std::string(static_cast<const char*>(data)));
    if (g_onMessage)
        g_onMessage(line);
    g_heard.push_back(line);
}

struct CameraSetup {
    std::map<uint32_t, SimStoreValue> store;
    pxsim::SimUpdateFaults faults;
    int32_t lSafeModeFreeRam = 96 << 20;
    uint32_t dwScalePercent = 1;   // of the update's waits: a second of tool silence, 9 s for a reboot
    double dFineScale = 0;         // a finer scale through the tests' setter, when not 0
};

// kelvo-sim with its web service and update side, and the configuration pointing at both.
class CUpdateCamera {
public:
    explicit CUpdateCamera(const CameraSetup& s = {})
    {
        pxsim::SimConfig c = WebConfig(Ram());
        c.web.store = s.store;
        c.web.update.dwClientWaitMs = 20000;
        c.web.update.lSafeModeFreeRam = s.lSafeModeFreeRam;
        c.web.update.faults = s.faults;
        m_started = m_sim.Start(c) == 0 && m_sim.WebService() != nullptr && Tool() != nullptr;
        WriteConfig("UpdateTimeScale=" + std::to_string(s.dwScalePercent) + "\n");
        SetUpdateTimingForTests(UpdateTiming{kRoomy, s.dFineScale});
        g_heard.clear();
        g_onMessage = nullptr;
    }
    ~CUpdateCamera()
    {
        m_sim.Stop();
        unsetenv("VISTEL_CONFIG");
        SetUpdateTimingForTests(UpdateTiming{});
        g_onMessage = nullptr;
    }
    bool Started() const { return m_started; }
    pxsim::CSimWebService& Web() { return *m_sim.WebService(); }
    pxsim::CSimUpdateTool* Tool() { return m_sim.WebService() ? m_sim.WebService()->UpdateTool() : nullptr; }
    std::string Ram() const { return m_scratch.Path() + "/ram"; }
    std::string Package() const { return m_scratch.Path() + "/package"; }
    const CScratch& Scratch() const { return m_scratch; }
    // The simulator's lines plus the test's own.
    void WriteConfig(const std::string& extra)
    {
        m_scratch.Write("vistel.conf", m_sim.ClientConfigText() + extra);
        setenv("VISTEL_CONFIG", (m_scratch.Path() + "/vistel.conf").c_str(), 1);
    }
    int Update(const pxsim::SimPackage& package, int complete, bool callback = true)
    {
        if (pxsim::WriteSimPackage(Package(), package) != 0)
            return -1;
        return PXKelvoUpdateEx("127.0.0.1", Package().c_str(), complete, callback ? &Hear : nullptr);
    }
    // The files of the RAM folder, "Package/..." for the subfolder's, sorted.
    std::vector<std::string> RamFiles() const
    {
        std::vector<std::string> out;
        std::vector<px::FolderEntry> top, sub;
        px::FolderList(Ram().c_str(), &top);
        for (const auto& e : top)
            if (!e.bFolder)
                out.push_back(e.name);
        px::FolderList((Ram() + "/Package").c_str(), &sub);
        for (const auto& e : sub)
            out.push_back("Package/" + e.name);
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<std::string> Calls() { return CallsOf(Web().Requests()); }

private:
    CScratch m_scratch;
    pxsim::CKelvoSim m_sim;
    bool m_started = false;
};

bool Heard(const std::string& line) { return std::find(g_heard.begin(), g_heard.end(), line) != g_heard.end(); }

// The lines appear in this order among all that were heard.
::testing::AssertionResult HeardInOrder(const std::vector<std::string>& lines)
{
    auto at = g_heard.begin();
    for (const std::string& l : lines) {
        at = std::find(at, g_heard.end(), l);
        if (at == g_heard.end()) {
            std::string all;
            for (const std::string& h : g_heard)
                all += "\n  " + h;
            return ::testing::AssertionFailure() << "\"" << l << "\" not heard in order; heard:" << all;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

bool Called(CUpdateCamera& cam, const std::string& call)
{
    const std::vector<std::string> calls = cam.Calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

pxsim::SimPackage Installed()   // the default camera's own versions
{
    pxsim::SimPackage p;
    p.strOs = "4.0";
    p.lOsBuild = 300;
    return p;
}

// The sizes of the written package's files (the update's RAM needs are worked out from them).
struct PackageSizes {
    uint64_t ini, nk, first, user;
};

PackageSizes SizesOf(CUpdateCamera& cam)
{
    auto size = [&](const char* name) {
        px::FolderEntry e;
        return px::FileAttributes((cam.Package() + name).c_str(), &e) == 0 ? e.size : 0;
    };
    return {size("/version.ini"), size("/NK.bin"), size("/Package/filepackEx.bin"), size("/Package/filepackUserEx.bin")};
}

std::string KiB(uint64_t bytes) { return std::to_string(bytes / 1024); }

TEST(KelvoUpdate, AnInstalledPackageIsReportedAndNothingElseIsDone)
{
    CUpdateCamera cam;
    ASSERT_TRUE(cam.Started());
    EXPECT_EQ(cam.Update(Installed(), 0), 0);
    EXPECT_EQ(g_heard, (std::vector<std::string>{"0:Required version already installed on 127.0.0.1",
                                                 "0:KelvoUpdate successfully completed!"}));
    for (const std::string& call : cam.Calls())
        EXPECT_EQ(call.rfind("GetStoreApiDataOLE", 0), 0u) << call;
    EXPECT_TRUE(cam.RamFiles().empty());
}

TEST(KelvoUpdate, ACompleteUpdateRunsEveryStepAndTheCameraReportsThePackage)
{
    CUpdateCamera cam;
    ASSERT_TRUE(cam.Started());
    // What an earlier update left: a read-only file in a folder of its own.
    cam.Scratch().Write("ram/old/stale.bin", "old");
    px::FileSetReadOnly((cam.Ram() + "/old/stale.bin").c_str(), true);

    ASSERT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0);
    const auto [ini, nk, first, user] = SizesOf(cam);
    EXPECT_TRUE(HeardInOrder({
        "0:Starting complete upgrade",
        "0:Initial connection established",
        "0:Stopping FlowsmithAgent application",
        "2:" + KiB(std::max({nk, first, user}) + 0x400000) +
            " kB of free RAM needed. Reporting 49152 kB of Free Ram",
        "2:" + KiB(ini + nk + first + user + 0x300000) +
            " kB of Ram file system space needed. Reporting a ram file system size of 8192 kB",
        "2:Connection successful",
        "0:Cleaning files from RamFiles",
        "2:Files deleted on RamFiles partition",
        "0:Copying necessary files to RamFiles",
        "2:RamFiles size adjusted successfully!",
        "2:Copying files",
        "2:Files copied to 127.0.0.1\\RAMFiles",
        "2:Connecting to Message Server. Attempt 1...",
        "2:Checking the files in RAMFILES",
        "0:BootRom Update", "2:Burning the boot ROM", "1:0", "1:25", "1:50", "1:75", "1:100",
        "0:Formating partitions",
        "0:OS Update", "2:Writing the operating system image", "1:0",
        "0:CeDisk Update",
        "0:UserDisk Update", "1:100",
        "0:Rebooting", "2:REBOOT pending", "2:REBOOT Automatic",
        "0:Wait for first boot procedure completion (may take several minutes)",
        "2:Please wait for Kelvo unit to be ready... ( 0 min,  0 s)\r",
        "2:Unit 127.0.0.1 has successfully rebooted after  0 min,  0 s",
        "0:KelvoUpdate successfully completed!",
    }));
    EXPECT_EQ(g_heard.back(), "0:KelvoUpdate successfully completed!");
    EXPECT_EQ(cam.RamFiles(), (std::vector<std::string>{"NK.bin", "Package/filepackEx.bin",
                                                        "Package/filepackUserEx.bin", "RX_REBOOT_ORDER.tmp",
                                                        "version.ini"}));
    EXPECT_TRUE(Called(cam, "SetStoreApiData 0x240087=0"));
    EXPECT_TRUE(Called(cam, "SetStoreApiData 0x240026=" + std::to_string(ini + nk + first + user + 0x300000)));
    EXPECT_TRUE(Called(cam, "SetAndGetStoreApiDataOLE 0x240089=Restorix.exe RAMFILES NETWORKMESSAGES"));
    EXPECT_TRUE(Called(cam, "SetAndGetStoreApiDataOLE 0x240085=hostlet.exe"));
    EXPECT_FALSE(Called(cam, "SetStoreApiData 0x240008=1"));   // no safe-mode reboot

    uint32_t code = 99;
    ASSERT_EQ(PXInquireUpdate("127.0.0.1", cam.Package().c_str(), 0, &code), 1u);
    EXPECT_EQ(code, PX_UPDATE_ALREADY_INSTALLED);
}

TEST(KelvoUpdate, APartialUpdateLeavesTheSystemImageOutAndRenamesTheUserPackage)
{
    CUpdateCamera cam;
    ASSERT_TRUE(cam.Started());
    pxsim::SimPackage p = Installed();
    p.lQfe = 3;
    ASSERT_EQ(cam.Update(p, 0), 0);
    const auto [ini, nk, first, user] = SizesOf(cam);
    const uint64_t needed = ini + first + user + 0x300000;
    EXPECT_TRUE(HeardInOrder({"0:Starting partial upgrade",
                              "2:" + KiB(std::max(first, user) + 0x400000) + " kB of free RAM needed. Reporting 49152 kB of Free Ram",
                              "2:" + KiB(needed) + " kB of Ram file system space needed. Reporting a ram file system size of 8192 kB",
                              "0:UserDisk Update", "0:KelvoUpdate successfully completed!"}));
    EXPECT_FALSE(Heard("0:OS Update"));
    EXPECT_FALSE(Heard("0:CeDisk Update"));   // the system file package stays out of a partial update
    EXPECT_EQ(cam.RamFiles(), (std::vector<std::string>{"Package/filepackUser.bin", "RX_REBOOT_ORDER.tmp", "version.ini"}));
}

TEST(KelvoUpdate, TheOperatingSystemBuildChoosesTheFilePackages)
{
    for (const int32_t build : {245, 246}) {
        SCOPED_TRACE(build);
        CameraSetup s;
        s.store[0x140010] = SimStoreValue::Integer(build);
        CUpdateCamera cam(s);
        ASSERT_TRUE(cam.Started());
        // A package with both kinds.
        cam.Scratch().Write("package/Package/filepack.bin", std::string(1000, 'p'));
        cam.Scratch().Write("package/Package/filepackUser.bin", std::string(1000, 'u'));
        ASSERT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0);
        const std::vector<std::string> expected =
            build == 245 ? std::vector<std::string>{"NK.bin", "Package/filepack.bin", "Package/filepackUser.bin",
                                                    "RX_REBOOT_ORDER.tmp", "version.ini"}
                         : std::vector<std::string>{"NK.bin", "Package/filepackEx.bin", "Package/filepackUserEx.bin",
                                                    "RX_REBOOT_ORDER.tmp", "version.ini"};
        EXPECT_EQ(cam.RamFiles(), expected);
    }
}

TEST(KelvoUpdate, TheDecisionTableWithAndWithoutComplete)
{
    CUpdateCamera cam;
    ASSERT_TRUE(cam.Started());
    pxsim::SimPackage noAgent = Installed();
    noAgent.bFlowsmith = false;
    EXPECT_EQ(cam.Update(noAgent, 0), 0x80B);
    EXPECT_EQ(g_heard, std::vector<std::string>{"0:Can't install this version on current hardware"});

    g_heard.clear();
    EXPECT_EQ(cam.Update(noAgent, 1), 0);
    EXPECT_TRUE(HeardInOrder({"0:Starting complete reinstall", "0:OS Update", "0:KelvoUpdate successfully completed!"}));

    g_heard.clear();
    EXPECT_EQ(cam.Update(Installed(), 1), 0);   // installed already, and forced
    EXPECT_EQ(g_heard.front(), "0:Starting complete upgrade");

    g_heard.clear();
    pxsim::SimPackage older = Installed();
    older.strQvl = "9.1.0";
    EXPECT_EQ(cam.Update(older, 1), 0);   // a partial downgrade made complete: the system image goes too
    EXPECT_TRUE(HeardInOrder({"0:Starting complete downgrade", "0:OS Update", "0:KelvoUpdate successfully completed!"}));
    EXPECT_EQ(cam.RamFiles().front(), "NK.bin");
}

TEST(KelvoUpdate, AnUnreachableCameraOrAMissingPackageIsAVersionError)
{
    CUpdateCamera cam;
    ASSERT_TRUE(cam.Started());
    EXPECT_EQ(PXKelvoUpdate("127.0.0.1", (cam.Package() + "/none").c_str(), &Hear), 0x808);
    EXPECT_EQ(g_heard, (std::vector<std::string>{"0:Error at execution of Inquire Version",
                                                 "2:Version inquire failed to retrieve information"}));
    char text[256];
    ASSERT_EQ(PXGetKelvoUpdateError(0x808, text), 1);
    EXPECT_STREQ(text, "Error: impossible to get version");
}

TEST(KelvoUpdate, AnImagingApplicationThatKeepsRunningStopsTheUpdate)
{
    CameraSetup s;
    s.store[0x240038] = SimStoreValue::Integer(1);
    CUpdateCamera cam(s);
    ASSERT_TRUE(cam.Started());
    EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x80A);
    EXPECT_EQ(g_heard.back(), "0:Error, No rescue can be done while one QVL application is running");
    const std::vector<std::string> calls = cam.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "GetStoreApiDataOLE 0x240038"), 10);
}

TEST(KelvoUpdate, ShortRamRebootsIntoTheSafeModeFirst)
{
    CameraSetup s;
    s.store[0x240005] = SimStoreValue::Integer(4 << 20);
    CUpdateCamera cam(s);
    ASSERT_TRUE(cam.Started());
    ASSERT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0);
    const auto [ini, nk, first, user] = SizesOf(cam);
    const uint64_t ram = ini + nk + first + user + 0x300000;
    const uint64_t freeRam = nk + 0x400000;
    EXPECT_TRUE(HeardInOrder({
        "2:Rebooting in safe mode. Total ram needed: " + KiB(ram + freeRam) + " kB",
        "2:Connection successful",
        "0:Copying necessary files to RamFiles",
        "2:We need " + KiB(freeRam) + " kB of free RAM. Actuallly 98304 kB of free RAM",
        "2:" + KiB(ram) + " kB of Ram file system space needed. Actual ram file system size 8192 kB",
        "0:KelvoUpdate successfully completed!",
    }));
    EXPECT_TRUE(Called(cam, "SetStoreApiData 0x240037=1"));
    EXPECT_TRUE(Called(cam, "SetStoreApiData 0x240008=1"));
}

TEST(KelvoUpdate, ResizeFailures)
{
    {
        CameraSetup s;   // too little RAM even in the safe mode
        s.store[0x240005] = SimStoreValue::Integer(4 << 20);
        s.store[0x240026] = SimStoreValue::Integer(4 << 20);
        s.lSafeModeFreeRam = 0;
        CUpdateCamera cam(s);
        ASSERT_TRUE(cam.Started());
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x804);
        ASSERT_GE(g_heard.size(), 2u);
        EXPECT_EQ(g_heard[g_heard.size() - 2], "0:Error at execution of RamFiles size adjustment");
        const auto [ini, nk, first, user] = SizesOf(cam);
        const uint64_t ram = ini + nk + first + user + 0x300000;
        EXPECT_EQ(g_heard.back(), "2:Cannot adjust RamFiles partition size to " + KiB(ram) + " (Free RAM 0) kB");
    }
    {
        CameraSetup s;
        s.faults.bResizeFails = true;
        CUpdateCamera cam(s);
        ASSERT_TRUE(cam.Started());
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x804);
        EXPECT_FALSE(Heard("2:We need"));   // no safe-mode reboot, so no second report of the sizes
    }
}

TEST(KelvoUpdate, ShareFailuresWhileCleaningAndCopying)
{
    {
        CUpdateCamera cam;
        ASSERT_TRUE(cam.Started());
        // The share goes away as the cleaning begins, and stays away for the second listing.
        g_onMessage = [&](const std::string& line) {
            if (line == "0:Cleaning files from RamFiles")
                std::filesystem::remove_all(cam.Ram());
        };
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x803);
        EXPECT_TRUE(HeardInOrder({"0:Error at execution of file attributes change",
                                  "2:Cannot change file attributes on existing files",
                                  "2:Error " + std::to_string(ENOENT)}));
    }
    {
        CameraSetup s;
        s.faults.bShareFull = true;
        CUpdateCamera cam(s);
        ASSERT_TRUE(cam.Started());
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x805);
        EXPECT_TRUE(HeardInOrder({"2:Copying files", "0:Error at execution of files copy",
                                  "2:File copy not completed properly"}));
    }
}

TEST(KelvoUpdate, ToolStartFailures)
{
    {
        CameraSetup s;
        s.faults.bToolNoStart = true;
        CUpdateCamera cam(s);
        ASSERT_TRUE(cam.Started());
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x806);
        EXPECT_EQ(std::vector<std::string>(g_heard.end() - 2, g_heard.end()),
                  (std::vector<std::string>{"0:Error at execution of RestoRix launch",
                                            "2:Restorix operation could not start"}));
    }
    {
        CameraSetup s;
        s.faults.bAgentStays = true;
        CUpdateCamera cam(s);
        ASSERT_TRUE(cam.Started());
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x806);
        EXPECT_EQ(std::vector<std::string>(g_heard.end() - 2, g_heard.end()),
                  (std::vector<std::string>{"0:Error at execution of Hostlet stop",
                                            "2:Restorix operation could not start"}));
        const std::vector<std::string> calls = cam.Calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetAndGetStoreApiDataOLE 0x240085=hostlet.exe"), 10);
    }
    {
        CUpdateCamera cam;
        ASSERT_TRUE(cam.Started());
        // The message server is not where the configuration says: every attempt fails.
        uint16_t closed = 0;
        px::SocketHandle h = px::kInvalidSocket;
        ASSERT_EQ(px::SocketOpenServer(px::kLoopbackAddress, 0, false, &h, &closed), 0);
        px::SocketClose(h);
        cam.WriteConfig("UpdateTimeScale=1\nMessageServerPort=" + std::to_string(closed) + "\n");
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x806);
        const size_t attempts = std::count_if(g_heard.begin(), g_heard.end(), [](const std::string& l) {
            return l.rfind("2:Connecting to Message Server. Attempt ", 0) == 0;
        });
        EXPECT_GE(attempts, 2u);
        EXPECT_TRUE(HeardInOrder({"2:Connecting to Message Server. Attempt 2...",
                                  "0:Error at connection to message server on the KELVO. Tried " +
                                      std::to_string(attempts) + " times.",
                                  "2:Restorix operation could not start"}));
    }
}

TEST(KelvoUpdate, TheToolsEndsOtherThanSuccess)
{
    {
        CameraSetup s;
        s.faults.lFinalStatus = 0x80;
        CUpdateCamera cam(s);
        ASSERT_TRUE(cam.Started());
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 128);
        EXPECT_FALSE(Heard("0:KelvoUpdate successfully completed!"));
        EXPECT_FALSE(Heard("0:Rebooting"));
        char text[256];
        ASSERT_EQ(PXGetKelvoUpdateError(128, text), 1);
        EXPECT_STREQ(text, "Error: during BootRom burning");
    }
    {
        CameraSetup s;
        s.faults.bToolSilent = true;
        CUpdateCamera cam(s);
        ASSERT_TRUE(cam.Started());
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x807);
        EXPECT_EQ(g_heard.back(),
                  "2:Timeout error on Restorix. No information has been received from the camera for awhile. Please "
                  "check the connection and try again. Note: The update operation may have been completed "
                  "successfully.");
    }
    {
        CameraSetup s;
        s.faults.bNeverBack = true;
        s.dFineScale = 0.002;   // 900 s of waiting in under two
        CUpdateCamera cam(s);
        ASSERT_TRUE(cam.Started());
        EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0), 0x802);
        EXPECT_TRUE(HeardInOrder({"2:REBOOT Automatic",
                                  "0:Wait for first boot procedure completion (may take several minutes)",
                                  "0:Error at execution of Kelvo reconnection",
                                  "2:Cannot verify proper reboot of the Kelvo camera 127.0.0.1.\nThe update operation "
                                  "may have been completed successfully.\nMaybe the Kelvo camera was given a different "
                                  "IP address after reboot."}));
    }
}

TEST(KelvoUpdate, WithoutACallbackNothingIsReportedAndTheProcessesAreNotChecked)
{
    CUpdateCamera cam;
    ASSERT_TRUE(cam.Started());
    EXPECT_EQ(cam.Update(pxsim::SimPackage{}, 0, false), 0);
    EXPECT_TRUE(g_heard.empty());
    for (const std::string& call : cam.Calls())
        EXPECT_EQ(call.find("0x240085"), std::string::npos) << call;
    EXPECT_TRUE(Called(cam, "SetAndGetStoreApiDataOLE 0x240089=Restorix.exe RAMFILES NETWORKMESSAGES"));
}

} // namespace
