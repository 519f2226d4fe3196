// Files and folders. Every function returns 0 on success or the errno value of the failing call,
// like the socket calls, so that a caller turns it into its own result without reading errno.
// Paths are UTF-8 and passed to the system as they are. Nothing here keeps state between calls
// except an open FileHandle, which its owner closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace px {

using FileHandle = int;
constexpr FileHandle kInvalidFile = -1;

// Opens path for reading and writing, creating it when missing and keeping what it holds when
// present (other handles, of this process or another, may have it open at the same time).
int FileOpenShared(const char* path, FileHandle* out);
// Creates path for writing, or empties it when present.
int FileCreate(const char* path, FileHandle* out);
// Writes all of data at the file's position.
int FileWrite(FileHandle f, const void* data, size_t size);
int FileClose(FileHandle f);

// Appends data at the end of the file as one piece, under an exclusive advisory lock on the file
// so that the records of several processes never overwrite each other. When trailer is a byte
// value (0 to 255) and the file ends in that byte, the data starts on it, replacing it: a
// terminator that every append moves to the new end.
int FileAppendLocked(FileHandle f, const void* data, size_t size, int trailer = -1);

// The whole file, refused with EFBIG when it holds more than maxBytes.
int FileReadAll(const char* path, size_t maxBytes, std::vector<uint8_t>* data);
int FileReadAll(const char* path, size_t maxBytes, std::string* text);
// Creates or truncates path and writes data. A file created but not completely written is left.
int FileWriteAll(const char* path, const void* data, size_t size);
// Creates path, or empties it when present.
int FileCreateEmpty(const char* path);
// Copies the bytes of from into to, replacing to when present.
int FileCopy(const char* from, const char* to);
// Renames or moves within one file system, replacing a file of the new name.
int FileRename(const char* from, const char* to);
// Makes path a symbolic link to target.
int FileSymlink(const char* target, const char* path);
// Removes a file, or a folder that is empty.
int FileDelete(const char* path);

// Creates each missing folder of path in turn; 0 when the folder exists at the end.
int FolderCreatePath(const char* path);

struct FolderEntry {
    std::string name;       // without the folder
    bool bFolder = false;
    bool bRegular = false;  // a plain file: not a folder, device, pipe or socket
    bool bReadOnly = false; // no write permission for anyone
    bool bLink = false;     // a symbolic link (the other fields describe what it leads to)
    uint64_t size = 0;      // bytes, 0 for a folder
    int64_t modified = 0;   // seconds since 1970
};
// The entries of a folder, "." and ".." left out, in the system's order. Symbolic links are
// followed; a link that leads nowhere is listed as a file of size 0.
int FolderList(const char* path, std::vector<FolderEntry>* entries);
// The attributes of one path (name is the last component).
int FileAttributes(const char* path, FolderEntry* entry);
// Gives a file or folder write permission for its owner, or takes it away.
int FileSetReadOnly(const char* path, bool readOnly);

// The per-user data folder: xdgDataHome when it is an absolute path, else home + "/.local/share";
// empty when neither gives one. Touches nothing.
std::string UserDataFolder(const char* xdgDataHome, const char* home);
// The folder where this component keeps per-user files: the per-user data folder of the
// environment ($XDG_DATA_HOME, $HOME) followed by "/Dravik/Vistel"; empty when none is known.
std::string VistelDataFolder();

} // namespace px
