// doctor --report on Windows: the archive library of the Linux build is not part of the
// Windows one yet, so the report says so instead of writing half an archive.
#include "SupportReport.h"

ReportResult WriteSupportReport(const std::string& /*path*/, const nlohmann::json& /*doctor*/) {
    ReportResult result;
    result.reason = "support reports are not available in the Windows build yet; run "
                    "dormane-cli doctor --json and attach its output instead";
    return result;
}
