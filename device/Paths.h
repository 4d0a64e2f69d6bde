#pragma once

#include <string>

namespace dormane {

// The user's local application-data folder: $XDG_DATA_HOME, or ~/.local/share when that is
// unset, empty or not an absolute path.
extern std::string g_strLocalAppData;
// The firmware temp file the download writes and the burn reads:
// g_strLocalAppData + "/Temp/VanteqUpdate.bin".
extern std::string g_strFirmwarePath;

inline constexpr const char* kTempFolderName = "Temp";
inline constexpr const char* kFirmwareFileName = "VanteqUpdate.bin";

// Fills both paths from the environment and creates the Temp folder (and any missing folder
// above it) with mode 0700. Returns 1 on success, 0 when no home folder is known or the
// folder cannot be created; the paths are filled either way when a home folder is known.
// Called once at start-up, before any worker thread reads the paths.
int InitLocalAppPaths();

// The user's local application-data folder (%LOCALAPPDATA% on Windows); empty when unknown.
// One backend per platform: device/paths_posix.cpp, device/paths_win32.cpp.
std::string LocalAppDataFolder();

// The folder that holds the firmware temp file (the parent of g_strFirmwarePath).
std::string TempFolder();

// Creates path and every missing folder above it with the given mode. 1 when path is a
// folder afterwards, 0 otherwise.
int MakeFolders(const std::string& path, unsigned mode);

} // namespace dormane
