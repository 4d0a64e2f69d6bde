#include "Settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>

namespace dormane::settings {

namespace {

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

} // namespace

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

bool MakePrivateFolders(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '/')
            continue;
        const std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ConfigHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return xdg;
    return HomeFolder() + "/.config";
}

std::string SettingsFilePath() {
    return ConfigHome() + "/Voxtrel/FWUpdateTool.conf";
}

std::string SystemTempFolder() {
    std::string dir = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp == '/')
        dir = tmp;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string LogFilePath() {
    std::string path = SystemTempFolder() + "/VXFWUpdate.log";
    if (path.size() > 259)
        path.resize(259);
    return path;
}

bool EnsureSettingsFile() {
    if (!MakePrivateFolders(ConfigHome() + "/Voxtrel"))
        return false;
    int fd = open(SettingsFilePath().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

std::optional<long> ReadGeneralInt(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::string line;
    bool inGeneral = false;
    std::optional<long> found;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[') {
            inGeneral = line == "[General]";
            continue;
        }
        if (!inGeneral)
            continue;
        auto eq = line.find('=');
        if (eq == std::string::npos || Trim(line.substr(0, eq)) != key)
            continue;
        const std::string text = Trim(line.substr(eq + 1));
        errno = 0;
        char* end = nullptr;
        long long value = std::strtoll(text.c_str(), &end, 0);
        // A value that is not a whole 32-bit integer leaves the default, as a registry value
        // of the wrong size would.
        if (text.empty() || *end != '\0' || errno == ERANGE || value < INT32_MIN ||
            value > UINT32_MAX)
            found.reset();
        else
            found = static_cast<long>(value);
    }
    return found;
}

} // namespace dormane::settings
