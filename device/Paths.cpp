#include "Paths.h"

#include "FileSystem.h"

namespace dormane {

std::string g_strLocalAppData;
std::string g_strFirmwarePath;

std::string TempFolder() {
    const std::size_t slash =
        g_strFirmwarePath.find_last_of(files::kPathSeparator == '/' ? "/" : "/\\");
    return slash == std::string::npos ? std::string{} : g_strFirmwarePath.substr(0, slash);
}

int InitLocalAppPaths() {
    std::string folder = LocalAppDataFolder();
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == files::kPathSeparator))
        folder.pop_back();
    if (folder.empty())
        return 0;
    g_strLocalAppData = folder;
    g_strFirmwarePath =
        files::JoinPath(files::JoinPath(folder, kTempFolderName), kFirmwareFileName);
    return MakeFolders(TempFolder(), 0700);
}

} // namespace dormane
