#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Backups of the speaker's EEPROM, written before every burn, in the backups folder of the
// program's data folder: $XDG_STATE_HOME/dormane/backups/ (default
// ~/.local/state/dormane/backups/) on Linux, %LOCALAPPDATA%\Dormane\backups on Windows.
namespace dormane::backup {

std::string BackupFolder(); // the folder above

// "backup-YYYYMMDD-HHMMSS-VID0D8C-PID0082-FW0813.bin", or "...-raw.bin" for a whole EEPROM
// whose content failed the checks.
std::string BackupFileName(uint16_t vid, uint16_t pid, uint16_t fwVersion, bool raw);

// Writes the bytes to a new private file in the backup folder (created when missing) and
// returns 0 with its path, or 1 with the reason.
int WriteBackupFile(const uint8_t* data, uint32_t size, uint16_t vid, uint16_t pid,
                    uint16_t fwVersion, bool raw, std::string& pathOrReason);

// The firmware version word a backup's name records, when it is a backup of a valid image
// (not a raw EEPROM copy) of vid and pid; nothing otherwise.
std::optional<uint16_t> FirmwareOfBackup(const std::string& path, uint16_t vid, uint16_t pid);

// The newest backup of a valid image of this speaker, with the firmware it holds.
struct FoundBackup {
    std::string path;
    uint16_t fwVersion = 0;
};
std::optional<FoundBackup> NewestBackup(uint16_t vid, uint16_t pid);

// Writes bytes to a new file at path (not replacing anything, no link followed), mode 0600.
int WriteNewFile(const std::string& path, const uint8_t* data, uint32_t size, std::string& reason);

} // namespace dormane::backup
