#pragma once

#include "Command.h"

#include <string>
#include <vector>

// doctor --report FILE.tar.gz: what a bug report needs, in one archive, and nothing private
// beyond it: doctor's own JSON, the program's version and build, the operating system and
// the libraries with their versions, the diagnostic log when there is one, the newest
// recording (--record), the burn journal, and the list of backups with their sizes and
// firmware versions (not the backups themselves).
struct ReportResult {
    bool written = false;
    std::vector<std::string> files; // the names in the archive
    std::string reason;             // why it was not written
};

ReportResult WriteSupportReport(const std::string& path, const nlohmann::json& doctor);
