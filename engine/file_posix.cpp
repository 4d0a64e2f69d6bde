#include "FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

namespace dormane::files {

const char kPathSeparator = '/';

namespace {

constexpr int kQuietOpen = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

int Fd(intptr_t handle) {
    return static_cast<int>(handle);
}

// Opens without blocking (a FIFO planted at the path cannot hang the program) and keeps
// only a regular file.
int OpenRegular(const std::string& path, int flags, mode_t mode = 0) {
    const int fd = open(path.c_str(), flags | kQuietOpen, mode);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

RandomAccessFile::~RandomAccessFile() {
    Close();
}

bool RandomAccessFile::Open(const std::string& path, bool forWriting) {
    Close();
    m_handle = OpenRegular(path, forWriting ? O_RDWR : O_RDONLY);
    return m_handle >= 0;
}

bool RandomAccessFile::OpenOrCreate(const std::string& path, bool& created) {
    Close();
    created = false;
    int fd = OpenRegular(path, O_RDWR);
    if (fd < 0 && errno == ENOENT) {
        fd = OpenRegular(path, O_RDWR | O_CREAT | O_EXCL, 0644);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST)
            fd = OpenRegular(path, O_RDWR);
    }
    m_handle = fd;
    return fd >= 0;
}

void RandomAccessFile::Close() {
    if (m_handle >= 0)
        close(Fd(m_handle));
    m_handle = -1;
}

bool RandomAccessFile::IsOpen() const {
    return m_handle >= 0;
}

int64_t RandomAccessFile::Size() const {
    struct stat st {};
    if (m_handle < 0 || fstat(Fd(m_handle), &st) != 0)
        return -1;
    return st.st_size;
}

int64_t RandomAccessFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            pread(Fd(m_handle), bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool RandomAccessFile::WriteAt(uint64_t offset, const void* data, size_t size) const {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            pwrite(Fd(m_handle), bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool AppendToOwnFile(const std::string& path, const std::string& text) {
    const int fd = OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && st.st_uid == geteuid();
    ok = ok && WriteAll(fd, text.data(), text.size());
    close(fd);
    return ok;
}

bool CreateNewFile(const std::string& path, const uint8_t* data, size_t size, std::string& reason) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        reason = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!WriteAll(fd, data, size) || fsync(fd) != 0) {
        reason = "cannot write " + path + ": " + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return false;
    }
    if (close(fd) != 0) {
        reason = "cannot write " + path + ": " + std::strerror(errno);
        unlink(path.c_str());
        return false;
    }
    return true;
}

bool CreateEmptyFileIfMissing(const std::string& path) {
    // An existing file, a link to one (a dotfile manager's) or a read-only one is left alone.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return errno == EEXIST;
    close(fd);
    return true;
}

bool MakePrivateFolders(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '/')
            continue;
        const std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool IsOwnRegularFile(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& reason) {
    if (rename(from.c_str(), to.c_str()) == 0)
        return true;
    reason = "cannot rename " + from + " to " + to + ": " + std::strerror(errno);
    return false;
}

std::string CanonicalPath(const std::string& path) {
    char* canonical = realpath(path.c_str(), nullptr);
    if (!canonical)
        return {};
    std::string result = canonical;
    std::free(canonical);
    return result;
}

std::string LastErrorText() {
    return std::strerror(errno);
}

int CurrentProcessId() {
    return static_cast<int>(getpid());
}

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

} // namespace dormane::files
