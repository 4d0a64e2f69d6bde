#pragma once

#include <cstdint>
#include <string>

namespace dormane {

// Result codes of a download, as the download thread posts them.
inline constexpr int kDownloadOk = 48;            // the whole body is in the temp file
inline constexpr int kDownloadFileFailed = 51;    // the temp file could not be created or written
inline constexpr int kDownloadNoInternet = 52;    // the transfer could not be set up
inline constexpr int kDownloadOpenUrlFailed = 53; // failed before the first byte of the body
inline constexpr int kDownloadReadFailed = 54;    // failed or cancelled after that

inline constexpr long kConnectTimeoutMs = 10000;
// A transfer during which no byte arrives for this long has stalled and fails.
inline constexpr long kStallTimeoutSec = 30;
// No image of this speaker is larger than its 64 KB EEPROM: a body past this is not one.
inline constexpr uint64_t kMaxBodyBytes = 1024 * 1024;

inline constexpr const char* kFirmwareBaseUrl = "https://firmware.voxtrel.com";
inline constexpr const char* kStandbyFirmwarePath =
    "/pm/pm_firmware/pelko_zuro/pelko_z_standby_V8.13_000E6094h.bin";
inline constexpr const char* kNonStandbyFirmwarePath =
    "/pm/pm_firmware/pelko_zuro/pelko_z_non_standby_V8.03_000E4712h.bin";

// The URL of the image for a mode: firmware 8.13 lets the speaker go to standby, 8.03 keeps
// it on. Slashes at the end of baseUrl are dropped so that a mirror may be written either way.
std::string FirmwareUrl(bool enableStandby, const std::string& baseUrl = kFirmwareBaseUrl);

// Process-wide download settings (the command line's --firmware-base-url and --ca-file).
struct DownloadOptions {
    std::string baseUrl = kFirmwareBaseUrl; // where FirmwareUrl callers take the images from
    std::string caFile; // a PEM file trusted in addition to the system's CA store; empty: none
    long stallTimeoutSec = kStallTimeoutSec; // tests shorten it
};
void SetDownloadOptions(const DownloadOptions& options);
DownloadOptions GetDownloadOptions();

// Fetches url (https, http or file) into g_strFirmwarePath, which is created anew with mode
// 0600 (a symbolic link in its place is replaced, not followed); fills the paths first when
// InitLocalAppPaths has not run. The body is streamed to the file as it arrives. Only a
// whole body counts: an HTTP status other than 200 gives 53; a body that ends before its
// Content-Length, a connection that closes early, a body past kMaxBodyBytes or a stall of
// stallTimeoutSec give 54. After a failure the file stays, holding what was received.
// Returns one of the codes above; reason, when given, receives a sentence on a failure.
// Safe to call from any thread; one download at a time writes the file.
int DownloadFile(const std::string& url, std::string* reason = nullptr);

// Makes every download in progress end soon with kDownloadReadFailed. Downloads that start
// after the call are not affected. Callable from any thread.
void CancelDownloads();

// Short English meaning of a download result, for the command line.
const char* DescribeDownloadResult(int code);

} // namespace dormane
