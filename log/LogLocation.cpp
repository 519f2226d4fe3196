#include "log/LogLocation.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

#include "log/PellixLogger.h"
#include "platform/Config.h"

namespace {

std::string DataFolder(const char* xdgDataHome, const char* home)
{
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
        return xdgDataHome;
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/share";
    return std::string();
}

// Creates each missing folder of dir in turn, like "mkdir -p"; errors are ignored.
void MakeFolders(const std::string& dir)
{
    for (size_t at = dir.find('/', 1); ; at = dir.find('/', at + 1)) {
        std::string part = dir.substr(0, at);
        mkdir(part.c_str(), 0755);
        if (at == std::string::npos)
            break;
    }
}

} // namespace

bool BuildLogFilePath(const char* xdgDataHome, const char* home, const std::string& fileName, std::string* path)
{
    std::string folder = DataFolder(xdgDataHome, home);
    if (folder.empty() || fileName.empty())
        return false;
    *path = folder + "/Dravik/Vistel/" + fileName;
    return true;
}

bool LogFilePathFromConfig(std::string* path)
{
    std::string fileName = px::ConfigGetString("LogFileName", "");
    if (!BuildLogFilePath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"), fileName, path))
        return false;
    MakeFolders(path->substr(0, path->rfind('/')));
    return true;
}

void InitLoggerFromConfig()
{
    std::string path;
    PXInitLogger(LogFilePathFromConfig(&path) ? path.c_str() : nullptr);
}
