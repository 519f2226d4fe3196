#include "log/XmlLogger.h"

#include "LogTestUtil.h"
#include "platform/Event.h"
#include "platform/Thread.h"

#include <memory>
#include <sys/wait.h>

namespace {

using LoggerPtr = std::unique_ptr<CXmlLogger>;

LoggerPtr OpenLogger(const TempLogFile& file)
{
    LoggerPtr logger(CXmlLogger::Create(file.CPath()));
    EXPECT_TRUE(logger && logger->IsOpen());
    return logger;
}

// Writes its records from a thread of its own; returns that thread's identifier.
uint32_t WriteFromNewThread(CXmlLogger& logger, const char* text)
{
    uint32_t tid = 0;
    px::Thread t;
    EXPECT_EQ(t.Start("px-log-writer", [&] {
        tid = px::CurrentThreadId();
        EXPECT_TRUE(logger.LogText(text, strlen(text), 1, LOG_LEVEL_MSG));
    }), 0);
    t.Join();
    return tid;
}

} // namespace

TEST(XmlLogger, WritesWholeLinesAndKeepsOneNulAtTheEnd)
{
    TempLogFile file;
    LoggerPtr logger = OpenLogger(file);
    EXPECT_STREQ(logger->GetPath(), file.CPath());
    ASSERT_TRUE(logger->AddSection(1, "Pellix"));
    ASSERT_TRUE(logger->SetThreadName(px::CurrentThreadId(), "MainThread"));

    EXPECT_TRUE(logger->LogText("00000001 - PXInitLibrary()\n", 27, 1, LOG_LEVEL_DEBUG));
    const std::string first = file.Read();
    // A new file gets its first record at offset 0; the NUL is counted in every write.
    const size_t firstSize = 27 + 6 + 10 + 5 + 105;
    ASSERT_EQ(first.size(), firstSize);
    std::vector<LogRecord> records = ParseRecords(first);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(first, "<LOG><TIME>" + records[0].time + "</TIME><TYPE>DEBUG</TYPE><THREADID>MainThread</THREADID>"
                     "<SECTION>Pellix</SECTION><DATA>00000001 - PXInitLibrary()\n</DATA></LOG>\r\n" + std::string(1, '\0'));

    EXPECT_TRUE(logger->LogFormat(1, LOG_LEVEL_MSG, "count=%d", 7));
    const std::string both = file.Read();
    EXPECT_EQ(both.size(), firstSize - 1 + 7 + 6 + 10 + 3 + 105);
    EXPECT_EQ(both.compare(0, firstSize - 1, first, 0, firstSize - 1), 0) << "the first record was disturbed";
    records = ParseRecords(both);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].type, "MSG");
    EXPECT_EQ(records[1].data, "count=7");
}

TEST(XmlLogger, EmptyTextsAndMarkupInTheText)
{
    TempLogFile file;
    LoggerPtr logger = OpenLogger(file);
    EXPECT_FALSE(logger->LogText(nullptr, 5, 1, LOG_LEVEL_MSG));
    EXPECT_FALSE(logger->LogText("text", 0, 1, LOG_LEVEL_MSG));
    EXPECT_EQ(file.Read().size(), 0u);

    EXPECT_TRUE(logger->LogFormat(1, LOG_LEVEL_MSG, "%s", ""));
    EXPECT_TRUE(logger->LogText("a<b> & </DATA>", 14, 1, LOG_LEVEL_MSG));
    std::vector<LogRecord> records = ParseRecords(file.Read());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].data, "");
    EXPECT_NE(file.Read().find("<DATA>a<b> & </DATA></DATA></LOG>"), std::string::npos);
}

TEST(XmlLogger, SectionsAndLevelsAsRecordsShowThem)
{
    TempLogFile file;
    LoggerPtr logger = OpenLogger(file);
    EXPECT_TRUE(logger->AddSection(1, "Pellix"));
    EXPECT_TRUE(logger->AddSection(300, "Wide"));
    EXPECT_TRUE(logger->AddSection(1, "Second"));
    EXPECT_FALSE(logger->AddSection(5, ""));
    EXPECT_FALSE(logger->AddSection(5, nullptr));

    logger->LogText("a", 1, 1, LOG_LEVEL_MSG);
    logger->LogText("b", 1, 7, LOG_LEVEL_MSG);
    logger->LogText("c", 1, 300, LOG_LEVEL_MSG); // carried in one byte: 300 becomes 0x2C
    EXPECT_TRUE(logger->AddSection(44, "FortyFour"));
    logger->LogText("d", 1, 300, LOG_LEVEL_MSG);
    const char* const words[] = {"", "MSG", "WARN", "ERROR", "DEBUG", ""};
    for (uint32_t level = 0; level <= 5; ++level)
        logger->LogText("e", 1, 1, level);

    std::vector<LogRecord> records = ParseRecords(file.Read());
    ASSERT_EQ(records.size(), 10u);
    EXPECT_EQ(records[0].section, "Pellix");
    EXPECT_EQ(records[1].section, "0x00000007");
    EXPECT_EQ(records[2].section, "0x0000002C");
    EXPECT_EQ(records[3].section, "FortyFour");
    for (uint32_t level = 0; level <= 5; ++level)
        EXPECT_EQ(records[4 + level].type, words[level]) << "level " << level;

    for (uint32_t i = 4; i < CXmlLogger::kMaxEntries; ++i) // 4 entries so far
        ASSERT_TRUE(logger->AddSection(i, "More"));
    EXPECT_FALSE(logger->AddSection(7, "TooMany"));
    logger->LogText("f", 1, 7, LOG_LEVEL_MSG);
    EXPECT_EQ(ParseRecords(file.Read()).back().section, "More");
}

// Threads are shown by their names, or by their identifiers until they have one: past 256 entries
// (more than one byte can index) and with the table full.
TEST(XmlLogger, ThreadNamesBeyondOneByteAndAFullTable)
{
    TempLogFile file;
    LoggerPtr logger = OpenLogger(file);
    EXPECT_FALSE(logger->SetThreadName(px::CurrentThreadId(), ""));
    // Identifiers far above any kernel thread identifier stand for other threads.
    for (uint32_t i = 0; i < 300; ++i)
        ASSERT_TRUE(logger->SetThreadName(0xF0000000u + i, ("T" + std::to_string(i)).c_str()));
    const uint32_t self = px::CurrentThreadId();
    logger->LogText("a", 1, 1, LOG_LEVEL_MSG); // entered as entry 300
    ASSERT_TRUE(logger->SetThreadName(self, "Late"));
    logger->LogText("b", 1, 1, LOG_LEVEL_MSG);

    for (uint32_t i = 301; i < CXmlLogger::kMaxEntries; ++i)
        ASSERT_TRUE(logger->SetThreadName(0xF0000000u + i, "Filler"));
    EXPECT_FALSE(logger->SetThreadName(0xE0000000u, "NoRoom"));
    EXPECT_TRUE(logger->SetThreadName(self, "Renamed")); // a known thread may still be renamed
    logger->LogText("c", 1, 1, LOG_LEVEL_MSG);
    const uint32_t other = WriteFromNewThread(*logger, "d");

    std::vector<LogRecord> records = ParseRecords(file.Read());
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].thread, HexId(self));
    EXPECT_EQ(records[1].thread, "Late"); // its own entry, not entry 300 % 256
    EXPECT_EQ(records[2].thread, "Renamed");
    EXPECT_EQ(records[3].thread, HexId(other));
}

TEST(XmlLogger, CutsTextsAndNamesTo255Characters)
{
    TempLogFile file;
    LoggerPtr logger = OpenLogger(file);
    const std::string longText(400, 'x');
    ASSERT_TRUE(logger->SetThreadName(px::CurrentThreadId(), longText.c_str()));
    ASSERT_TRUE(logger->AddSection(1, longText.c_str()));
    EXPECT_TRUE(logger->LogText(longText.c_str(), longText.size(), 1, LOG_LEVEL_MSG));
    EXPECT_TRUE(logger->LogFormat(1, LOG_LEVEL_MSG, "%s!", longText.c_str()));
    EXPECT_TRUE(logger->LogText("ab\0cd", 5, 1, LOG_LEVEL_MSG));

    std::vector<LogRecord> records = ParseRecords(file.Read());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].data, std::string(255, 'x'));
    EXPECT_EQ(records[1].data, std::string(255, 'x'));
    EXPECT_EQ(records[0].thread, std::string(255, 'x'));
    EXPECT_EQ(records[0].section, std::string(255, 'x'));
    EXPECT_EQ(records[2].data, "ab");
}

TEST(XmlLogger, WithoutFileEveryWriteFails)
{
    for (const char* path : {"/nonexistent-pellix-dir/log.xml", static_cast<const char*>(nullptr)}) {
        LoggerPtr logger(CXmlLogger::Create(path));
        ASSERT_TRUE(logger);
        EXPECT_FALSE(logger->IsOpen());
        EXPECT_STREQ(logger->GetPath(), "");
        EXPECT_TRUE(logger->SetThreadName(px::CurrentThreadId(), "MainThread"));
        EXPECT_FALSE(logger->LogText("x", 1, 1, LOG_LEVEL_MSG));
        EXPECT_FALSE(logger->LogFormat(1, LOG_LEVEL_MSG, "x"));
    }
}

TEST(XmlLogger, LaterLoggersAppendBehindTheNul)
{
    TempLogFile file;
    OpenLogger(file)->LogText("first run", 9, 1, LOG_LEVEL_MSG);
    const std::string firstRun = file.Read();
    {
        LoggerPtr logger = OpenLogger(file);
        logger->LogText("second run", 10, 1, LOG_LEVEL_MSG);
        logger->LogText("again", 5, 1, LOG_LEVEL_MSG);
    }
    const std::string all = file.Read();
    EXPECT_EQ(all.compare(0, firstRun.size() - 1, firstRun, 0, firstRun.size() - 1), 0);
    std::vector<LogRecord> records = ParseRecords(all);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].data, "second run");

    // A file that does not end in a NUL keeps its last character.
    file.Write("kept text\n");
    OpenLogger(file)->LogText("x", 1, 1, LOG_LEVEL_MSG);
    const std::string mixed = file.Read();
    ASSERT_EQ(mixed.compare(0, 10, "kept text\n"), 0);
    EXPECT_EQ(ParseRecords(mixed.substr(10)).size(), 1u);
}

TEST(XmlLogger, TwoProcessesAppendingAtOnceKeepEveryRecord)
{
    TempLogFile file;
    constexpr int kRecords = 1000;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    const bool isChild = child == 0;
    if (isChild) {
        char byte;
        close(go[1]);
        if (read(go[0], &byte, 1) != 1)
            _exit(2);
    } else {
        close(go[0]);
    }
    {
        LoggerPtr logger(CXmlLogger::Create(file.CPath()));
        if (!isChild) {
            EXPECT_EQ(write(go[1], "g", 1), 1);
        }
        bool ok = logger != nullptr;
        for (int i = 0; ok && i < kRecords; ++i)
            ok = logger->LogFormat(1, LOG_LEVEL_MSG, "%s %d", isChild ? "child" : "parent", i);
        if (isChild)
            _exit(ok ? 0 : 1);
        EXPECT_TRUE(ok);
    }
    close(go[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::vector<LogRecord> records = ParseRecords(file.Read());
    ASSERT_EQ(records.size(), 2u * kRecords);
    int next[2] = {0, 0}; // each process's records stay in its own order
    for (const LogRecord& r : records) {
        const int who = r.data.rfind("child", 0) == 0 ? 1 : 0;
        EXPECT_EQ(r.data, (who ? "child " : "parent ") + std::to_string(next[who]));
        ++next[who];
    }
}

TEST(XmlLogger, ManyThreadsWritingAtOnceGiveWholeLines)
{
    TempLogFile file;
    LoggerPtr logger = OpenLogger(file);
    constexpr int kThreads = 8, kRecords = 250;
    px::Event start(true, false);
    px::Thread threads[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(threads[t].Start("px-log-many", [&, t] {
            logger->SetThreadName(px::CurrentThreadId(), ("W" + std::to_string(t)).c_str());
            start.Wait();
            for (int i = 0; i < kRecords; ++i)
                logger->LogFormat(2, LOG_LEVEL_DEBUG, "%d/%d", t, i);
        }), 0);
    }
    start.Set();
    for (px::Thread& t : threads)
        t.Join();

    std::vector<LogRecord> records = ParseRecords(file.Read());
    ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kRecords));
    std::vector<int> next(kThreads, 0);
    for (const LogRecord& r : records) {
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(r.data.c_str(), "%d/%d", &t, &i), 2);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(r.thread, "W" + std::to_string(t));
        EXPECT_EQ(i, next[t]++);
    }
}

TEST(XmlLogger, FormatsTheTimeOfDay)
{
    const std::pair<px::TimeOfDay, const char*> times[] = {
        {{7, 5, 9, 42}, "07:05:09:042"}, {{23, 59, 60, 999}, "23:59:60:999"},
        {{24, 0, 0, 0}, "--:--:--:---"}, {{1, 2, 3, 1000}, "--:--:--:---"}};
    char text[CXmlLogger::kTimeSize];
    for (const auto& [time, expected] : times) {
        CXmlLogger::FormatTime(&time, text);
        EXPECT_STREQ(text, expected);
    }
    CXmlLogger::FormatTime(nullptr, text);
    EXPECT_STREQ(text, "--:--:--:---");
}
