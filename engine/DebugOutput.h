#pragma once

#include <string>

// The developer's channel: the transport's own messages ("NACK!!") and the log lines when the
// log is switched to it (LogType 0). A user never sees it unless asked to: the one backend
// sends each message to the systemd journal at debug priority, falling back to nothing
// (engine/debugoutput_journal.cpp), and the command line's --trace also echoes it on
// standard error.
namespace dormane {

void DebugOutput(const std::string& message);
// Echo every message on standard error as well (off by default).
void SetDebugOutputEcho(bool toStandardError);

} // namespace dormane
