#include "platform/File.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace px {

namespace {

int Error() { return errno != 0 ? errno : EIO; }

int OpenRetrying(const char* path, int flags, FileHandle* out)
{
    if (path == nullptr || *path == '\0')
        return EINVAL;
    int fd;
    while ((fd = open(path, flags | O_CLOEXEC, 0666)) < 0 && errno == EINTR) {
    }
    if (fd < 0)
        return Error();
    *out = fd;
    return 0;
}

// Writes all of data at offset at, or at the file's position when at is negative.
int WriteAt(FileHandle f, const void* data, size_t size, off_t at)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = at < 0 ? write(f, p, size) : pwrite(f, p, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? Error() : EIO;
        p += n;
        size -= static_cast<size_t>(n);
        if (at >= 0)
            at += n;
    }
    return 0;
}

} // namespace

int FileWrite(FileHandle f, const void* data, size_t size) { return WriteAt(f, data, size, -1); }

namespace {

// Closes and keeps the first failure: a close that fails after good writes is a failed write.
int CloseKeeping(FileHandle f, int result)
{
    const int closed = FileClose(f);
    return result != 0 ? result : closed;
}

template <typename Bytes>
int ReadAllInto(const char* path, size_t maxBytes, Bytes* data)
{
    FileHandle f = kInvalidFile;
    int r = OpenRetrying(path, O_RDONLY, &f);
    if (r != 0)
        return r;
    data->clear();
    struct stat st;
    if (fstat(f, &st) == 0 && S_ISREG(st.st_mode)) {
        if (static_cast<uint64_t>(st.st_size) > maxBytes)
            return CloseKeeping(f, EFBIG);
        data->reserve(static_cast<size_t>(st.st_size));
    }
    char chunk[65536];
    for (;;) {
        ssize_t n = read(f, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return CloseKeeping(f, Error());
        if (n == 0)
            break;
        // The file may grow while it is read, or not be a regular file at all.
        if (static_cast<size_t>(n) > maxBytes - data->size())
            return CloseKeeping(f, EFBIG);
        data->insert(data->end(), chunk, chunk + n);
    }
    return FileClose(f);
}

void Describe(const char* name, const struct stat& st, FolderEntry* entry)
{
    entry->name = name;
    entry->bFolder = S_ISDIR(st.st_mode);
    entry->bRegular = S_ISREG(st.st_mode);
    entry->bReadOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    entry->size = entry->bFolder ? 0 : static_cast<uint64_t>(st.st_size);
    entry->modified = static_cast<int64_t>(st.st_mtime);
}

} // namespace

int FileOpenShared(const char* path, FileHandle* out) { return OpenRetrying(path, O_RDWR | O_CREAT, out); }

int FileCreate(const char* path, FileHandle* out) { return OpenRetrying(path, O_WRONLY | O_CREAT | O_TRUNC, out); }

int FileClose(FileHandle f)
{
    // Linux releases the descriptor even when close reports EINTR: never retry it.
    if (close(f) != 0 && errno != EINTR)
        return Error();
    return 0;
}

int FileAppendLocked(FileHandle f, const void* data, size_t size, int trailer)
{
    // Without support for advisory locks (some network file systems) the caller's own lock still
    // keeps its appends whole.
    int locked;
    while ((locked = flock(f, LOCK_EX)) != 0 && errno == EINTR) {
    }
    int result = 0;
    off_t at = lseek(f, 0, SEEK_END);
    if (at < 0) {
        result = Error();
    } else {
        unsigned char last = 0;
        if (trailer >= 0 && at > 0 && pread(f, &last, 1, at - 1) == 1 && last == trailer)
            --at;
        result = WriteAt(f, data, size, at);
    }
    if (locked == 0)
        flock(f, LOCK_UN);
    return result;
}

int FileReadAll(const char* path, size_t maxBytes, std::vector<uint8_t>* data)
{
    return ReadAllInto(path, maxBytes, data);
}

int FileReadAll(const char* path, size_t maxBytes, std::string* text) { return ReadAllInto(path, maxBytes, text); }

int FileWriteAll(const char* path, const void* data, size_t size)
{
    if (data == nullptr && size != 0)
        return EINVAL;
    FileHandle f = kInvalidFile;
    int r = FileCreate(path, &f);
    if (r != 0)
        return r;
    return CloseKeeping(f, FileWrite(f, data, size));
}

int FileCreateEmpty(const char* path) { return FileWriteAll(path, nullptr, 0); }

int FileCopy(const char* from, const char* to)
{
    FileHandle in = kInvalidFile, out = kInvalidFile;
    int r = OpenRetrying(from, O_RDONLY, &in);
    if (r != 0)
        return r;
    r = FileCreate(to, &out);
    if (r != 0)
        return CloseKeeping(in, r);
    char chunk[65536];
    for (;;) {
        ssize_t n = read(in, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            r = Error();
            break;
        }
        if (n == 0)
            break;
        r = FileWrite(out, chunk, static_cast<size_t>(n));
        if (r != 0)
            break;
    }
    FileClose(in);
    return CloseKeeping(out, r);
}

int FileRename(const char* from, const char* to)
{
    if (from == nullptr || to == nullptr)
        return EINVAL;
    return rename(from, to) == 0 ? 0 : Error();
}

int FileSymlink(const char* target, const char* path)
{
    if (target == nullptr || path == nullptr)
        return EINVAL;
    return symlink(target, path) == 0 ? 0 : Error();
}

int FileDelete(const char* path)
{
    if (path == nullptr)
        return EINVAL;
    if (unlink(path) == 0)
        return 0;
    if (errno == EISDIR || errno == EPERM) {
        // Linux answers EISDIR for a folder; other systems EPERM.
        struct stat st;
        if (lstat(path, &st) == 0 && S_ISDIR(st.st_mode))
            return rmdir(path) == 0 ? 0 : Error();
    }
    return Error();
}

int FolderCreatePath(const char* path)
{
    if (path == nullptr || *path == '\0')
        return EINVAL;
    const std::string dir(path);
    for (size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
        const std::string part = dir.substr(0, at);
        // A failure on the way ("/home" not writable) matters only if the end is missing.
        if (!part.empty() && part.back() != '/')
            mkdir(part.c_str(), 0755);
        if (at == std::string::npos)
            break;
    }
    struct stat st;
    if (stat(path, &st) != 0)
        return Error();
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int FolderList(const char* path, std::vector<FolderEntry>* entries)
{
    if (path == nullptr)
        return EINVAL;
    DIR* dir = opendir(path);
    if (dir == nullptr)
        return Error();
    entries->clear();
    const int fd = dirfd(dir);
    int result = 0;
    for (;;) {
        errno = 0;
        dirent* d = readdir(dir);
        if (d == nullptr) {
            result = errno;
            break;
        }
        if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0)
            continue;
        struct stat st;
        FolderEntry entry;
        if (fstatat(fd, d->d_name, &st, 0) == 0)
            Describe(d->d_name, st, &entry);
        else
            entry.name = d->d_name;
        entry.bLink = fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        entries->push_back(std::move(entry));
    }
    closedir(dir);
    return result;
}

int FileAttributes(const char* path, FolderEntry* entry)
{
    if (path == nullptr)
        return EINVAL;
    struct stat st;
    if (stat(path, &st) != 0)
        return Error();
    const char* slash = strrchr(path, '/');
    Describe(slash != nullptr ? slash + 1 : path, st, entry);
    return 0;
}

int FileSetReadOnly(const char* path, bool readOnly)
{
    if (path == nullptr)
        return EINVAL;
    struct stat st;
    if (stat(path, &st) != 0)
        return Error();
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return chmod(path, mode) == 0 ? 0 : Error();
}

std::string UserDataFolder(const char* xdgDataHome, const char* home)
{
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
        return xdgDataHome;
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/share";
    return std::string();
}

std::string VistelDataFolder()
{
    const std::string base = UserDataFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    return base.empty() ? base : base + "/Dravik/Vistel";
}

} // namespace px
