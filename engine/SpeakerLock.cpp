// What every platform's speaker lock shares: the lock file's name and its holder's words.
#include "SpeakerLock.h"

#include <cstdint>
#include <cstdio>

namespace dormane {

std::string SpeakerLockHolder::Describe() const {
    if (pid <= 0)
        return "another program";
    return "PID " + std::to_string(pid) + (program.empty() ? "" : " (" + program + ")");
}

std::string KeyDigest(const std::string& key) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace dormane
