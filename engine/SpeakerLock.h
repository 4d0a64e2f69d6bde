#pragma once

#include <memory>
#include <string>

// One burn at a time per speaker, across processes and users: an exclusive advisory lock on
// a file named after the speaker, which the kernel drops when the holder dies. Everything
// that may write the EEPROM holds it (the attach's size detection, a burn to the end of its
// read-back). One backend per platform: flock(2) (engine/speakerlock_posix.cpp), a lock
// file opened without write sharing on Windows (engine/speakerlock_win32.cpp).
namespace dormane {

// How long a second process waits for the speaker before it refuses.
inline constexpr int kSpeakerLockWaitMs = 3000;
// Names another folder for the lock files (tests); otherwise /run/lock, falling back to
// $XDG_RUNTIME_DIR and then the system temp folder (on Windows, the Windows folder's Temp).
inline constexpr const char* kLockFolderVariable = "DORMANE_LOCK_DIR";

// Who holds a speaker, as its lock file tells (pid 0 when it does not).
struct SpeakerLockHolder {
    long pid = 0;
    std::string program;
    // "PID 1234 (dormane-cli)", or "another program" when the file does not tell.
    std::string Describe() const;
};

// A lock that is held. Releasing is destruction.
class SpeakerLock {
public:
    virtual ~SpeakerLock() = default;
};

enum class LockResult { Taken, Busy, Failed };

// Takes the lock for key (a device's UsbDeviceInfo::lockKey), waiting up to waitMs for a
// holder to let go. Busy fills holder; Failed fills reason (the lock file cannot be used).
LockResult TakeSpeakerLock(const std::string& key, int waitMs, std::unique_ptr<SpeakerLock>& lock,
                           SpeakerLockHolder& holder, std::string& reason);

std::string SpeakerLockFolder();
std::string SpeakerLockPath(const std::string& key);

// A short, stable hexadecimal name for a key that may be a long path (FNV-1a, 64 bits).
std::string KeyDigest(const std::string& key);

} // namespace dormane
