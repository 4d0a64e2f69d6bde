// What every platform's download shares: the URLs, the options and the result texts.
#include "Download.h"

#include <mutex>

namespace dormane {

namespace {

std::mutex g_optionsMutex;
DownloadOptions g_options;

} // namespace

std::string FirmwareUrl(bool enableStandby, const std::string& baseUrl) {
    std::string url = baseUrl;
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    url += enableStandby ? kStandbyFirmwarePath : kNonStandbyFirmwarePath;
    return url;
}

void SetDownloadOptions(const DownloadOptions& options) {
    std::lock_guard lock(g_optionsMutex);
    g_options = options;
}

DownloadOptions GetDownloadOptions() {
    std::lock_guard lock(g_optionsMutex);
    return g_options;
}

const char* DescribeDownloadResult(int code) {
    switch (code) {
    case kDownloadOk:
        return "downloaded";
    case kDownloadFileFailed:
        return "the temp file could not be created or written";
    case kDownloadNoInternet:
        return "the download could not be set up";
    case kDownloadOpenUrlFailed:
        return "the firmware server could not be reached or the URL could not be opened";
    case kDownloadReadFailed:
        return "the transfer broke off before the whole image arrived";
    default:
        return "unknown download result";
    }
}

} // namespace dormane
