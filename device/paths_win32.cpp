// The local application-data folder on Windows, and folders made in it.
#include "Paths.h"

#include "FileSystem.h"
#include "WinText.h"

#include <shlobj.h>

namespace dormane {

std::string LocalAppDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return {};
    return win::Narrow(folder);
}

int MakeFolders(const std::string& path, unsigned /*mode: the profile's permissions apply*/) {
    return !path.empty() && files::MakePrivateFolders(path) ? 1 : 0;
}

} // namespace dormane
