#include "control/ControlText.h"

#include <cstdlib>
#include <cstring>

#include "pellix/pellix.h"

namespace pxcontrol {

const char* ErrorMessageOf(uint32_t code)
{
    switch (code) {
    case PX_OK: return "Success";
    case PX_INVALID_HANDLE: return "ERROR: Invalid channel id.";
    case PX_INIT_FAILED: return "ERROR: Could not initialize communication with remote server.";
    case PX_WRONG_BUFFER: return "ERROR: Invalid buffer id.";
    case 2040: return "ERROR: Invalid command received.";
    case PX_NOT_SUPPORTED: return "ERROR: functionality not supported.";
    case 2060: return "ERROR: out of memory.";
    case PX_INVALID_PARAMETER: return "ERROR: Parameters provided not valid.";
    case PX_COMM_ERROR: return "ERROR: Lost communication with server.";
    case PX_WATCHDOG_LOST: return "ERROR: The camera is no longer reachable.";
    default: return "ERROR: Unknown error occured.";
    }
}

const char* StartErrorTextOf(uint32_t code)
{
    switch (code) {
    case PX_NO_RESOURCES: return "Not enough resources to create client";
    case PX_COMM_ERROR: return "Timeout. Connection lost with server";
    default: return "Unknown error";
    }
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

void ParseServerAddress(const char* text, SServerAddress* out)
{
    *out = SServerAddress{};
    // The text passes through a 32-byte buffer: what does not fit leaves it empty.
    char buffer[32] = {};
    if (text != nullptr && strlen(text) < sizeof buffer)
        strcpy(buffer, text);
    if (!IsDigit(buffer[0])) {
        out->bIsName = true;
        AppendBounded(out->szName, sizeof out->szName, buffer);
        return;
    }
    const char* p = buffer;
    for (int part = 0; part < 4 && *p != '\0'; ++part) {
        char digits[4] = {};
        int n = 0;
        while (IsDigit(*p)) {
            if (n < 3)
                digits[n++] = *p;
            ++p;
        }
        out->byIP[part] = static_cast<uint8_t>(atoi(digits) % 256);
        if (*p != '\0')
            ++p; // the one character that ends the number
    }
}

void AppendBounded(char* buffer, size_t size, const char* text)
{
    if (size == 0)
        return;
    size_t used = strnlen(buffer, size - 1);
    while (*text != '\0' && used + 1 < size)
        buffer[used++] = *text++;
    buffer[used] = '\0';
}

BSTR AllocText(const char* text, size_t length)
{
    char* copy = static_cast<char*>(malloc(length + 1));
    if (copy == nullptr)
        return nullptr;
    if (length > 0)
        memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

BSTR AllocText(const char* text) { return AllocText(text, text ? strlen(text) : 0); }

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

size_t EncodeUtf8(uint32_t cp, char* out)
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

uint16_t UnitAt(const uint8_t* units, size_t i)
{
    return static_cast<uint16_t>(units[2 * i] | (units[2 * i + 1] << 8));
}

// Next code point of a UTF-8 text; advances *p. Overlong forms, surrogates and stray bytes give
// the replacement character and advance by one byte.
uint32_t DecodeUtf8(const unsigned char** p)
{
    const unsigned char* s = *p;
    const unsigned char c = s[0];
    uint32_t cp = kReplacement;
    size_t n = 1;
    auto cont = [&](size_t i) { return (s[i] & 0xC0) == 0x80; };
    if (c < 0x80) {
        cp = c;
    } else if ((c & 0xE0) == 0xC0 && cont(1)) {
        const uint32_t v = ((c & 0x1Fu) << 6) | (s[1] & 0x3Fu);
        if (v >= 0x80)
            cp = v, n = 2;
    } else if ((c & 0xF0) == 0xE0 && cont(1) && cont(2)) {
        const uint32_t v = ((c & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
        if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF))
            cp = v, n = 3;
    } else if ((c & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
        const uint32_t v = ((c & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
        if (v >= 0x10000 && v <= 0x10FFFF)
            cp = v, n = 4;
    }
    *p = s + n;
    return cp;
}

} // namespace

BSTR Utf16ToUtf8(const uint8_t* units, size_t count)
{
    size_t end = 0;
    while (end < count && UnitAt(units, end) != 0)
        ++end;
    // Two walks: the length first, so that the text is one allocation.
    auto walk = [&](char* out) {
        char piece[4];
        size_t used = 0;
        for (size_t i = 0; i < end; ++i) {
            uint32_t cp = UnitAt(units, i);
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < end) {
                const uint32_t low = UnitAt(units, i + 1);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
            if (cp >= 0xD800 && cp <= 0xDFFF)
                cp = kReplacement;
            used += EncodeUtf8(cp, out ? out + used : piece);
        }
        return used;
    };
    const size_t length = walk(nullptr);
    char* text = static_cast<char*>(malloc(length + 1));
    if (text == nullptr)
        return nullptr;
    walk(text);
    text[length] = '\0';
    return text;
}

size_t Utf8ToUtf16(const char* text, uint8_t* out, size_t capacity)
{
    size_t needed = 0;
    auto put = [&](uint32_t unit) {
        if (needed + 2 <= capacity) {
            out[needed] = static_cast<uint8_t>(unit);
            out[needed + 1] = static_cast<uint8_t>(unit >> 8);
        }
        needed += 2;
    };
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : "");
    while (*p != '\0') {
        const uint32_t cp = DecodeUtf8(&p);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return needed;
}

} // namespace pxcontrol
