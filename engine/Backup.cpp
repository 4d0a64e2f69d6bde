#include "Backup.h"

#include "Settings.h"
#include "Status.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>

namespace dormane::backup {

std::string StateHome() {
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return xdg;
    return settings::HomeFolder() + "/.local/state";
}

std::string BackupFolder() {
    return StateHome() + "/dormane/backups";
}

std::string BackupFileName(uint16_t vid, uint16_t pid, uint16_t fwVersion, bool raw) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[96];
    std::snprintf(name, sizeof name,
                  "backup-%04d%02d%02d-%02d%02d%02d-VID%04X-PID%04X-FW%04X%s.bin",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, vid, pid, fwVersion, raw ? "-raw" : "");
    return name;
}

int WriteNewFile(const std::string& path, const uint8_t* data, uint32_t size, std::string& reason) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        reason = "cannot create " + path + ": " + std::strerror(errno);
        return status::kFailure;
    }
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            reason = "cannot write " + path + ": " + std::strerror(n < 0 ? errno : EIO);
            close(fd);
            unlink(path.c_str());
            return status::kFailure;
        }
        done += static_cast<uint32_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        reason = "cannot write " + path + ": " + std::strerror(errno);
        unlink(path.c_str());
        return status::kFailure;
    }
    return status::kSuccess;
}

int WriteBackupFile(const uint8_t* data, uint32_t size, uint16_t vid, uint16_t pid,
                    uint16_t fwVersion, bool raw, std::string& pathOrReason) {
    if (!data || size == 0) {
        pathOrReason = "nothing was read from the speaker to back up";
        return status::kFailure;
    }
    const std::string folder = BackupFolder();
    if (!settings::MakePrivateFolders(folder)) {
        pathOrReason = "cannot create the folder " + folder + ": " + std::strerror(errno);
        return status::kFailure;
    }
    std::string name = BackupFileName(vid, pid, fwVersion, raw);
    const std::string stem = name.substr(0, name.size() - 4);
    std::string reason;
    // Two burns in one second get distinct names instead of one replacing the other.
    for (int n = 0; n < 100; ++n) {
        const std::string candidate =
            folder + "/" + (n == 0 ? name : stem + "-" + std::to_string(n) + ".bin");
        struct stat st {};
        if (lstat(candidate.c_str(), &st) == 0)
            continue;
        if (WriteNewFile(candidate, data, size, reason) == status::kSuccess) {
            pathOrReason = candidate;
            return status::kSuccess;
        }
        pathOrReason = reason;
        return status::kFailure;
    }
    pathOrReason = "too many backups with the same name in " + folder;
    return status::kFailure;
}

} // namespace dormane::backup
