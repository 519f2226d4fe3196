// The process-wide XML diagnostic log.
//
// One CXmlLogger per process at most, reached through GetXmlLogger(). Callers test that pointer
// before they format anything, so tracing costs one load when no log exists:
//
//     PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_ERROR, "DX9: [%s] %s", tag, text);
//
// Each record is one line of markup appended to the file, stamped with the local time of day and
// the name of the writing thread; the file always ends with one NUL that the next record
// overwrites. All tables live inside the object, so writing never allocates.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "log/PellixLogger.h"
#include "platform/Clock.h"
#include "platform/CriticalSection.h"
#include "platform/File.h"

// Record levels; any other value gives an empty TYPE element.
enum : uint32_t {
    LOG_LEVEL_MSG = 1,
    LOG_LEVEL_WARN = 2,
    LOG_LEVEL_ERROR = 3,
    LOG_LEVEL_DEBUG = 4,
};

// The sections every log starts with.
enum : uint32_t {
    LOG_SECTION_PELLIX = 1,  // exported functions
    LOG_SECTION_CLIENT = 2,  // exchange-buffer client
    LOG_SECTION_CONTROL = 3, // viewer control
    LOG_SECTION_GRAPHIC = 4, // display back-ends
};

class CXmlLogger {
public:
    static constexpr uint32_t kMaxEntries = 512; // per table, sections and threads alike
    static constexpr size_t kMaxText = 255;      // longer texts and names are cut
    static constexpr size_t kFormatSize = 256;   // LogFormat's buffer
    static constexpr size_t kLineSize = 1024;    // one assembled record
    static constexpr size_t kTimeSize = 13;      // "HH:mm:ss:mmm" and its NUL

    // Opens (or creates) path for appending; null only when memory is exhausted. A logger whose
    // file cannot be opened still exists: it has an empty path and every write returns false.
    static CXmlLogger* Create(const char* path);
    ~CXmlLogger();
    CXmlLogger(const CXmlLogger&) = delete;
    CXmlLogger& operator=(const CXmlLogger&) = delete;

    bool IsOpen() const { return m_hFile != px::kInvalidFile; }
    const char* GetPath() const { return m_szPath; }

    // Writes one record of the first length characters of text (at most 255; the text also ends
    // at a NUL). False without writing for a null or empty text, and when the write fails.
    bool LogText(const char* text, size_t length, uint32_t section, uint32_t level);
    // Formats into 256 characters (longer results are cut to 255) and writes that as a record,
    // an empty one included. Note the order: section and level come first here.
    bool LogFormat(uint32_t section, uint32_t level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    // Names a thread for all its later records; false when the table is full or name is empty.
    bool SetThreadName(uint32_t threadId, const char* name);
    // Appends a section name; false when the table is full or name is empty.
    bool AddSection(uint32_t id, const char* name);

    // "HH:mm:ss:mmm"; "--:--:--:---" when the time is unknown (null) or out of range.
    static void FormatTime(const px::TimeOfDay* time, char out[kTimeSize]);
    // "MSG", "WARN", "ERROR", "DEBUG", or "" for any other level.
    static const char* LevelWord(uint32_t level);

private:
    struct SEntry {
        uint32_t dwId;
        uint8_t byLength;
        char szName[kMaxText + 1];
    };

    explicit CXmlLogger(const char* path);
    bool WriteRecord(const char* text, size_t length, uint32_t section, uint32_t level);
    // Index of the first entry with id, or -1.
    static int Find(const SEntry* table, uint32_t count, uint32_t id);
    static void Assign(SEntry* entry, uint32_t id, const char* name);

    px::CriticalSection m_cs; // guards the tables and the file position
    px::FileHandle m_hFile = px::kInvalidFile;
    char m_szPath[4096] = {};
    uint32_t m_dwThreadCount PX_GUARDED_BY(m_cs) = 0;
    uint32_t m_dwSectionCount PX_GUARDED_BY(m_cs) = 0;
    SEntry m_aThreads[kMaxEntries] PX_GUARDED_BY(m_cs);
    SEntry m_aSections[kMaxEntries] PX_GUARDED_BY(m_cs);
};

// The process-wide logger, null when there is none.
extern std::atomic<CXmlLogger*> g_pXmlLogger;

inline CXmlLogger* GetXmlLogger() noexcept { return g_pXmlLogger.load(std::memory_order_acquire); }

// Creates the process-wide logger on path with the four default sections, unless one exists or
// path is null (then false). PXInitLogger is this; a module that carries its own copy of the
// logger (the viewer control's library) opens its copy on the same file with it.
bool CreateProcessLogger(const char* path);

// Closes the log and clears the global reference, after which PXInitLogger may create a new one.
// Called when the library is closed, once no other thread writes any more.
void DestroyXmlLogger();

// Trace helpers that skip their arguments entirely when no log exists.
#define PX_LOG_FORMAT(section, level, ...)                                                        \
    do {                                                                                          \
        if (CXmlLogger* pxLogger_ = GetXmlLogger())                                               \
            pxLogger_->LogFormat((section), (level), __VA_ARGS__);                                \
    } while (0)

#define PX_LOG_TEXT(text, length, section, level)                                                 \
    do {                                                                                          \
        if (CXmlLogger* pxLogger_ = GetXmlLogger())                                               \
            pxLogger_->LogText((text), (length), (section), (level));                             \
    } while (0)
