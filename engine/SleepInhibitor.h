#pragma once

#include <memory>
#include <string>

// Keeps the machine awake while the EEPROM is being written: a suspend, shutdown or idle
// action in the middle of a burn would leave the speaker with half an image.
//
// The one backend is systemd-logind's inhibitor lock over D-Bus (engine/inhibit_logind.cpp).
// It talks to the system bus, or to the bus whose address is in the environment variable
// DORMANE_LOGIND_BUS_ADDRESS (a stand-in logind for tests, or "none" to go without).
namespace dormane {

inline constexpr const char* kInhibitWhat = "sleep:shutdown:idle";
inline constexpr const char* kInhibitWho = "Dormane";
inline constexpr const char* kInhibitWhyBurn = "Updating the speaker's firmware";
inline constexpr const char* kInhibitMode = "block";
inline constexpr const char* kLogindBusAddressVariable = "DORMANE_LOGIND_BUS_ADDRESS";

// A lock that is held. Releasing is destruction.
class InhibitLock {
public:
    virtual ~InhibitLock() = default;
};

class SleepInhibitor {
public:
    virtual ~SleepInhibitor() = default;
    virtual const char* Name() const = 0;
    // Takes the lock for kInhibitWhat in kInhibitMode, with why shown to the user by the
    // desktop. Returns 0 with the lock, or 1 with a sentence saying why not. Blocks for at
    // most a few seconds; never throws.
    virtual int Take(const std::string& why, std::unique_ptr<InhibitLock>& lock,
                     std::string& reason) = 0;
};

// The logind backend, on the bus chosen as described above.
std::shared_ptr<SleepInhibitor> MakeLogindInhibitor();

// The platform's own inhibitor: logind on Linux, the thread execution state on Windows
// (engine/inhibit_win32.cpp).
std::shared_ptr<SleepInhibitor> MakeSystemInhibitor();

// The process-wide inhibitor the burn uses; a null one means the platform's own.
void SetSleepInhibitor(std::shared_ptr<SleepInhibitor> inhibitor);
std::shared_ptr<SleepInhibitor> CurrentSleepInhibitor();

// Holds the lock with kInhibitWhyBurn from construction to destruction. Where it cannot be
// taken (no logind: a container, CI, a refusal) the burn goes on without it; both outcomes
// go to the engine log.
class BurnSleepGuard {
public:
    BurnSleepGuard();
    ~BurnSleepGuard();

    BurnSleepGuard(const BurnSleepGuard&) = delete;
    BurnSleepGuard& operator=(const BurnSleepGuard&) = delete;

    bool Held() const { return m_pLock != nullptr; }

private:
    std::unique_ptr<InhibitLock> m_pLock;
};

} // namespace dormane
