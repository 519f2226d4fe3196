// Bounds-checked little-endian byte access for the agent records, and the plain word helpers.
//
// The agent's records are read and written one field at a time through CByteReader and
// CByteWriter, never by casting wire bytes to a struct, so the code does not depend on the host's
// byte order, alignment or padding. Both remember the first overrun: a read past the end yields 0
// and a write past the end writes nothing, and Ok() turns false for good. Callers check Ok() once
// at the end of a record instead of after every field. PutLe*/GetLe* are the same conversions for
// places whose size is already known (a payload being rendered, a framing word).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace px::agent {

inline void PutLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline void PutLe64(uint8_t* p, uint64_t v)
{
    PutLe32(p, static_cast<uint32_t>(v));
    PutLe32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetLe32(const uint8_t* p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

class CByteReader {
public:
    CByteReader(const uint8_t* data, size_t size) : m_pData(data), m_nSize(data ? size : 0) {}

    bool Ok() const { return m_bOk; }
    size_t Position() const { return m_nPos; }
    size_t Remaining() const { return m_nSize - m_nPos; }

    uint32_t U32()
    {
        if (!Take(4))
            return 0;
        return GetLe32(m_pData + m_nPos - 4);
    }
    uint16_t U16()
    {
        if (!Take(2))
            return 0;
        return GetLe16(m_pData + m_nPos - 2);
    }
    // Copies n bytes; on an overrun the target is zeroed instead.
    void Bytes(void* out, size_t n)
    {
        if (!Take(n)) {
            if (n)
                memset(out, 0, n);
            return;
        }
        if (n)
            memcpy(out, m_pData + m_nPos - n, n);
    }
    void Skip(size_t n) { Take(n); }
    // Moves to an absolute position (not beyond the end).
    void Seek(size_t pos)
    {
        if (pos > m_nSize)
            m_bOk = false;
        else if (m_bOk)
            m_nPos = pos;
    }

private:
    bool Take(size_t n)
    {
        if (!m_bOk || n > m_nSize - m_nPos) {
            m_bOk = false;
            return false;
        }
        m_nPos += n;
        return true;
    }

    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
    bool m_bOk = true;
};

class CByteWriter {
public:
    CByteWriter(uint8_t* data, size_t capacity) : m_pData(data), m_nCapacity(data ? capacity : 0) {}

    bool Ok() const { return m_bOk; }
    size_t Position() const { return m_nPos; }

    void U32(uint32_t v)
    {
        if (!Take(4))
            return;
        PutLe32(m_pData + m_nPos - 4, v);
    }
    void U16(uint16_t v)
    {
        if (!Take(2))
            return;
        PutLe16(m_pData + m_nPos - 2, v);
    }
    void Bytes(const void* in, size_t n)
    {
        if (Take(n) && n)
            memcpy(m_pData + m_nPos - n, in, n);
    }
    void Zeros(size_t n)
    {
        if (Take(n) && n)
            memset(m_pData + m_nPos - n, 0, n);
    }

private:
    bool Take(size_t n)
    {
        if (!m_bOk || n > m_nCapacity - m_nPos) {
            m_bOk = false;
            return false;
        }
        m_nPos += n;
        return true;
    }

    uint8_t* m_pData;
    size_t m_nCapacity;
    size_t m_nPos = 0;
    bool m_bOk = true;
};

} // namespace px::agent
