#include "Clock.h"

#include <mutex>
#include <thread>

namespace dormane {

Clock::Duration RealClock::Now() const {
    return std::chrono::duration_cast<Duration>(
        std::chrono::steady_clock::now().time_since_epoch());
}

void RealClock::SleepFor(Duration d) {
    if (d > Duration::zero())
        std::this_thread::sleep_for(d);
}

void VirtualClock::Advance(Duration d) {
    if (d <= Duration::zero())
        return;
    m_nNow.fetch_add(d.count(), std::memory_order_acq_rel);
    m_nSlept.fetch_add(d.count(), std::memory_order_acq_rel);
}

namespace {

struct ClockSlot {
    std::mutex lock;
    std::shared_ptr<Clock> clock = std::make_shared<RealClock>();
};

ClockSlot& Slot() {
    static ClockSlot slot;
    return slot;
}

} // namespace

std::shared_ptr<Clock> CurrentClock() {
    ClockSlot& slot = Slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    return slot.clock;
}

void SetCurrentClock(std::shared_ptr<Clock> clock) {
    if (!clock)
        clock = std::make_shared<RealClock>();
    ClockSlot& slot = Slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.clock = std::move(clock);
}

} // namespace dormane
