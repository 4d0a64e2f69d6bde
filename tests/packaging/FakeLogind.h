#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport {

// A dbus-daemon of the test's own, listening on a socket in a private folder; stopped and
// reaped by the destructor. Address() is empty when it could not be started.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& Address() const { return m_address; }
    const std::string& Folder() const { return m_folder; }

private:
    std::string m_folder;
    std::string m_address;
    pid_t m_pid = -1;
};

struct InhibitCall {
    std::string what, who, why, mode;
};

// Stands in for systemd-logind on a bus: owns org.freedesktop.login1 and answers
// Manager.Inhibit as logind does, with the write end of a pipe whose read end it keeps, so
// that it can tell when the caller has let go of every copy of the lock.
class FakeLogind {
public:
    enum class Answer { Grant, Refuse };

    FakeLogind(const std::string& busAddress, Answer answer);
    ~FakeLogind();
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    bool Ready() const { return m_ready; }
    std::vector<InhibitCall> Calls() const;
    // Locks handed out whose write end is still open somewhere (the caller, or the bus
    // daemon while it passes the descriptor on).
    int HeldLocks() const;
    // Waits, bounded by a generous real-time limit, until no lock is held any more.
    bool WaitUntilAllReleased() const;

private:
    static int OnMessage(sd_bus_message* m, void* userdata, sd_bus_error* error);
    void Run();

    Answer m_answer;
    sd_bus* m_bus = nullptr;
    sd_bus_slot* m_slot = nullptr;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<InhibitCall> m_calls;
    std::vector<int> m_readEnds;
    std::thread m_thread;
};

} // namespace testsupport
