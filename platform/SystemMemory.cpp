#include "platform/SystemMemory.h"

#include <cstdio>
#include <unistd.h>

namespace px {

uint64_t AvailableMemory()
{
    // MemAvailable counts the page cache the kernel would give up; free pages alone are too few.
    if (FILE* f = fopen("/proc/meminfo", "re")) {
        char line[128];
        unsigned long long kib = 0;
        bool found = false;
        while (!found && fgets(line, sizeof line, f))
            found = sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
        fclose(f);
        if (found)
            return static_cast<uint64_t>(kib) * 1024;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) : 0;
}

uint64_t PhysicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) : 0;
}

} // namespace px
