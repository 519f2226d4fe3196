// The control's texts and the small parsers around them: the error messages, the server address,
// the connection name, and the conversions between the host's UTF-8 and the UTF-16 texts that
// travel to and from the camera. Plain functions without state, safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "control/ControlTypes.h"

namespace pxcontrol {

// GetErrorMessage's text of a library result: "Success", "ERROR: ..." or "ERROR: Unknown error
// occured." for a code outside its table.
const char* ErrorMessageOf(uint32_t code);
// OnError's text of a failed automatic start.
const char* StartErrorTextOf(uint32_t code);

// A server address as the ServerAddress property takes it: a host name when the text does not
// begin with a digit, else four decimal numbers of at most 3 digits, each ended by any one other
// character (taken modulo 256; missing numbers are 0; digits after the third of a run are
// skipped). A text of 32 bytes or more is an empty address, which is an empty host name.
struct SServerAddress {
    bool bIsName = false;
    char szName[256] = {};
    uint8_t byIP[4] = {};
};
void ParseServerAddress(const char* text, SServerAddress* out);

// Appends text to a fixed buffer of size bytes, stopping at its end; always NUL-terminated.
void AppendBounded(char* buffer, size_t size, const char* text);

// A malloc'd copy of the first length bytes of text with a NUL; null when memory is short.
BSTR AllocText(const char* text, size_t length);
BSTR AllocText(const char* text);

// UTF-16 code units (little-endian bytes, up to the first 0 unit or units) as malloc'd UTF-8;
// unpaired surrogates become U+FFFD. Null when memory is short.
BSTR Utf16ToUtf8(const uint8_t* units, size_t count);
// The UTF-16 code units of a UTF-8 text as little-endian bytes into out (capacity bytes);
// answers the bytes the whole text needs, so a first call with capacity 0 sizes the buffer.
// Invalid bytes become U+FFFD.
size_t Utf8ToUtf16(const char* text, uint8_t* out, size_t capacity);

} // namespace pxcontrol
