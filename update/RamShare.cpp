// The local-folder share and the choice between the two kinds (update/SmbShare.cpp is the other).
#include "update/RamShare.h"

#include <cerrno>

#include "platform/Config.h"
#include "platform/File.h"

namespace {

constexpr const char* kDefaultPattern = "smb://%s/RAMFILES";

class CLocalRamShare : public IRamShare {
public:
    explicit CLocalRamShare(std::string root) : m_strRoot(std::move(root)) {}

    const std::string& Location() const override { return m_strRoot; }

    int ListAll(const std::string& folder, std::vector<RamEntry>* entries) override
    {
        std::vector<px::FolderEntry> found;
        if (const int e = px::FolderList(Full(folder).c_str(), &found))
            return e;
        for (const px::FolderEntry& f : found) {
            RamEntry r;
            r.strPath = folder.empty() ? f.name : folder + "/" + f.name;
            // A link is removed as itself: nothing outside the share is walked or deleted.
            r.bFolder = f.bFolder && !f.bLink;
            r.bReadOnly = f.bReadOnly;
            entries->push_back(r);
            if (f.bFolder)
                if (const int e = ListAll(r.strPath, entries))
                    return e;
        }
        return 0;
    }

    int SetNormal(const std::string& path) override { return px::FileSetReadOnly(Full(path).c_str(), false); }

    int DeleteAll() override
    {
        std::vector<RamEntry> entries;
        if (const int e = ListAll("", &entries))
            return e;
        // Content before its folder.
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (const int e = px::FileDelete(Full(it->strPath).c_str()))
                return e;
        return 0;
    }

    int CopyIn(const std::string& localPath, const std::string& path) override
    {
        return px::FileCopy(localPath.c_str(), Full(path).c_str());
    }

    int CreateFolder(const std::string& path) override
    {
        px::FolderEntry e;
        if (px::FileAttributes(Full(path).c_str(), &e) == 0 && !e.bFolder)
            return EEXIST;
        return px::FolderCreatePath(Full(path).c_str());
    }

    int CreateEmpty(const std::string& path) override { return px::FileCreateEmpty(Full(path).c_str()); }

    int Rename(const std::string& from, const std::string& to) override
    {
        return px::FileRename(Full(from).c_str(), Full(to).c_str());
    }

    // A mounted share whose host went away, or a folder that is gone: its root is not there.
    bool NameGone(int error) const override
    {
        px::FolderEntry e;
        return error == ENOENT && px::FileAttributes(m_strRoot.c_str(), &e) != 0;
    }

private:
    std::string Full(const std::string& path) const { return path.empty() ? m_strRoot : m_strRoot + "/" + path; }

    std::string m_strRoot;
};

} // namespace

std::string RamSharePath(const std::string& pattern, const std::string& camera)
{
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.compare(i, 2, "%s") == 0) {
            out += camera;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::unique_ptr<IRamShare> OpenLocalRamShare(const std::string& folder)
{
    return std::make_unique<CLocalRamShare>(folder);
}

std::unique_ptr<IRamShare> OpenRamShare(const std::string& camera)
{
    const std::string location = RamSharePath(px::ConfigGetString("RamFilesPath", kDefaultPattern), camera);
    if (location.compare(0, 6, "smb://") == 0)
        return OpenSmbRamShare(location);
    return OpenLocalRamShare(location);
}
