// The XML diagnostic log.
//
// Ownership: the one process-wide CXmlLogger is created by PXInitLogger and owned by the global
// reference g_pXmlLogger until DestroyXmlLogger (run when the library is closed) deletes it. The
// logger owns its file descriptor and both tables; nothing it hands out outlives it.
//
// Threads: any thread may write. The time stamp is taken on the caller's thread without the lock;
// the thread table lookup, the assembling of the line and the positioning and write run under the
// logger's lock, so records never interleave within the process. Other processes may append to the
// same file; the platform's locked append covers finding the end and writing, so records
// of two processes never overwrite each other either.
//
// Choices of our own: texts and names are cut to 255 characters; a record shows its thread's own
// entry whatever the entry's index, and a thread that finds the table full shows "0x%08X" of its
// identifier; an unknown time shows as "--:--:--:---". The trailing NUL is only overwritten when
// the file really ends in one, so pointing the log at an existing text file appends to it intact.
#include "log/XmlLogger.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/Thread.h"

std::atomic<CXmlLogger*> g_pXmlLogger{nullptr};

namespace {

// Serialises creation and destruction of the global logger; writers never take it.
std::mutex g_lifeLock;

const char* const kDefaultSections[] = {"Pellix", "Client", "PellixControl", "Graphic"};

// Appends to a fixed line buffer, cutting at its end.
class CLineBuilder {
public:
    explicit CLineBuilder(char* buffer, size_t capacity) : m_pBuffer(buffer), m_nCapacity(capacity) {}
    void Add(const char* text, size_t length)
    {
        if (length > m_nCapacity - m_nLength)
            length = m_nCapacity - m_nLength;
        memcpy(m_pBuffer + m_nLength, text, length);
        m_nLength += length;
    }
    void Add(const char* text) { Add(text, strlen(text)); }
    size_t Length() const { return m_nLength; }

private:
    char* m_pBuffer;
    size_t m_nCapacity;
    size_t m_nLength = 0;
};

void FormatIdentifier(uint32_t id, char out[11]) { snprintf(out, 11, "0x%08X", id); }

} // namespace

CXmlLogger* CXmlLogger::Create(const char* path) { return new (std::nothrow) CXmlLogger(path); }

CXmlLogger::CXmlLogger(const char* path)
{
    if (path == nullptr || strlen(path) >= sizeof m_szPath)
        return;
    if (px::FileOpenShared(path, &m_hFile) == 0)
        memcpy(m_szPath, path, strlen(path) + 1);
}

CXmlLogger::~CXmlLogger()
{
    if (m_hFile != px::kInvalidFile)
        px::FileClose(m_hFile);
}

void CXmlLogger::Assign(SEntry* entry, uint32_t id, const char* name)
{
    size_t length = strnlen(name, kMaxText);
    entry->dwId = id;
    entry->byLength = static_cast<uint8_t>(length);
    memcpy(entry->szName, name, length);
    entry->szName[length] = '\0';
}

int CXmlLogger::Find(const SEntry* table, uint32_t count, uint32_t id)
{
    for (uint32_t i = 0; i < count; ++i) {
        if (table[i].dwId == id)
            return static_cast<int>(i);
    }
    return -1;
}

bool CXmlLogger::SetThreadName(uint32_t threadId, const char* name)
{
    // An empty name would read as a free slot, so it is refused.
    if (name == nullptr || name[0] == '\0')
        return false;
    px::CsLock lock(m_cs);
    int index = Find(m_aThreads, m_dwThreadCount, threadId);
    if (index < 0) {
        if (m_dwThreadCount >= kMaxEntries)
            return false;
        index = static_cast<int>(m_dwThreadCount++);
    }
    Assign(&m_aThreads[index], threadId, name);
    return true;
}

bool CXmlLogger::AddSection(uint32_t id, const char* name)
{
    if (name == nullptr || name[0] == '\0')
        return false;
    px::CsLock lock(m_cs);
    if (m_dwSectionCount >= kMaxEntries)
        return false;
    Assign(&m_aSections[m_dwSectionCount++], id, name);
    return true;
}

void CXmlLogger::FormatTime(const px::TimeOfDay* time, char out[kTimeSize])
{
    if (time == nullptr || time->hour > 23 || time->minute > 59 || time->second > 60 || time->millisecond > 999) {
        memcpy(out, "--:--:--:---", kTimeSize);
        return;
    }
    snprintf(out, kTimeSize, "%02u:%02u:%02u:%03u", time->hour, time->minute, time->second, time->millisecond);
}

const char* CXmlLogger::LevelWord(uint32_t level)
{
    switch (level) {
    case LOG_LEVEL_MSG:
        return "MSG";
    case LOG_LEVEL_WARN:
        return "WARN";
    case LOG_LEVEL_ERROR:
        return "ERROR";
    case LOG_LEVEL_DEBUG:
        return "DEBUG";
    default:
        return "";
    }
}

bool CXmlLogger::LogText(const char* text, size_t length, uint32_t section, uint32_t level)
{
    if (text == nullptr || length == 0)
        return false;
    return WriteRecord(text, length, section, level);
}

bool CXmlLogger::LogFormat(uint32_t section, uint32_t level, const char* format, ...)
{
    char text[kFormatSize] = {};
    int length = 0;
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        length = vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    // vsnprintf reports the untruncated length; the record takes what fitted.
    if (length < 0)
        length = 0;
    return WriteRecord(text, static_cast<size_t>(length), section, level);
}

bool CXmlLogger::WriteRecord(const char* text, size_t length, uint32_t section, uint32_t level)
{
    // A record keeps its section and level in one byte each.
    const uint8_t bySection = static_cast<uint8_t>(section);
    const char* levelWord = LevelWord(static_cast<uint8_t>(level));
    const size_t textLength = strnlen(text, length < kMaxText ? length : kMaxText);
    const uint32_t threadId = px::CurrentThreadId();
    px::TimeOfDay now{};
    char time[kTimeSize];
    FormatTime(px::LocalTimeOfDay(&now) ? &now : nullptr, time);

    px::CsLock lock(m_cs);
    // A thread met for the first time is entered under its identifier; when the table is full
    // the identifier is shown all the same.
    char threadName[11];
    const char* thread = threadName;
    int index = Find(m_aThreads, m_dwThreadCount, threadId);
    if (index < 0) {
        FormatIdentifier(threadId, threadName);
        if (SetThreadName(threadId, threadName))
            index = Find(m_aThreads, m_dwThreadCount, threadId);
    }
    if (index >= 0)
        thread = m_aThreads[index].szName;

    char sectionName[11];
    const char* sectionText = sectionName;
    index = Find(m_aSections, m_dwSectionCount, bySection);
    if (index >= 0)
        sectionText = m_aSections[index].szName;
    else
        FormatIdentifier(bySection, sectionName);

    char line[kLineSize];
    CLineBuilder b(line, sizeof line - 1);
    b.Add("<LOG><TIME>");
    b.Add(time);
    b.Add("</TIME><TYPE>");
    b.Add(levelWord);
    b.Add("</TYPE><THREADID>");
    b.Add(thread);
    b.Add("</THREADID><SECTION>");
    b.Add(sectionText);
    b.Add("</SECTION><DATA>");
    b.Add(text, textLength);
    b.Add("</DATA></LOG>\r\n");
    line[b.Length()] = '\0';

    if (m_hFile == px::kInvalidFile)
        return false;
    // The line goes out with its NUL, which the next record overwrites.
    return px::FileAppendLocked(m_hFile, line, b.Length() + 1, '\0') == 0;
}

void DestroyXmlLogger()
{
    std::lock_guard<std::mutex> guard(g_lifeLock);
    delete g_pXmlLogger.exchange(nullptr, std::memory_order_acq_rel);
}

bool CreateProcessLogger(const char* path)
{
    if (path == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(g_lifeLock);
    if (g_pXmlLogger.load(std::memory_order_acquire) != nullptr)
        return false;
    CXmlLogger* logger = CXmlLogger::Create(path);
    if (logger == nullptr)
        return false;
    for (uint32_t i = 0; i < 4; ++i)
        logger->AddSection(LOG_SECTION_PELLIX + i, kDefaultSections[i]);
    g_pXmlLogger.store(logger, std::memory_order_release);
    return true;
}
