// Temporary log files and a reader that splits a log into its records, failing the test on any
// line that is not one whole record or on a file that does not end in exactly one NUL.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

struct LogRecord {
    std::string time, type, thread, section, data;
};

class TempLogFile {
public:
    TempLogFile()
    {
        char name[] = "/tmp/pellix-log-XXXXXX";
        int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        if (fd >= 0)
            close(fd);
        m_path = name;
    }
    ~TempLogFile() { unlink(m_path.c_str()); }
    const std::string& Path() const { return m_path; }
    const char* CPath() const { return m_path.c_str(); }

    std::string Read() const
    {
        std::ifstream f(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    void Write(const std::string& content) const { std::ofstream(m_path, std::ios::binary) << content; }

private:
    std::string m_path;
};

namespace logtest {

// Takes the text from at up to the closing tag, and steps behind the tag.
inline bool Take(const std::string& s, size_t& at, const char* open, const char* close, std::string* out)
{
    const size_t openLength = strlen(open);
    if (s.compare(at, openLength, open) != 0)
        return false;
    const size_t end = s.find(close, at + openLength);
    if (end == std::string::npos)
        return false;
    *out = s.substr(at + openLength, end - at - openLength);
    at = end + strlen(close);
    return true;
}

inline bool IsTime(const std::string& t)
{
    static const char picture[] = "00:00:00:000";
    if (t.size() != 12)
        return false;
    for (size_t i = 0; i < 12; ++i) {
        if (picture[i] == ':' ? t[i] != ':' : (t[i] < '0' || t[i] > '9'))
            return false;
    }
    return true;
}

} // namespace logtest

inline std::vector<LogRecord> ParseRecords(const std::string& content)
{
    std::vector<LogRecord> records;
    if (content.empty())
        return records;
    EXPECT_EQ(content.back(), '\0');
    EXPECT_EQ(content.find('\0'), content.size() - 1) << "the file holds more than its final NUL";
    const std::string body = content.substr(0, content.size() - 1);
    size_t at = 0;
    while (at < body.size()) {
        LogRecord r;
        const size_t start = at;
        if (!(logtest::Take(body, at, "<LOG><TIME>", "</TIME>", &r.time) && logtest::IsTime(r.time) &&
              logtest::Take(body, at, "<TYPE>", "</TYPE>", &r.type) &&
              logtest::Take(body, at, "<THREADID>", "</THREADID>", &r.thread) &&
              logtest::Take(body, at, "<SECTION>", "</SECTION>", &r.section) &&
              logtest::Take(body, at, "<DATA>", "</DATA></LOG>\r\n", &r.data))) {
            ADD_FAILURE() << "not a whole record at offset " << start << ": " << body.substr(start, 160);
            break;
        }
        records.push_back(r);
    }
    return records;
}

inline std::string HexId(uint32_t id)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08X", id);
    return text;
}
