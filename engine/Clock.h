#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

// The time base of the transport's waits and of the simulated speaker. Programs run on the
// real monotonic clock; tests and benchmarks install a virtual clock that advances at once
// when someone sleeps on it, so realistic timing runs fast and the same every time.
namespace dormane {

class Clock {
public:
    using Duration = std::chrono::nanoseconds;

    virtual ~Clock() = default;
    // Monotonic time since an arbitrary origin.
    virtual Duration Now() const = 0;
    // Returns when at least d has passed on this clock.
    virtual void SleepFor(Duration d) = 0;
};

// std::chrono::steady_clock; sleeping gives the processor away.
class RealClock final : public Clock {
public:
    Duration Now() const override;
    void SleepFor(Duration d) override;
};

// Time moves only when a thread sleeps on it (or Advance is called), by exactly the amount
// asked for. Safe to use from several threads.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(Duration start = Duration::zero()) : m_nNow(start.count()) {}
    Duration Now() const override { return Duration(m_nNow.load(std::memory_order_acquire)); }
    void SleepFor(Duration d) override { Advance(d); }
    void Advance(Duration d);
    // Total time slept (or advanced) so far; the benchmark reports it.
    Duration Slept() const { return Duration(m_nSlept.load(std::memory_order_acquire)); }

private:
    std::atomic<int64_t> m_nNow;
    std::atomic<int64_t> m_nSlept{0};
};

// The process-wide clock: a RealClock until someone installs another. The returned pointer
// keeps the clock alive even if it is replaced meanwhile.
std::shared_ptr<Clock> CurrentClock();
void SetCurrentClock(std::shared_ptr<Clock> clock);

} // namespace dormane
