// The sleep inhibitor on Windows: the thread's execution state keeps the system from
// sleeping for as long as the burn thread holds it.
#include "SleepInhibitor.h"

#include "Status.h"

#include <windows.h>

namespace dormane {

namespace {

class ExecutionStateLock final : public InhibitLock {
public:
    // The state belongs to the thread that set it; the burn takes and releases it on its
    // own thread.
    ~ExecutionStateLock() override { SetThreadExecutionState(ES_CONTINUOUS); }
};

class ExecutionStateInhibitor final : public SleepInhibitor {
public:
    const char* Name() const override { return "execution state"; }
    int Take(const std::string& /*why: Windows shows no reason*/,
             std::unique_ptr<InhibitLock>& lock, std::string& reason) override {
        if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
            reason = "SetThreadExecutionState refused";
            return status::kFailure;
        }
        lock = std::make_unique<ExecutionStateLock>();
        return status::kSuccess;
    }
};

} // namespace

std::shared_ptr<SleepInhibitor> MakeSystemInhibitor() {
    return std::make_shared<ExecutionStateInhibitor>();
}

} // namespace dormane
