// The identifier of an exchange buffer: four characters, compared and sent as 4 bytes.
//
// The one type that the library, the simulator and the tools hold identifiers in. On the wire the
// four characters fill one 32-bit little-endian word, the first character first; a text shorter
// than four characters is padded with 0 bytes. Header only, so that the tools can use it too.
#pragma once

#include <cstdint>

namespace px::agent {

struct BufferId {
    char ch[4] = {};

    // Up to four characters of a text, stopping at its NUL; null gives the empty identifier.
    static BufferId FromText(const char* text)
    {
        BufferId id;
        for (int i = 0; text != nullptr && i < 4 && text[i] != '\0'; ++i)
            id.ch[i] = text[i];
        return id;
    }
    // Exactly four stored characters (a list entry, the simulator's settings).
    static BufferId FromChars(const char chars[4])
    {
        BufferId id;
        for (int i = 0; i < 4; ++i)
            id.ch[i] = chars[i];
        return id;
    }
    static BufferId FromWire(uint32_t word)
    {
        BufferId id;
        for (int i = 0; i < 4; ++i)
            id.ch[i] = static_cast<char>((word >> (8 * i)) & 0xFFu);
        return id;
    }
    uint32_t Wire() const
    {
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i)
            word |= uint32_t{static_cast<uint8_t>(ch[i])} << (8 * i);
        return word;
    }

    // The characters up to the first NUL, as a terminated text.
    struct Text {
        char sz[5] = {};
        const char* c_str() const { return sz; }
    };
    Text ToText() const
    {
        Text t;
        for (int i = 0; i < 4 && ch[i] != '\0'; ++i)
            t.sz[i] = ch[i];
        return t;
    }

    bool operator==(const BufferId& other) const { return Wire() == other.Wire(); }
    bool operator!=(const BufferId& other) const { return !(*this == other); }
};

} // namespace px::agent
