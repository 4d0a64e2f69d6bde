#include "Settings.h"

#include "FileSystem.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ini.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

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
    // Made only when missing: an existing file, a link to one (a dotfile manager's) or a
    // read-only one is left as it is and read.
    return files::MakePrivateFolders(ConfigHome() + "/Voxtrel") &&
           files::CreateEmptyFileIfMissing(SettingsFilePath());
}

std::string SettingsLocation() {
    return SettingsFilePath();
}

bool EnsureSettingsStore() {
    return EnsureSettingsFile();
}

std::optional<long> ReadSetting(const std::string& name) {
    return ReadGeneralInt(SettingsFilePath(), name);
}

std::string DataFolder() {
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/dormane";
    return HomeFolder() + "/.local/state/dormane";
}

namespace {

struct Lookup {
    const std::string* key;
    std::optional<long> found;
};

// inih takes ';' after a value as a comment; '#' after a value is cut here, as the
// settings file's own examples write it.
std::string WithoutHashComment(const char* value) {
    std::string text = value;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '#' && (i == 0 || text[i - 1] == ' ' || text[i - 1] == '\t')) {
            text.resize(i);
            break;
        }
    }
    return Trim(text);
}

int OnValue(void* user, const char* section, const char* name, const char* value) {
    auto* lookup = static_cast<Lookup*>(user);
    if (std::strcmp(section, "General") != 0 || *lookup->key != name)
        return 1;
    const std::string text = WithoutHashComment(value);
    errno = 0;
    char* end = nullptr;
    const long long number = std::strtoll(text.c_str(), &end, 0);
    // A value that is not a whole 32-bit integer leaves the default, as a registry value of
    // the wrong size would; the last one in the file wins.
    if (text.empty() || *end != '\0' || errno == ERANGE || number < INT32_MIN ||
        number > UINT32_MAX)
        lookup->found.reset();
    else
        lookup->found = static_cast<long>(number);
    return 1;
}

} // namespace

std::optional<long> ReadGeneralInt(const std::string& path, const std::string& key) {
    // Without blocking, so that a FIFO in the file's place cannot hang the program.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    FILE* file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "r") : nullptr;
    if (!file) {
        close(fd);
        return std::nullopt;
    }
    Lookup lookup{&key, std::nullopt};
    ini_parse_file(file, OnValue, &lookup);
    std::fclose(file);
    return lookup.found;
}

} // namespace dormane::settings
