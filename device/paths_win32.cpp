// The local application-data folder on Windows, and folders made in it.
#include "Paths.h"

#include "FileSystem.h"
#include "Settings.h"

namespace dormane {

std::string LocalAppDataFolder() {
    return settings::LocalAppDataFolder();
}

int MakeFolders(const std::string& path, unsigned /*mode: the profile's permissions apply*/) {
    return !path.empty() && files::MakePrivateFolders(path) ? 1 : 0;
}

} // namespace dormane
