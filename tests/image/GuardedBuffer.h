// A buffer whose last byte is the last byte before an inaccessible page: a row that reads or
// writes one byte past its end faults at once instead of touching a neighbour.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

class CGuardedBuffer {
public:
    explicit CGuardedBuffer(size_t size) : m_size(size)
    {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t pages = (size + page - 1) / page;
        m_mapped = (pages + 1) * page;
        void* p = mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            ADD_FAILURE() << "mmap of " << m_mapped << " bytes failed";
            m_base = nullptr;
            return;
        }
        m_base = static_cast<uint8_t*>(p);
        EXPECT_EQ(mprotect(m_base + pages * page, page, PROT_NONE), 0);
        m_data = m_base + pages * page - size;
    }
    ~CGuardedBuffer()
    {
        if (m_base != nullptr)
            munmap(m_base, m_mapped);
    }
    CGuardedBuffer(const CGuardedBuffer&) = delete;
    CGuardedBuffer& operator=(const CGuardedBuffer&) = delete;

    uint8_t* Data() { return m_data; }
    size_t Size() const { return m_size; }

private:
    size_t m_size, m_mapped = 0;
    uint8_t* m_base = nullptr;
    uint8_t* m_data = nullptr;
};
