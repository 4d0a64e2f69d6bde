#pragma once

#include <optional>
#include <string>

// The per-user settings file that holds the log switches:
// $XDG_CONFIG_HOME/Voxtrel/FWUpdateTool.conf (default ~/.config/...), INI syntax,
// section [General], integer values EnableLog and LogType.
namespace dormane::settings {

std::string HomeFolder();       // $HOME, else the account's home, else "/"
std::string ConfigHome();       // $XDG_CONFIG_HOME, else $HOME/.config
std::string SettingsFilePath(); // the file above
std::string SystemTempFolder(); // $TMPDIR, else /tmp (no trailing slash)
std::string LogFilePath();      // VXFWUpdate.log in the system temp folder

// Creates path and every missing folder above it, new ones private (0700). True when path
// is a folder afterwards.
bool MakePrivateFolders(const std::string& path);

// Creates the folder and an empty file when missing, as the settings key is created; an
// existing file is left alone. Returns false when the file is missing and cannot be made.
bool EnsureSettingsFile();

// An integer value of section [General] (INI syntax, read with inih: ';' and '#' comments on
// their own lines and after a value, blanks around '='); nothing when missing or not a
// 32-bit integer.
std::optional<long> ReadGeneralInt(const std::string& path, const std::string& key);

} // namespace dormane::settings
