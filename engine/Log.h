#pragma once

#include <ctime>
#include <string>

// The engine's diagnostic log: off unless the settings switch it on; then one timestamped
// line per event into the log file, or the message alone to the debugger output
// (DebugOutput.h).

struct LogSettings {
    bool enabled = false;
    bool toFile = true;   // false: the debugger output
    std::string filePath; // empty until the engine facade has built it
};

// Replaces the process-wide settings (the engine facade's constructor does this once).
void SetLogSettings(const LogSettings& settings);
LogSettings GetLogSettings();

// printf-style; the only way engine code writes log lines. Safe from several threads.
void WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Longest message kept, in characters; longer ones are cut.
inline constexpr size_t kLogMessageMax = 259;
// "[month/day hour:minute:second] message\n", no leading zeros.
std::string FormatLogLine(const std::tm& local, const std::string& message);
// Cuts a UTF-8 message to at most kLogMessageMax characters without splitting one.
std::string TruncateLogMessage(const std::string& message);
