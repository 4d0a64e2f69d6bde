// The burn's hold on the machine's sleep, over whichever inhibitor the platform has.
#include "SleepInhibitor.h"

#include "Log.h"
#include "Status.h"

#include <mutex>

namespace dormane {

namespace {

std::mutex g_inhibitorMutex;
std::shared_ptr<SleepInhibitor> g_inhibitor;

} // namespace

void SetSleepInhibitor(std::shared_ptr<SleepInhibitor> inhibitor) {
    std::lock_guard<std::mutex> lock(g_inhibitorMutex);
    g_inhibitor = std::move(inhibitor);
}

std::shared_ptr<SleepInhibitor> CurrentSleepInhibitor() {
    std::lock_guard<std::mutex> lock(g_inhibitorMutex);
    if (!g_inhibitor)
        g_inhibitor = MakeSystemInhibitor();
    return g_inhibitor;
}

BurnSleepGuard::BurnSleepGuard() {
    const std::shared_ptr<SleepInhibitor> inhibitor = CurrentSleepInhibitor();
    std::string reason;
    int result = inhibitor->Take(kInhibitWhyBurn, m_pLock, reason);
    if (result == status::kSuccess && !m_pLock) {
        result = status::kFailure;
        reason = "no lock was handed back";
    }
    // Notes, not an operation's result: the burn goes on either way.
    if (result == status::kSuccess)
        WriteLog("SleepInhibitor::Take note: %s lock \"%s\" held while the burn runs",
                 inhibitor->Name(), kInhibitWhat);
    else
        WriteLog("SleepInhibitor::Take note: no %s lock, the burn goes on without it: %s",
                 inhibitor->Name(), reason.c_str());
}

BurnSleepGuard::~BurnSleepGuard() {
    if (!m_pLock)
        return;
    m_pLock.reset();
    WriteLog("SleepInhibitor::Release note: lock released");
}

} // namespace dormane
