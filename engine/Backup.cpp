#include "Backup.h"

#include "Settings.h"
#include "Status.h"

#include "FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace dormane::backup {

std::string BackupFolder() {
    return files::JoinPath(settings::DataFolder(), "backups");
}

std::string BackupFileName(uint16_t vid, uint16_t pid, uint16_t fwVersion, bool raw) {
    std::time_t now = std::time(nullptr);
    const std::tm local = files::LocalTime(now);
    char name[96];
    std::snprintf(name, sizeof name,
                  "backup-%04d%02d%02d-%02d%02d%02d-VID%04X-PID%04X-FW%04X%s.bin",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, vid, pid, fwVersion, raw ? "-raw" : "");
    return name;
}

int WriteNewFile(const std::string& path, const uint8_t* data, uint32_t size, std::string& reason) {
    return files::CreateNewFile(path, data, size, reason) ? status::kSuccess : status::kFailure;
}

int WriteBackupFile(const uint8_t* data, uint32_t size, uint16_t vid, uint16_t pid,
                    uint16_t fwVersion, bool raw, std::string& pathOrReason) {
    if (!data || size == 0) {
        pathOrReason = "nothing was read from the speaker to back up";
        return status::kFailure;
    }
    const std::string folder = BackupFolder();
    if (!files::MakePrivateFolders(folder)) {
        pathOrReason = "cannot create the folder " + folder + ": " + files::LastErrorText();
        return status::kFailure;
    }
    std::string name = BackupFileName(vid, pid, fwVersion, raw);
    const std::string stem = name.substr(0, name.size() - 4);
    std::string reason;
    // Two burns in one second get distinct names instead of one replacing the other.
    for (int n = 0; n < 100; ++n) {
        const std::string candidate =
            files::JoinPath(folder, n == 0 ? name : stem + "-" + std::to_string(n) + ".bin");
        if (files::Exists(candidate))
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

std::optional<uint16_t> FirmwareOfBackup(const std::string& path, uint16_t vid, uint16_t pid) {
    const std::string name = files::BaseName(path);
    char head[40];
    std::snprintf(head, sizeof head, "-VID%04X-PID%04X-FW", vid, pid);
    const size_t at = name.find(head);
    if (name.rfind("backup-", 0) != 0 || at == std::string::npos)
        return std::nullopt;
    const std::string rest = name.substr(at + std::strlen(head));
    // "0813.bin" or "0813-N.bin"; "-raw" marks a copy of an EEPROM without a valid image.
    if (rest.size() < 8 || rest.find("-raw") != std::string::npos ||
        rest.compare(rest.size() - 4, 4, ".bin") != 0 || (rest[4] != '.' && rest[4] != '-'))
        return std::nullopt;
    char* end = nullptr;
    const std::string word = rest.substr(0, 4);
    const unsigned long value = std::strtoul(word.c_str(), &end, 16);
    if (!end || *end != '\0')
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

std::optional<FoundBackup> NewestBackup(uint16_t vid, uint16_t pid) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::optional<FoundBackup> newest;
    fs::file_time_type newestTime{};
    std::string newestName;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(files::U8Path(BackupFolder()), ec)) {
        std::error_code entryError;
        if (!entry.is_regular_file(entryError) || entry.file_size(entryError) == 0 || entryError)
            continue;
        const std::string path = files::U8String(entry.path());
        const std::optional<uint16_t> fw = FirmwareOfBackup(path, vid, pid);
        if (!fw)
            continue;
        const fs::file_time_type when = entry.last_write_time(entryError);
        const std::string name = files::U8String(entry.path().filename());
        // Names carry the time to the second; a later one in the same second has a longer name.
        const bool newer =
            !newest || when > newestTime ||
            (when == newestTime && (name.size() > newestName.size() ||
                                    (name.size() == newestName.size() && name > newestName)));
        if (newer) {
            newest = FoundBackup{path, *fw};
            newestTime = when;
            newestName = name;
        }
    }
    return newest;
}

} // namespace dormane::backup
