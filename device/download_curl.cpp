// The download over libcurl: one easy handle in a multi handle of its own, so that a
// cancel can wake the transfer at once.
#include "Download.h"

#include "Paths.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace dormane {

namespace {

// One download in progress, as CancelDownloads sees it. The multi handle stays valid for as
// long as the entry is registered.
struct ActiveDownload {
    CURLM* multi = nullptr;
    std::atomic<bool> cancelled{false};
};

std::mutex g_activeMutex;
std::vector<ActiveDownload*> g_active;

class Registration {
public:
    explicit Registration(ActiveDownload& download) : m_download(download) {
        std::lock_guard lock(g_activeMutex);
        g_active.push_back(&m_download);
    }
    ~Registration() {
        std::lock_guard lock(g_activeMutex);
        g_active.erase(std::remove(g_active.begin(), g_active.end(), &m_download), g_active.end());
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    ActiveDownload& m_download;
};

struct CurlEasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct CurlSlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// Removes the easy handle from the multi handle before either is cleaned up.
class MultiMembership {
public:
    MultiMembership(CURLM* multi, CURL* easy) : m_multi(multi), m_easy(easy) {
        m_added = curl_multi_add_handle(multi, easy) == CURLM_OK;
    }
    ~MultiMembership() {
        if (m_added)
            curl_multi_remove_handle(m_multi, m_easy);
    }
    MultiMembership(const MultiMembership&) = delete;
    MultiMembership& operator=(const MultiMembership&) = delete;
    bool Added() const { return m_added; }

private:
    CURLM* m_multi;
    CURL* m_easy;
    bool m_added = false;
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    // Closes now and reports whether the last of the data reached the file.
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

// Created anew, never through a symbolic link and never sharing an earlier file's
// permissions or owner: the old entry is removed and a fresh one made exclusively.
int CreateTempFile(const std::string& path) {
    ::unlink(path.c_str()); // missing is fine; anything else makes the exclusive create fail
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::fchmod(fd, 0600); // the umask must not narrow it further than the owner's access
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

struct Transfer {
    CURL* easy = nullptr;
    bool checkStatus = false; // http and https answer with a status; file does not
    int fd = -1;
    uint64_t bodyBytes = 0;
    bool writeFailed = false;
    bool tooLarge = false;
    long badStatus = 0; // the HTTP status when it was not 200
    char error[CURL_ERROR_SIZE] = {};
    // The stall watch: when a byte last arrived (or the transfer began), and how long
    // without one counts as a stall.
    std::chrono::steady_clock::duration stallLimit{};
    std::chrono::steady_clock::time_point lastByte = std::chrono::steady_clock::now();
    curl_off_t lastCount = 0;
    bool stalled = false;
};

// Called by libcurl at least once a second while the transfer runs.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    const auto now = std::chrono::steady_clock::now();
    if (received != transfer->lastCount) {
        transfer->lastCount = received;
        transfer->lastByte = now;
        return 0;
    }
    if (now - transfer->lastByte < transfer->stallLimit)
        return 0;
    transfer->stalled = true;
    return 1; // ends the transfer with CURLE_ABORTED_BY_CALLBACK
}

// The status of the answer that carries the body; 0 when there is none.
long ResponseCode(CURL* easy) {
    long code = 0;
    if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK)
        return 0;
    return code;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t total = size * count;
    if (total == 0)
        return 0;
    // An error page is no image: stop at its first byte instead of storing it.
    if (transfer->checkStatus && transfer->bodyBytes == 0) {
        const long code = ResponseCode(transfer->easy);
        if (code != 200) {
            transfer->badStatus = code;
            return 0;
        }
    }
    if (transfer->bodyBytes + total > kMaxBodyBytes) {
        transfer->tooLarge = true;
        return 0;
    }
    transfer->bodyBytes += total;
    if (!WriteAll(transfer->fd, data, total)) {
        transfer->writeFailed = true;
        return 0; // anything but total stops the transfer with a write error
    }
    return total;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    for (std::size_t i = 0; prefix[i] != '\0'; ++i) {
        if (i >= text.size())
            return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Sets up the easy handle; false when libcurl refuses any setting.
bool Configure(CURL* easy, const std::string& url, const DownloadOptions& options,
               curl_slist* headers, Transfer& transfer) {
    // A redirect may lead to https, and to http only from an http URL: a mirror on https is
    // never downgraded, and a server can never point the download at a local file.
    const char* redirectProtocols = StartsWithNoCase(url, "http://") ? "http,https" : "https";
    bool ok = true;
    auto set = [&ok](CURLcode rc) { ok = ok && rc == CURLE_OK; };
    set(curl_easy_setopt(easy, CURLOPT_URL, url.c_str()));
    set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,file"));
    set(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols));
    set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L));
    set(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs));
    // A stalled server must not hold the wizard or the command line for ever.
    transfer.stallLimit = std::chrono::seconds(options.stallTimeoutSec);
    set(curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L));
    set(curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress));
    set(curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer));
    set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L));
    // Keeps the built-in CA path, so the file is trusted in addition to the system store.
    if (!options.caFile.empty())
        set(curl_easy_setopt(easy, CURLOPT_CAINFO, options.caFile.c_str()));
    set(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers));
    set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L)); // runs on a worker thread
    set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody));
    set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer));
    set(curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.error));
    return ok;
}

// Runs the transfer until it ends or is cancelled. Returns true when it ended by itself, with
// its libcurl result in result.
bool Run(CURLM* multi, ActiveDownload& active, CURLcode& result) {
    int running = 1;
    while (!active.cancelled.load()) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            return false;
        if (running == 0)
            break;
        // Woken early by CancelDownloads through curl_multi_wakeup.
        if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK)
            return false;
    }
    if (running != 0)
        return false;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg == CURLMSG_DONE) {
            result = msg->data.result;
            return true;
        }
    }
    return false;
}

} // namespace

int DownloadFile(const std::string& url, std::string* reason) {
    std::string unused;
    std::string& why = reason ? *reason : unused;
    why.clear();
    InitCurlOnce();
    const DownloadOptions options = GetDownloadOptions();

    if (g_strFirmwarePath.empty())
        InitLocalAppPaths();
    // The Temp folder may have been removed since start-up.
    if (g_strFirmwarePath.empty() || !MakeFolders(TempFolder(), 0700)) {
        why = "the folder " + TempFolder() + " cannot be created";
        return kDownloadFileFailed;
    }
    FileDescriptor file(CreateTempFile(g_strFirmwarePath));
    if (file.Get() < 0) {
        why = "the temp file " + g_strFirmwarePath + " cannot be created";
        return kDownloadFileFailed;
    }

    Transfer transfer;
    transfer.fd = file.Get();
    transfer.checkStatus = StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
    // Always from the server itself, past any cache on the way.
    CurlSlist headers(curl_slist_append(nullptr, "Cache-Control: no-cache"));
    const bool headersOk =
        headers && curl_slist_append(headers.get(), "Pragma: no-cache") != nullptr;
    CurlEasy easy(curl_easy_init());
    CurlMulti multi(curl_multi_init());
    transfer.easy = easy.get();
    if (!headersOk || !easy || !multi ||
        !Configure(easy.get(), url, options, headers.get(), transfer)) {
        why = "the download could not be set up";
        return kDownloadNoInternet;
    }
    MultiMembership membership(multi.get(), easy.get());
    if (!membership.Added()) {
        why = "the download could not be set up";
        return kDownloadNoInternet;
    }

    ActiveDownload active;
    active.multi = multi.get();
    CURLcode result = CURLE_OK;
    bool ended;
    {
        Registration registration(active);
        ended = Run(multi.get(), active, result);
    }

    const bool closed = file.Close();
    if (transfer.writeFailed || !closed) {
        why = "the temp file " + g_strFirmwarePath + " could not be written";
        return kDownloadFileFailed;
    }
    // An error page with an empty body, or one whose status came with the headers alone.
    if (ended && result == CURLE_OK && transfer.checkStatus && transfer.badStatus == 0) {
        const long code = ResponseCode(easy.get());
        if (code != 200)
            transfer.badStatus = code;
    }
    if (transfer.badStatus != 0) {
        why = "the server answered with HTTP status " + std::to_string(transfer.badStatus) +
              " instead of the image";
        return kDownloadOpenUrlFailed;
    }
    if (transfer.tooLarge) {
        why = "the answer grew past " + std::to_string(kMaxBodyBytes / 1024) +
              " KB, far more than any image of this speaker";
        return kDownloadReadFailed;
    }
    if (ended && result == CURLE_OK)
        return kDownloadOk;

    const std::string detail = transfer.error[0] ? transfer.error : curl_easy_strerror(result);
    if (active.cancelled.load()) {
        why = "the download was cancelled";
        return kDownloadReadFailed;
    }
    if (transfer.stalled) {
        why = "no data arrived for " + std::to_string(options.stallTimeoutSec) + " seconds after " +
              std::to_string(transfer.bodyBytes) + " bytes";
        return kDownloadReadFailed;
    }
    if (ended && result == CURLE_PARTIAL_FILE) {
        curl_off_t expected = -1;
        curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        why = "the answer ended after " + std::to_string(transfer.bodyBytes) + " bytes" +
              (expected >= 0 ? " of the " + std::to_string(expected) + " announced" : "") + " (" +
              detail + ")";
        return kDownloadReadFailed;
    }
    if (ended && (result == CURLE_PEER_FAILED_VERIFICATION || result == CURLE_SSL_CACERT_BADFILE ||
                  result == CURLE_SSL_CERTPROBLEM)) {
        why = "the server's certificate is not trusted (" + detail + ")";
        return kDownloadOpenUrlFailed;
    }
    if (transfer.bodyBytes > 0) {
        why = "the transfer broke off after " + std::to_string(transfer.bodyBytes) + " bytes (" +
              detail + ")";
        return kDownloadReadFailed;
    }
    if (ended && result == CURLE_OPERATION_TIMEDOUT)
        why = "the firmware server could not be reached in time (" + detail + ")";
    else
        why = "the firmware server could not be reached (" + detail + ")";
    return kDownloadOpenUrlFailed;
}

void CancelDownloads() {
    std::lock_guard lock(g_activeMutex);
    for (ActiveDownload* download : g_active) {
        download->cancelled.store(true);
        curl_multi_wakeup(download->multi);
    }
}

} // namespace dormane
