#include "log/LogLocation.h"
#include "log/XmlLogger.h"

#include "LogTestUtil.h"

#include <filesystem>

extern "C" void PxLogCallFromC(const char* path);

namespace {

int g_evaluated = 0;
int Evaluated() { return ++g_evaluated; }

// Each test starts and ends without a process-wide logger.
class LoggerApi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(GetXmlLogger(), nullptr); }
    void TearDown() override { DestroyXmlLogger(); }
};

} // namespace

TEST_F(LoggerApi, LifecycleOfTheProcessWideLogger)
{
    TempLogFile file, other;
    PXAddLoggerSection(9, "Early"); // no logger yet: forgotten
    PXInitLogger(nullptr);
    EXPECT_EQ(GetXmlLogger(), nullptr);
    PX_LOG_FORMAT(1, LOG_LEVEL_MSG, "%d", Evaluated());
    EXPECT_EQ(g_evaluated, 0) << "a skipped trace must not evaluate its arguments";

    PXInitLogger(file.CPath());
    CXmlLogger* logger = GetXmlLogger();
    ASSERT_NE(logger, nullptr);
    PXInitLogger(other.CPath()); // the first path wins
    EXPECT_EQ(GetXmlLogger(), logger);
    EXPECT_STREQ(logger->GetPath(), file.CPath());

    PXAddLoggerSection(1, "Again");
    PXAddLoggerSection(10, "Late");
    for (uint32_t section : {1u, 2u, 3u, 4u, 9u, 10u})
        PX_LOG_FORMAT(section, LOG_LEVEL_DEBUG, "%d", Evaluated());
    std::vector<LogRecord> records = ParseRecords(file.Read());
    ASSERT_EQ(records.size(), 6u);
    const char* const names[] = {"Pellix", "Client", "PellixControl", "Graphic", "0x00000009", "Late"};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(records[i].section, names[i]);
    EXPECT_EQ(records[5].data, "6");
    EXPECT_EQ(other.Read(), "");

    DestroyXmlLogger();
    EXPECT_EQ(GetXmlLogger(), nullptr);
    PX_LOG_TEXT("gone", 4, 1, LOG_LEVEL_MSG);
    EXPECT_EQ(ParseRecords(file.Read()).size(), 6u);
    PXInitLogger(other.CPath()); // a new logger after the old one was destroyed
    ASSERT_NE(GetXmlLogger(), nullptr);
    EXPECT_STREQ(GetXmlLogger()->GetPath(), other.CPath());

    // A file that cannot be opened still makes the logger (whose writes fail: XmlLoggerTest).
    DestroyXmlLogger();
    PXInitLogger("/nonexistent-pellix-dir/log.xml");
    EXPECT_NE(GetXmlLogger(), nullptr);
}

TEST_F(LoggerApi, CallableFromC)
{
    TempLogFile file;
    PxLogCallFromC(file.CPath());
    ASSERT_NE(GetXmlLogger(), nullptr);
    PX_LOG_TEXT("x", 1, 20, LOG_LEVEL_MSG);
    PX_LOG_TEXT("y", 1, 21, LOG_LEVEL_MSG);
    std::vector<LogRecord> records = ParseRecords(file.Read());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].section, "0x00000014");
    EXPECT_EQ(records[1].section, "FromC");
}

TEST_F(LoggerApi, TheControlsLogFollowsTheConfiguration)
{
    namespace fs = std::filesystem;
    char dirName[] = "/tmp/pellix-logdir-XXXXXX";
    ASSERT_NE(mkdtemp(dirName), nullptr);
    const fs::path dir = dirName;
    const std::string config = (dir / "vistel.conf").string();
    setenv("VISTEL_CONFIG", config.c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);

    std::ofstream(config) << "# no log\n";
    InitLoggerFromConfig();
    EXPECT_EQ(GetXmlLogger(), nullptr);

    std::ofstream(config) << "LogFileName=control.xml\n";
    InitLoggerFromConfig(); // the folders do not exist yet
    ASSERT_NE(GetXmlLogger(), nullptr);
    const fs::path expected = dir / "data" / "Dravik" / "Vistel" / "control.xml";
    EXPECT_EQ(GetXmlLogger()->GetPath(), expected.string());
    EXPECT_TRUE(GetXmlLogger()->LogText("x", 1, 3, LOG_LEVEL_DEBUG));
    DestroyXmlLogger();
    // "x" by an unnamed thread (ten characters) in "PellixControl" at "DEBUG"
    EXPECT_EQ(fs::file_size(expected), 1 + 10 + 13 + 5 + 105u);

    unsetenv("VISTEL_CONFIG");
    unsetenv("XDG_DATA_HOME");
    fs::remove_all(dir);
}
