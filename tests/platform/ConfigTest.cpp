#include "platform/Config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace px;

TEST(Config, ParsesNumbersDecimalAndHex)
{
    uint32_t v = 0;
    EXPECT_TRUE(ConfigParseNumber("3072", &v));
    EXPECT_EQ(v, 3072u);
    EXPECT_TRUE(ConfigParseNumber("0x0C01", &v));
    EXPECT_EQ(v, 0xC01u);
    EXPECT_TRUE(ConfigParseNumber("0xFFFFFFFF", &v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_FALSE(ConfigParseNumber("0x100000000", &v));
    EXPECT_FALSE(ConfigParseNumber("12abc", &v));
    EXPECT_FALSE(ConfigParseNumber("-1", &v));
    EXPECT_FALSE(ConfigParseNumber("", &v));
    EXPECT_FALSE(ConfigParseNumber("0x", &v));
}

TEST(Config, LookupTrimsSkipsCommentsAndTakesLastAssignment)
{
    const std::string text = "# ports\n  PublishPort = 4000 \r\nWatchDogPort=0x0BC1 # hex\n"
                              "Broken line\nLogFileName=pellix.log\nPublishPort=4001\n#AsyncMsgPort=1\n";
    std::string v;
    EXPECT_TRUE(ConfigLookup(text, "PublishPort", &v));
    EXPECT_EQ(v, "4001");
    EXPECT_TRUE(ConfigLookup(text, "WatchDogPort", &v));
    EXPECT_EQ(v, "0x0BC1");
    EXPECT_TRUE(ConfigLookup(text, "LogFileName", &v));
    EXPECT_EQ(v, "pellix.log");
    EXPECT_FALSE(ConfigLookup(text, "AsyncMsgPort", &v));
    EXPECT_FALSE(ConfigLookup(text, "Publish", &v));
}

TEST(Config, StoreReadsTheFileNamedByTheEnvironmentAndFallsBackToDefaults)
{
    char path[] = "/tmp/pellix-config-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream f(path);
        f << "PublishPort=0x1000\nShowDebugMessage=0\nLogFileName=a b.log\nBad=xyz\n";
    }
    setenv("VISTEL_CONFIG", path, 1);
    EXPECT_EQ(ConfigPath(), path);
    EXPECT_EQ(ConfigGetNumber("PublishPort", 3072), 0x1000u);
    EXPECT_EQ(ConfigGetNumber("ShowDebugMessage", 1), 0u);
    EXPECT_EQ(ConfigGetNumber("Bad", 7), 7u);
    EXPECT_EQ(ConfigGetNumber("WatchDogPort", 3073), 3073u);
    EXPECT_EQ(ConfigGetString("LogFileName", ""), "a b.log");
    EXPECT_EQ(ConfigGetString("Missing", "dflt"), "dflt");
    unlink(path);
    EXPECT_EQ(ConfigGetNumber("PublishPort", 3072), 3072u); // missing file: defaults
    unsetenv("VISTEL_CONFIG");
    EXPECT_EQ(ConfigPath(), "/etc/dravik/vistel.conf");
}
