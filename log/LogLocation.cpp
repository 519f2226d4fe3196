#include "log/LogLocation.h"

#include "log/PellixLogger.h"
#include "platform/Config.h"
#include "platform/File.h"

bool LogFilePathFromConfig(std::string* path)
{
    const std::string fileName = px::ConfigGetString("LogFileName", "");
    const std::string folder = px::VistelDataFolder();
    if (fileName.empty() || folder.empty())
        return false;
    px::FolderCreatePath(folder.c_str());
    *path = folder + "/" + fileName;
    return true;
}

void InitLoggerFromConfig()
{
    std::string path;
    PXInitLogger(LogFilePathFromConfig(&path) ? path.c_str() : nullptr);
}
