// The local application-data folder on Linux (the XDG base directories), and folders made in it.
#include "Paths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace dormane {

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    // No usable $HOME (a service, a stripped environment): ask the user database.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] == '/')
        return result->pw_dir;
    return {};
}

} // namespace

std::string LocalAppDataFolder() {
    // A relative $XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;
    std::string home = HomeFolder();
    if (home.empty())
        return {};
    if (home.back() != '/')
        home += '/';
    return home + ".local/share";
}

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

int MakeFolders(const std::string& path, unsigned mode) {
    if (path.empty())
        return 0;
    if (IsFolder(path))
        return 1;
    // Each prefix ending before a '/' is one folder to make, from the top down.
    for (std::size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        const std::string prefix = path.substr(0, pos);
        if (!prefix.empty() && prefix.back() != '/' && mkdir(prefix.c_str(), mode) != 0 &&
            errno != EEXIST)
            return 0;
        if (pos == std::string::npos)
            break;
    }
    return IsFolder(path) ? 1 : 0;
}

} // namespace dormane
