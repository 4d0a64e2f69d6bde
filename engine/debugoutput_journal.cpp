// The debugger output on Linux: the systemd journal, at debug priority.
#include "DebugOutput.h"

#include <syslog.h>
#include <systemd/sd-journal.h>

#include <atomic>
#include <cstdio>

namespace dormane {

namespace {

std::atomic<bool> g_echo{false};

} // namespace

void DebugOutput(const std::string& message) {
    // Without a journal (a container, CI) the message is dropped, as a debugger output with
    // nobody listening drops it.
    sd_journal_print(LOG_DEBUG, "%s", message.c_str());
    if (g_echo.load(std::memory_order_relaxed))
        std::fprintf(stderr, "%s\n", message.c_str());
}

void SetDebugOutputEcho(bool toStandardError) {
    g_echo.store(toStandardError, std::memory_order_relaxed);
}

} // namespace dormane
