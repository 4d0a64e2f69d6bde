#pragma once

#include <optional>
#include <string>

// Where the program keeps its settings and files, per platform (engine/settings_posix.cpp,
// engine/settings_win32.cpp). The settings are the two log switches, integer values
// EnableLog and LogType: on Linux in the per-user file
// $XDG_CONFIG_HOME/Voxtrel/FWUpdateTool.conf (default ~/.config/...), INI syntax, section
// [General]; on Windows in the registry key HKEY_CURRENT_USER\Software\Voxtrel\FWUpdateTool.
namespace dormane::settings {

// Where the switches are, as a user would look for them: the file, or the registry key.
std::string SettingsLocation();
// Creates the file or the key when missing, as the program does at start; an existing one is
// left alone. False when it is missing and cannot be made.
bool EnsureSettingsStore();
// A switch; nothing when missing or not a 32-bit integer.
std::optional<long> ReadSetting(const std::string& name);

std::string
SystemTempFolder();        // $TMPDIR, else /tmp; the Windows folder's Temp (no trailing separator)
std::string LogFilePath(); // VXFWUpdate.log in the system temp folder
// The folder of Dormane's own files (backups, the burn journal): $XDG_STATE_HOME/dormane
// (default ~/.local/state/dormane) on Linux, %LOCALAPPDATA%\Dormane on Windows.
std::string DataFolder();

// Windows only: the local application-data folder, from the shell (CSIDL_LOCAL_APPDATA), or
// DORMANE_LOCAL_APPDATA when that is set, so that tests running at once keep apart; empty
// when neither gives one.
std::string LocalAppDataFolder();

// Linux only: the INI file behind the switches.
std::string HomeFolder();       // $HOME, else the account's home, else "/"
std::string ConfigHome();       // $XDG_CONFIG_HOME, else $HOME/.config
std::string SettingsFilePath(); // the file above
bool EnsureSettingsFile();
// An integer value of section [General] (INI syntax, read with inih: ';' and '#' comments on
// their own lines and after a value, blanks around '='); nothing when missing or not a
// 32-bit integer.
std::optional<long> ReadGeneralInt(const std::string& path, const std::string& key);

} // namespace dormane::settings
