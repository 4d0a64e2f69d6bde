// The speaker lock on Windows: the lock file opened for writing without write sharing, so
// that a second writer's open fails until the holder closes it or dies.
#include "SpeakerLock.h"

#include "FileSystem.h"
#include "Settings.h"
#include "WinText.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace dormane {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);

class FileLock final : public SpeakerLock {
public:
    explicit FileLock(HANDLE file) : m_file(file) {}
    ~FileLock() override {
        // Emptied first, so that a reader never names a holder that has gone.
        SetFilePointer(m_file, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(m_file);
        CloseHandle(m_file);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    HANDLE m_file;
};

std::string ProgramName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string name = files::BaseName(win::Narrow(path));
    if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0)
        name.resize(name.size() - 4);
    return name;
}

SpeakerLockHolder ReadHolder(const std::string& path) {
    SpeakerLockHolder holder;
    std::string text;
    if (!files::ReadSmallFile(path, 255, text))
        return holder;
    char program[128] = {};
    long pid = 0;
    if (std::sscanf(text.c_str(), "%ld %127s", &pid, program) >= 1 && pid > 0) {
        holder.pid = pid;
        holder.program = program;
    }
    return holder;
}

} // namespace

std::string SpeakerLockFolder() {
    if (const char* folder = std::getenv(kLockFolderVariable); folder && *folder)
        return folder;
    return settings::SystemTempFolder();
}

std::string SpeakerLockPath(const std::string& key) {
    return files::JoinPath(SpeakerLockFolder(), "dormane-speaker-" + KeyDigest(key) + ".lock");
}

LockResult TakeSpeakerLock(const std::string& key, int waitMs, std::unique_ptr<SpeakerLock>& lock,
                           SpeakerLockHolder& holder, std::string& reason) {
    lock.reset();
    const std::string path = SpeakerLockPath(key);
    const std::wstring widePath = win::Widen(path);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const HANDLE file =
            CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            if (GetFileType(file) != FILE_TYPE_DISK) {
                CloseHandle(file);
                reason = "the lock file " + path + " is not a regular file";
                return LockResult::Failed;
            }
            char text[256];
            const int n =
                std::snprintf(text, sizeof text, "%ld %s\n",
                              static_cast<long>(GetCurrentProcessId()), ProgramName().c_str());
            DWORD written = 0;
            // Best effort: a lock whose file names nobody still excludes.
            if (SetEndOfFile(file) && n > 0)
                WriteFile(file, text, static_cast<DWORD>(n), &written, nullptr);
            lock = std::make_unique<FileLock>(file);
            return LockResult::Taken;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
            reason = "cannot open the lock file " + path + ": " + win::ErrorText(error);
            return LockResult::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(kPollInterval);
    }
    holder = ReadHolder(path);
    return LockResult::Busy;
}

} // namespace dormane
