// Asking the person at the controlling terminal, for the command-line tools: a line read from
// /dev/tty (not standard input, which may carry data), with echo turned off for secrets.
#pragma once

#include <cstddef>

namespace px {

// Writes prompt to the terminal and reads one line into out (NUL-terminated, the line feed
// dropped, a longer line cut to size - 1). False when there is no terminal or the reading fails;
// echo is back on the terminal whatever happens.
bool TerminalReadLine(const char* prompt, bool echo, char* out, size_t size);
// Writes text to the terminal; false when there is none.
bool TerminalWrite(const char* text);
// True when standard output is a terminal (a display may then redraw a line in place).
bool StandardOutputIsTerminal();

} // namespace px
