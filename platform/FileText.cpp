#include "platform/FileText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace px {

int FileReadText(const char* path, size_t maxBytes, std::string* text)
{
    if (path == nullptr || text == nullptr)
        return EINVAL;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = errno;
    } else if (S_ISDIR(st.st_mode)) {
        error = EISDIR;
    } else {
        std::string data;
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = errno;
                break;
            }
            if (n == 0)
                break;
            // Checked as it grows: a file may be longer than stat said, or still growing.
            if (data.size() + static_cast<size_t>(n) > maxBytes) {
                error = EFBIG;
                break;
            }
            try {
                data.append(chunk, static_cast<size_t>(n));
            } catch (const std::bad_alloc&) {
                error = ENOMEM;
                break;
            }
        }
        if (error == 0)
            text->swap(data);
    }
    ::close(fd);
    return error;
}

} // namespace px
