// The speaker lock on POSIX: flock(2) on a file in a folder every local user can write.
#include "SpeakerLock.h"

#include "Settings.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <thread>

namespace dormane {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);

class FlockLock final : public SpeakerLock {
public:
    explicit FlockLock(int fd) : m_fd(fd) {}
    ~FlockLock() override {
        // Emptied first, so that a reader never names a holder that has gone. The file stays:
        // removing it would let a waiter lock a name that no longer exists.
        const bool emptied = ftruncate(m_fd, 0) == 0;
        (void)emptied;
        close(m_fd);
    }
    FlockLock(const FlockLock&) = delete;
    FlockLock& operator=(const FlockLock&) = delete;

private:
    int m_fd;
};

bool WritableFolder(const char* path) {
    struct stat st {};
    return path && *path == '/' && stat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
           access(path, W_OK | X_OK) == 0;
}

// Opens the lock file for reading and writing. An existing file is opened without O_CREAT, as
// sticky shared folders refuse O_CREAT on another user's file; a new one is readable and
// writable by every user, so that the next user can lock it too. Non-blocking, so that a
// FIFO planted at the name cannot hang the open.
int OpenLockFile(const std::string& path, std::string& reason) {
    constexpr int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = open(path.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
        if (fd >= 0)
            fchmod(fd, 0666); // the umask must not keep other users out
        else if (errno == EEXIST)
            fd = open(path.c_str(), flags); // another process made it in between
    }
    if (fd < 0) {
        reason = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        reason = "the lock file " + path + " is not a regular file";
        return -1;
    }
    return fd;
}

SpeakerLockHolder ReadHolder(int fd) {
    SpeakerLockHolder holder;
    char text[256] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return holder;
    char program[128] = {};
    long pid = 0;
    if (std::sscanf(text, "%ld %127s", &pid, program) >= 1 && pid > 0) {
        holder.pid = pid;
        holder.program = program;
    }
    return holder;
}

// Best effort: a lock whose file names nobody still excludes.
bool WriteHolder(int fd) {
    char text[256];
    const int n = std::snprintf(text, sizeof text, "%ld %s\n", static_cast<long>(getpid()),
                                program_invocation_short_name);
    return ftruncate(fd, 0) == 0 && n > 0 && pwrite(fd, text, static_cast<size_t>(n), 0) == n;
}

} // namespace

std::string SpeakerLockFolder() {
    if (const char* folder = std::getenv(kLockFolderVariable); folder && *folder)
        return folder;
    if (WritableFolder("/run/lock"))
        return "/run/lock";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); WritableFolder(runtime))
        return runtime;
    return settings::SystemTempFolder();
}

std::string SpeakerLockPath(const std::string& key) {
    return SpeakerLockFolder() + "/dormane-speaker-" + KeyDigest(key) + ".lock";
}

LockResult TakeSpeakerLock(const std::string& key, int waitMs, std::unique_ptr<SpeakerLock>& lock,
                           SpeakerLockHolder& holder, std::string& reason) {
    lock.reset();
    const std::string path = SpeakerLockPath(key);
    const int fd = OpenLockFile(path, reason);
    if (fd < 0)
        return LockResult::Failed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            WriteHolder(fd);
            lock = std::make_unique<FlockLock>(fd);
            return LockResult::Taken;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            reason = "cannot lock " + path + ": " + std::strerror(errno);
            close(fd);
            return LockResult::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(kPollInterval);
    }
    holder = ReadHolder(fd);
    close(fd);
    return LockResult::Busy;
}

} // namespace dormane
