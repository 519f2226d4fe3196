// PXGetResultText through libpellix.so: every result the header defines has its name and meaning,
// agents' codes are told apart, and texts of different threads do not overwrite each other.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pellix/pellix.h"

namespace {

struct HeaderResult {
    std::string strName;
    uint32_t dwValue;
};

// The result codes as the public header defines them (the block before PX_VERSION), so that a
// code added there without a text fails here.
std::vector<HeaderResult> ResultsOfHeader()
{
    std::ifstream file(PELLIX_HEADER_PATH);
    std::stringstream text;
    text << file.rdbuf();
    const std::string header = text.str();
    const size_t end = header.find("#define PX_VERSION");
    const std::regex define(R"(#define\s+(PX_[A-Z_]+)\s+(\d+)u)");
    std::vector<HeaderResult> results;
    for (std::sregex_iterator it(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(end), define), last;
         it != last; ++it)
        results.push_back({(*it)[1].str(), static_cast<uint32_t>(std::stoul((*it)[2].str()))});
    return results;
}

} // namespace

TEST(ResultText, EveryResultOfTheHeaderHasItsNameAndAMeaning)
{
    const std::vector<HeaderResult> results = ResultsOfHeader();
    ASSERT_GE(results.size(), 13u);  // PX_OK to PX_NO_WATCHDOG, PX_BUFFER_CHANGED among them
    std::set<std::string> texts;
    for (const HeaderResult& r : results) {
        const std::string text = PXGetResultText(r.dwValue);
        EXPECT_EQ(text.rfind(r.strName + ": ", 0), 0u) << text;
        EXPECT_GT(text.size(), r.strName.size() + 4) << "no meaning for " << r.strName;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), results.size());
    EXPECT_STREQ(PXGetResultText(PX_COMM_ERROR), "PX_COMM_ERROR: communication with the camera's agent failed");
    EXPECT_NE(std::string(PXGetResultText(PX_NO_WATCHDOG)).find("watchdog is not available"), std::string::npos);
}

TEST(ResultText, AgentCodesAreNamedByTheirNumberPerThread)
{
    EXPECT_STREQ(PXGetResultText(1), "agent result 1");
    EXPECT_STREQ(PXGetResultText(2001), "agent result 2001");
    EXPECT_STREQ(PXGetResultText(0xFFFFFFFFu), "agent result 4294967295");
    // A library text is a constant; an agent's stays put while another thread asks for others.
    EXPECT_EQ(PXGetResultText(PX_ERROR), PXGetResultText(PX_ERROR));
    const char* mine = PXGetResultText(17);
    std::thread other([] {
        for (uint32_t code = 100; code < 1000; ++code)
            ASSERT_EQ(std::string(PXGetResultText(code)), "agent result " + std::to_string(code));
    });
    other.join();
    EXPECT_STREQ(mine, "agent result 17");
}
