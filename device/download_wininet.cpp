// The download on Windows: WinINet with the system's proxy settings and certificate store,
// always from the server itself (reload, no cache write). file:// URLs (a mirror on a disk or
// a share) are copied by our own code with the same result codes.
#include "Download.h"

#include "FileSystem.h"
#include "Paths.h"
#include "WinText.h"

#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

namespace dormane {

namespace {

constexpr DWORD kBufferSize = 0x100000;
// Redirects are followed by our own loop, so that one from https to plain http is refused
// whatever WinINet would make of it.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_TRANSFER_BINARY | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr int kMaxRedirects = 5;

std::atomic<uint64_t> g_cancelGeneration{0};

using win::Widen;

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle = nullptr) : m_handle(handle) {}
    ~InternetHandle() { Reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET Get() const { return m_handle; }
    void Reset(HINTERNET handle = nullptr) {
        if (m_handle)
            InternetCloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HINTERNET m_handle;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Ok() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    bool Close() {
        if (m_handle == INVALID_HANDLE_VALUE)
            return true;
        const bool ok = CloseHandle(m_handle) != 0;
        m_handle = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE m_handle;
};

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return text.size() >= n && _strnicmp(text.c_str(), prefix, n) == 0;
}

// Created hidden, replacing an earlier one. A link in its place is removed, not followed.
HANDLE CreateTempFile(const std::string& path) {
    const std::wstring wide = Widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        DeleteFileW(wide.c_str());
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN);
    return CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_HIDDEN, nullptr);
}

bool WriteAll(HANDLE file, const uint8_t* data, DWORD size) {
    DWORD done = 0;
    while (done < size) {
        DWORD written = 0;
        if (!WriteFile(file, data + done, size - done, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// A source of body bytes: WinINet's URL handle or a local file.
struct Source {
    virtual ~Source() = default;
    // false on a failed read; n = 0 at the end.
    virtual bool Read(uint8_t* buffer, DWORD size, DWORD& n) = 0;
};

struct UrlSource final : Source {
    HINTERNET url = nullptr;
    bool Read(uint8_t* buffer, DWORD size, DWORD& n) override {
        return InternetReadFile(url, buffer, size, &n) != 0;
    }
};

struct FileSource final : Source {
    files::RandomAccessFile file;
    uint64_t offset = 0;
    bool Read(uint8_t* buffer, DWORD size, DWORD& n) override {
        const int64_t got = file.ReadAt(offset, buffer, size);
        if (got < 0)
            return false;
        n = static_cast<DWORD>(got);
        offset += n;
        return true;
    }
};

bool StartsWithDrive(const std::string& text) {
    return text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':';
}

// The path of a file:// URL: file:///C:/mirror/x.bin, file://server/share/x.bin, and as users
// also write them, file://C:/mirror/x.bin and file:///mirror/x.bin (the current drive).
std::string PathOfFileUrl(const std::string& url) {
    std::string rest = url.substr(7);
    if (rest.size() > 1 && rest[0] == '/' && StartsWithDrive(rest.substr(1)))
        rest.erase(0, 1); // file:///C:/...
    else if (!StartsWithDrive(rest) && (rest.empty() || rest[0] != '/'))
        rest = "//" + rest; // a share
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() &&
            std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
            path += static_cast<char>(std::stoi(rest.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += rest[i] == '/' ? '\\' : rest[i];
        }
    }
    return path;
}

DWORD StatusOf(HINTERNET url) {
    DWORD code = 0;
    DWORD size = sizeof code;
    if (!HttpQueryInfoW(url, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size,
                        nullptr))
        return 0;
    return code;
}

int64_t ContentLengthOf(HINTERNET url) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoW(url, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return -1;
    return _wcstoi64(text, nullptr, 10);
}

std::string LocationOf(HINTERNET url) {
    std::vector<wchar_t> text(4096);
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!HttpQueryInfoW(url, HTTP_QUERY_LOCATION, text.data(), &size, nullptr))
        return {};
    return win::Narrow(text.data());
}

// The target of a redirect: absolute, or relative to the server of the URL it came from.
std::string ResolveLocation(const std::string& from, const std::string& location) {
    if (location.find("://") != std::string::npos)
        return location;
    const size_t host = from.find("://");
    const size_t path = host == std::string::npos ? std::string::npos : from.find('/', host + 3);
    const std::string server = path == std::string::npos ? from : from.substr(0, path);
    return server + (location.empty() || location[0] != '/' ? "/" : "") + location;
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

int DownloadFile(const std::string& url, std::string* reason) {
    std::string unused;
    std::string& why = reason ? *reason : unused;
    why.clear();
    const DownloadOptions options = GetDownloadOptions();
    const uint64_t generation = g_cancelGeneration.load();
    std::vector<uint8_t> buffer(kBufferSize, 0);

    DWORD timeout = kConnectTimeoutMs;
    InternetSetOptionW(nullptr, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);

    if (g_strFirmwarePath.empty())
        InitLocalAppPaths();
    // The Temp folder may have been removed since start-up.
    if (g_strFirmwarePath.empty() || !MakeFolders(TempFolder(), 0700)) {
        why = "the folder " + TempFolder() + " cannot be created";
        return kDownloadFileFailed;
    }
    FileHandle file(CreateTempFile(g_strFirmwarePath));
    if (!file.Ok()) {
        why = "the temp file " + g_strFirmwarePath + " cannot be created (" +
              win::ErrorText(GetLastError()) + ")";
        return kDownloadFileFailed;
    }
    if (!options.caFile.empty()) {
        why = "--ca-file is not used on Windows: the certificate store of Windows decides which "
              "servers are trusted";
        return kDownloadNoInternet;
    }

    InternetHandle internet;
    InternetHandle urlHandle;
    std::unique_ptr<Source> source;
    int64_t expected = -1;
    const bool web = StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
    if (StartsWithNoCase(url, "file://")) {
        auto local = std::make_unique<FileSource>();
        const std::string path = PathOfFileUrl(url);
        if (!local->file.Open(path)) {
            why = "the file " + path + " cannot be opened";
            return kDownloadOpenUrlFailed;
        }
        expected = local->file.Size();
        source = std::move(local);
    } else if (web) {
        internet.Reset(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!internet.Get()) {
            why = "the download could not be set up (" + win::ErrorText(GetLastError()) + ")";
            return kDownloadNoInternet;
        }
        DWORD receive = static_cast<DWORD>(options.stallTimeoutSec * 1000);
        InternetSetOptionW(internet.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive,
                           sizeof receive);
        std::string current = url;
        DWORD status = 0;
        for (int hop = 0;; ++hop) {
            urlHandle.Reset(InternetOpenUrlW(internet.Get(), Widen(current).c_str(), nullptr, 0,
                                             kOpenUrlFlags, 0));
            if (!urlHandle.Get()) {
                const DWORD error = GetLastError();
                if (error == ERROR_INTERNET_INVALID_CA ||
                    error == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
                    error == ERROR_INTERNET_SEC_CERT_DATE_INVALID ||
                    error == ERROR_INTERNET_SEC_INVALID_CERT)
                    why = "the server's certificate is not trusted (" + win::ErrorText(error) + ")";
                else
                    why =
                        "the firmware server could not be reached (" + win::ErrorText(error) + ")";
                return kDownloadOpenUrlFailed;
            }
            status = StatusOf(urlHandle.Get());
            if (!IsRedirect(status))
                break;
            const std::string next = ResolveLocation(current, LocationOf(urlHandle.Get()));
            // An image asked for over https never comes over plain http.
            if (StartsWithNoCase(current, "https://") && !StartsWithNoCase(next, "https://")) {
                why = "the server redirected the https request to " + next;
                return kDownloadOpenUrlFailed;
            }
            if (hop == kMaxRedirects) {
                why = "the server redirected the request more than " +
                      std::to_string(kMaxRedirects) + " times";
                return kDownloadOpenUrlFailed;
            }
            current = next;
        }
        if (status != 200) {
            why = "the server answered with HTTP status " + std::to_string(status) +
                  " instead of the image";
            return kDownloadOpenUrlFailed;
        }
        expected = ContentLengthOf(urlHandle.Get());
        auto remote = std::make_unique<UrlSource>();
        remote->url = urlHandle.Get();
        source = std::move(remote);
    } else {
        why = "the URL is neither https, http nor file";
        return kDownloadOpenUrlFailed;
    }

    uint64_t received = 0;
    for (;;) {
        if (g_cancelGeneration.load() != generation) {
            why = "the download was cancelled";
            return kDownloadReadFailed;
        }
        DWORD n = 0;
        const auto started = std::chrono::steady_clock::now();
        if (!source->Read(buffer.data(), kBufferSize, n)) {
            const DWORD error = GetLastError();
            const auto waited = std::chrono::steady_clock::now() - started;
            if (error == ERROR_INTERNET_TIMEOUT ||
                waited >= std::chrono::seconds(options.stallTimeoutSec))
                why = "no data arrived for " + std::to_string(options.stallTimeoutSec) +
                      " seconds after " + std::to_string(received) + " bytes";
            else
                why = "the transfer broke off after " + std::to_string(received) + " bytes (" +
                      win::ErrorText(error) + ")";
            return kDownloadReadFailed;
        }
        if (n == 0)
            break;
        received += n;
        if (received > kMaxBodyBytes) {
            why = "the answer grew past " + std::to_string(kMaxBodyBytes / 1024) +
                  " KB, far more than any image of this speaker";
            return kDownloadReadFailed;
        }
        if (!WriteAll(file.Get(), buffer.data(), n)) {
            why = "the temp file " + g_strFirmwarePath + " could not be written (" +
                  win::ErrorText(GetLastError()) + ")";
            return kDownloadFileFailed;
        }
    }
    if (!file.Close()) {
        why = "the temp file " + g_strFirmwarePath + " could not be written";
        return kDownloadFileFailed;
    }
    if (expected >= 0 && received < static_cast<uint64_t>(expected)) {
        why = "the answer ended after " + std::to_string(received) + " bytes of the " +
              std::to_string(expected) + " announced";
        return kDownloadReadFailed;
    }
    return kDownloadOk;
}

void CancelDownloads() {
    g_cancelGeneration.fetch_add(1);
}

} // namespace dormane
