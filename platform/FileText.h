// Reading a small file whole, for the update facility's package files. Returns 0 or the errno
// value of the failing call, like the socket calls; a file longer than maxBytes is refused with
// EFBIG, and text is changed only on success.
#pragma once

#include <cstddef>
#include <string>

namespace px {

int FileReadText(const char* path, size_t maxBytes, std::string* text);

} // namespace px
