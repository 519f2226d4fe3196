// The camera's RAM file system as the update procedure reaches it: the network share "RAMFILES"
// of the camera. The configuration value "RamFilesPath" gives it as a pattern in which "%s" is
// the camera's address: "smb://%s/RAMFILES" (the default) is reached through libsmbclient, loaded
// when first needed; anything else is a local folder, such as a mounted share.
//
// Paths inside the share are relative, with "/" between folders ("" is the share's root). Every
// operation returns 0 or an errno value; a share whose host went away answers with an error for
// which NameGone() is true.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct RamEntry {
    std::string strPath;   // relative to the share's root
    bool bFolder = false;
    bool bReadOnly = false;
};

class IRamShare {
public:
    virtual ~IRamShare() = default;
    // Where the share is, for messages.
    virtual const std::string& Location() const = 0;
    // Every entry below folder, subfolders' entries included, each folder before its content.
    virtual int ListAll(const std::string& folder, std::vector<RamEntry>* entries) = 0;
    // Normal attributes: writable by the owner.
    virtual int SetNormal(const std::string& path) = 0;
    // Deletes everything below the root, leaving the root.
    virtual int DeleteAll() = 0;
    // Copies a local file into the share, replacing a file of that name.
    virtual int CopyIn(const std::string& localPath, const std::string& path) = 0;
    virtual int CreateFolder(const std::string& path) = 0;
    // Creates an empty file, or empties it.
    virtual int CreateEmpty(const std::string& path) = 0;
    virtual int Rename(const std::string& from, const std::string& to) = 0;
    // True for the error that says the share's host is no longer there.
    virtual bool NameGone(int error) const = 0;
};

// "%s" in pattern replaced by camera, every time it appears.
std::string RamSharePath(const std::string& pattern, const std::string& camera);
// The share of a camera by the configuration; never null.
std::unique_ptr<IRamShare> OpenRamShare(const std::string& camera);
// The two kinds, by location (an "smb://" URL, or a folder).
std::unique_ptr<IRamShare> OpenLocalRamShare(const std::string& folder);
std::unique_ptr<IRamShare> OpenSmbRamShare(const std::string& url);
