#include "Log.h"

#include "DebugOutput.h"

#include "FileSystem.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

std::mutex g_logMutex;
LogSettings g_logSettings;

} // namespace

void SetLogSettings(const LogSettings& settings) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logSettings = settings;
}

LogSettings GetLogSettings() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_logSettings;
}

std::string TruncateLogMessage(const std::string& message) {
    size_t characters = 0;
    for (size_t i = 0; i < message.size(); ++i) {
        // Count lead bytes only; continuation bytes belong to the character before.
        if ((static_cast<unsigned char>(message[i]) & 0xC0) != 0x80) {
            if (characters == kLogMessageMax)
                return message.substr(0, i);
            ++characters;
        }
    }
    return message;
}

std::string FormatLogLine(const std::tm& local, const std::string& message) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "[%d/%d %d:%d:%d] ", local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return stamp + message + "\n";
}

void WriteLog(const char* format, ...) {
    if (!format)
        return;
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (!g_logSettings.enabled || g_logSettings.filePath.empty())
        return;

    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        message.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    message = TruncateLogMessage(message);

    if (!g_logSettings.toFile) {
        dormane::DebugOutput(message); // the message alone, as the debugger output takes it
        return;
    }
    // The log is opened for each line so that it cannot be redirected: no link is followed,
    // a new file is private, a file that is not a regular file of ours is refused, and a FIFO
    // in its place cannot hang the program. A refused line is lost; the operation that
    // logged goes on.
    const std::tm local = dormane::files::LocalTime(std::time(nullptr));
    dormane::files::AppendToOwnFile(g_logSettings.filePath, FormatLogLine(local, message));
}
