// The developer's channel on Windows: the debugger output, which a debugger or a viewer of
// it shows.
#include "DebugOutput.h"

#include "WinText.h"

#include <atomic>
#include <cstdio>

namespace dormane {

namespace {

std::atomic<bool> g_echo{false};

} // namespace

void DebugOutput(const std::string& message) {
    OutputDebugStringW(win::Widen(message + "\n").c_str());
    if (g_echo.load())
        std::fprintf(stderr, "%s\n", message.c_str());
}

void SetDebugOutputEcho(bool toStandardError) {
    g_echo.store(toStandardError);
}

} // namespace dormane
