// The camera's share over SMB: libsmbclient, loaded when the first share is opened (a host
// without it gets shares whose every operation fails with ENOSYS, so the update steps that need
// the share fail with their own codes and messages). Each share has a context of its own; the
// library's errors arrive as errno values.
#include <dlfcn.h>
#include <fcntl.h>
#include <libsmbclient.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/File.h"
#include "update/RamShare.h"

namespace {

// The library's entry points, found once per process.
struct SmbApi {
    bool bLoaded = false;
    SMBCCTX* (*newContext)() = nullptr;
    SMBCCTX* (*initContext)(SMBCCTX*) = nullptr;
    int (*freeContext)(SMBCCTX*, int) = nullptr;
    void (*setAuth)(SMBCCTX*, smbc_get_auth_data_with_context_fn) = nullptr;
    void (*setTimeout)(SMBCCTX*, int) = nullptr;
    smbc_opendir_fn (*opendir)(SMBCCTX*) = nullptr;
    smbc_readdir_fn (*readdir)(SMBCCTX*) = nullptr;
    smbc_closedir_fn (*closedir)(SMBCCTX*) = nullptr;
    smbc_stat_fn (*stat)(SMBCCTX*) = nullptr;
    smbc_chmod_fn (*chmod)(SMBCCTX*) = nullptr;
    smbc_unlink_fn (*unlink)(SMBCCTX*) = nullptr;
    smbc_rmdir_fn (*rmdir)(SMBCCTX*) = nullptr;
    smbc_mkdir_fn (*mkdir)(SMBCCTX*) = nullptr;
    smbc_open_fn (*open)(SMBCCTX*) = nullptr;
    smbc_write_fn (*write)(SMBCCTX*) = nullptr;
    smbc_close_fn (*close)(SMBCCTX*) = nullptr;
    smbc_rename_fn (*rename)(SMBCCTX*) = nullptr;
};

template <typename T>
bool Find(void* lib, const char* name, T* out)
{
    *out = reinterpret_cast<T>(dlsym(lib, name));
    return *out != nullptr;
}

const SmbApi& Api()
{
    static SmbApi api;
    static std::once_flag once;
    std::call_once(once, [] {
        void* lib = dlopen("libsmbclient.so.0", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            return;
        SmbApi a;
        a.bLoaded = Find(lib, "smbc_new_context", &a.newContext) && Find(lib, "smbc_init_context", &a.initContext) &&
                    Find(lib, "smbc_free_context", &a.freeContext) &&
                    Find(lib, "smbc_setFunctionAuthDataWithContext", &a.setAuth) &&
                    Find(lib, "smbc_setTimeout", &a.setTimeout) && Find(lib, "smbc_getFunctionOpendir", &a.opendir) &&
                    Find(lib, "smbc_getFunctionReaddir", &a.readdir) &&
                    Find(lib, "smbc_getFunctionClosedir", &a.closedir) && Find(lib, "smbc_getFunctionStat", &a.stat) &&
                    Find(lib, "smbc_getFunctionChmod", &a.chmod) && Find(lib, "smbc_getFunctionUnlink", &a.unlink) &&
                    Find(lib, "smbc_getFunctionRmdir", &a.rmdir) && Find(lib, "smbc_getFunctionMkdir", &a.mkdir) &&
                    Find(lib, "smbc_getFunctionOpen", &a.open) && Find(lib, "smbc_getFunctionWrite", &a.write) &&
                    Find(lib, "smbc_getFunctionClose", &a.close) && Find(lib, "smbc_getFunctionRename", &a.rename);
        if (a.bLoaded)
            api = a;
        // The library stays loaded for the process: its contexts may outlive any one share.
    });
    return api;
}

// The camera's share takes guests: no user, no password, no workgroup of ours.
void Guest(SMBCCTX*, const char*, const char*, char* workgroup, int wgLen, char* user, int userLen, char* password,
           int passwordLen)
{
    if (wgLen > 0)
        workgroup[0] = '\0';
    if (userLen > 0)
        user[0] = '\0';
    if (passwordLen > 0)
        password[0] = '\0';
}

int LastError() { return errno != 0 ? errno : EIO; }

class CSmbRamShare : public IRamShare {
public:
    explicit CSmbRamShare(std::string url) : m_strUrl(std::move(url))
    {
        const SmbApi& a = Api();
        if (!a.bLoaded)
            return;
        SMBCCTX* ctx = a.newContext();
        if (ctx == nullptr)
            return;
        a.setAuth(ctx, &Guest);
        a.setTimeout(ctx, 20000);
        if (a.initContext(ctx) == nullptr) {
            a.freeContext(ctx, 0);
            return;
        }
        m_pContext = ctx;
    }
    ~CSmbRamShare() override
    {
        if (m_pContext != nullptr)
            Api().freeContext(m_pContext, 1);
    }

    const std::string& Location() const override { return m_strUrl; }

    int ListAll(const std::string& folder, std::vector<RamEntry>* entries) override
    {
        if (m_pContext == nullptr)
            return ENOSYS;
        const SmbApi& a = Api();
        errno = 0;
        SMBCFILE* dir = a.opendir(m_pContext)(m_pContext, Url(folder).c_str());
        if (dir == nullptr)
            return LastError();
        std::vector<RamEntry> here;
        while (const smbc_dirent* d = a.readdir(m_pContext)(m_pContext, dir)) {
            if (std::strcmp(d->name, ".") == 0 || std::strcmp(d->name, "..") == 0)
                continue;
            if (d->smbc_type != SMBC_DIR && d->smbc_type != SMBC_FILE)
                continue;
            RamEntry r;
            r.strPath = folder.empty() ? d->name : folder + "/" + d->name;
            r.bFolder = d->smbc_type == SMBC_DIR;
            here.push_back(r);
        }
        a.closedir(m_pContext)(m_pContext, dir);
        for (RamEntry& r : here) {
            struct stat st {};
            if (a.stat(m_pContext)(m_pContext, Url(r.strPath).c_str(), &st) == 0)
                r.bReadOnly = (st.st_mode & S_IWUSR) == 0;
            entries->push_back(r);
            if (r.bFolder)
                if (const int e = ListAll(r.strPath, entries))
                    return e;
        }
        return 0;
    }

    // The owner's write bit is what the library turns into the normal attribute.
    int SetNormal(const std::string& path) override
    {
        return Check(m_pContext != nullptr && Api().chmod(m_pContext)(m_pContext, Url(path).c_str(), 0644) == 0);
    }

    int DeleteAll() override
    {
        std::vector<RamEntry> entries;
        if (const int e = ListAll("", &entries))
            return e;
        const SmbApi& a = Api();
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            const std::string url = Url(it->strPath);
            errno = 0;
            const int r = it->bFolder ? a.rmdir(m_pContext)(m_pContext, url.c_str())
                                      : a.unlink(m_pContext)(m_pContext, url.c_str());
            if (r != 0)
                return LastError();
        }
        return 0;
    }

    int CopyIn(const std::string& localPath, const std::string& path) override
    {
        if (m_pContext == nullptr)
            return ENOSYS;
        std::vector<uint8_t> data;
        if (const int e = px::FileReadAll(localPath.c_str(), kMaxFile, &data))
            return e;
        const SmbApi& a = Api();
        errno = 0;
        SMBCFILE* f = a.open(m_pContext)(m_pContext, Url(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (f == nullptr)
            return LastError();
        int result = 0;
        for (size_t at = 0; at < data.size() && result == 0;) {
            const size_t chunk = std::min<size_t>(data.size() - at, 1u << 16);
            errno = 0;
            const ssize_t n = a.write(m_pContext)(m_pContext, f, data.data() + at, chunk);
            if (n <= 0)
                result = LastError();
            else
                at += static_cast<size_t>(n);
        }
        errno = 0;
        if (a.close(m_pContext)(m_pContext, f) != 0 && result == 0)
            result = LastError();
        return result;
    }

    int CreateFolder(const std::string& path) override
    {
        if (m_pContext == nullptr)
            return ENOSYS;
        errno = 0;
        if (Api().mkdir(m_pContext)(m_pContext, Url(path).c_str(), 0755) == 0)
            return 0;
        const int e = LastError();
        struct stat st {};
        if (e == EEXIST && Api().stat(m_pContext)(m_pContext, Url(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return 0;
        return e;
    }

    int CreateEmpty(const std::string& path) override
    {
        if (m_pContext == nullptr)
            return ENOSYS;
        errno = 0;
        SMBCFILE* f = Api().open(m_pContext)(m_pContext, Url(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (f == nullptr)
            return LastError();
        return Check(Api().close(m_pContext)(m_pContext, f) == 0);
    }

    int Rename(const std::string& from, const std::string& to) override
    {
        return Check(m_pContext != nullptr &&
                     Api().rename(m_pContext)(m_pContext, Url(from).c_str(), m_pContext, Url(to).c_str()) == 0);
    }

    bool NameGone(int error) const override
    {
        switch (error) {
        case EHOSTDOWN:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
        case ECONNREFUSED:
        case ECONNRESET:
        case ECONNABORTED:
        case ENOTCONN:
        case ETIMEDOUT:
        case EPIPE:
            return true;
        default:
            return false;
        }
    }

private:
    // A package file larger than this is refused rather than read into memory.
    static constexpr size_t kMaxFile = size_t{1} << 30;

    std::string Url(const std::string& path) const { return path.empty() ? m_strUrl : m_strUrl + "/" + path; }
    int Check(bool ok) const { return ok ? 0 : m_pContext == nullptr ? ENOSYS : LastError(); }

    std::string m_strUrl;
    SMBCCTX* m_pContext = nullptr;
};

} // namespace

std::unique_ptr<IRamShare> OpenSmbRamShare(const std::string& url) { return std::make_unique<CSmbRamShare>(url); }
