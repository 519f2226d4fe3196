#include "platform/TerminalInput.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace px {

namespace {

bool WriteAll(int fd, const char* text)
{
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(fd, text, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool TerminalWrite(const char* text)
{
    const int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = WriteAll(fd, text);
    ::close(fd);
    return ok;
}

bool TerminalReadLine(const char* prompt, bool echo, char* out, size_t size)
{
    if (out == nullptr || size == 0)
        return false;
    out[0] = '\0';
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios saved;
    const bool haveModes = ::tcgetattr(fd, &saved) == 0;
    if (!echo && haveModes) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    bool ok = WriteAll(fd, prompt);
    size_t length = 0;
    while (ok) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = length > 0;
            break;
        }
        if (c == '\n')
            break;
        if (c != '\r' && length + 1 < size)
            out[length++] = c;
    }
    out[length] = '\0';
    if (!echo && haveModes)
        ::tcsetattr(fd, TCSAFLUSH, &saved);
    ::close(fd);
    return ok;
}

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

} // namespace px
