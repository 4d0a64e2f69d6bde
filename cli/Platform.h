#pragma once

#include <string>
#include <vector>

// What the command line needs from the platform, one file each: cli/platform_posix.cpp,
// cli/platform_win32.cpp.

// Readies the process (a burn must outlive a closed pipe on Linux; the console takes UTF-8
// on Windows) and returns the arguments as UTF-8.
std::vector<std::string> PrepareProcess(int argc, char** argv);

bool StdoutIsTerminal();

// One word of a command the program tells the user to run, quoted so that the platform's own
// shell hands it back unchanged: single quotes for a POSIX shell, double quotes for the
// Windows command prompt.
std::string QuoteForShell(const std::string& word);

// The one-time step that lets a user open the speaker: the udev rule on Linux, a WinUSB
// driver on one of the speaker's interfaces on Windows.
struct AccessSetup {
    bool ready = false;
    std::string detail; // what was found
    std::string advice; // what to do when it is not ready
};
const char* AccessSetupId();    // doctor's check id
const char* AccessSetupTitle(); // and its title
AccessSetup CheckAccessSetup();
// The sentence after "The speaker (USB ...) is connected, but " when it cannot be opened.
std::string NoAccessAdvice();

// Whether the settings store (the file, the registry key) is there and readable.
enum class SettingsStoreState { Missing, Unreadable, Readable };
SettingsStoreState SettingsStore();
const char* SettingsHowTo();   // how a user switches the log on
const char* DebugOutputName(); // where LogType 0 sends the log
// What a user checks when the firmware server cannot be reached.
const char* FirmwareServerAdvice();
// What a user does when the temp folder of the log cannot be used.
const char* TempFolderAdvice();
