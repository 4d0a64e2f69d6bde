// The sleep inhibitor over systemd-logind's D-Bus interface (sd-bus from libsystemd).
#include "SleepInhibitor.h"

#include "Log.h"
#include "Status.h"

#include <systemd/sd-bus.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace dormane {

namespace {

constexpr const char* kLogindService = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
// logind answers at once when it runs; a hung bus must not hold the burn up for long.
constexpr uint64_t kCallTimeoutUs = 5 * 1000 * 1000;

struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

class BusError {
public:
    BusError() = default;
    ~BusError() { sd_bus_error_free(&m_error); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;

    sd_bus_error* get() { return &m_error; }
    bool Is(const char* name) const { return sd_bus_error_has_name(&m_error, name); }
    std::string Text() const {
        std::string text = m_error.name ? m_error.name : "unknown error";
        if (m_error.message && *m_error.message)
            text += std::string(": ") + m_error.message;
        return text;
    }

private:
    sd_bus_error m_error = SD_BUS_ERROR_NULL;
};

std::string ErrnoText(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

// The lock is the write end of a pipe that logind watches: closing our copy releases it.
class FdLock final : public InhibitLock {
public:
    explicit FdLock(int fd) : m_fd(fd) {}
    ~FdLock() override { close(m_fd); }
    FdLock(const FdLock&) = delete;
    FdLock& operator=(const FdLock&) = delete;

private:
    int m_fd;
};

// The system bus, or the bus DORMANE_LOGIND_BUS_ADDRESS names. A connection of our own, not
// the thread's default one: the burn thread closes it as soon as it has the lock.
int OpenBus(BusPtr& out, std::string& reason) {
    const char* address = std::getenv(kLogindBusAddressVariable);
    sd_bus* raw = nullptr;
    int r;
    if (address && *address) {
        if (std::strcmp(address, "none") == 0) {
            reason = std::string(kLogindBusAddressVariable) + " is \"none\"";
            return status::kFailure;
        }
        r = sd_bus_new(&raw);
        out.reset(raw);
        if (r >= 0)
            r = sd_bus_set_address(raw, address);
        if (r >= 0)
            r = sd_bus_set_bus_client(raw, 1);
        if (r >= 0)
            r = sd_bus_start(raw);
    } else {
        r = sd_bus_open_system(&raw);
        out.reset(raw);
    }
    if (r < 0) {
        out.reset();
        reason = "the system bus cannot be reached (" + ErrnoText(r) + ")";
        return status::kFailure;
    }
    return status::kSuccess;
}

class LogindInhibitor final : public SleepInhibitor {
public:
    const char* Name() const override { return "logind"; }

    int Take(const std::string& why, std::unique_ptr<InhibitLock>& lock,
             std::string& reason) override {
        lock.reset();
        BusPtr bus;
        if (OpenBus(bus, reason) != status::kSuccess)
            return status::kFailure;
        sd_bus_set_method_call_timeout(bus.get(), kCallTimeoutUs);

        BusError error;
        sd_bus_message* rawReply = nullptr;
        const int r = sd_bus_call_method(bus.get(), kLogindService, kLogindPath, kLogindManager,
                                         "Inhibit", error.get(), &rawReply, "ssss", kInhibitWhat,
                                         kInhibitWho, why.c_str(), kInhibitMode);
        MessagePtr reply(rawReply);
        if (r < 0) {
            if (error.Is(SD_BUS_ERROR_SERVICE_UNKNOWN) || error.Is(SD_BUS_ERROR_NAME_HAS_NO_OWNER))
                reason = "logind is not running on the bus";
            else if (sd_bus_error_is_set(error.get()))
                reason = "logind refused the lock (" + error.Text() + ")";
            else
                reason = "the call to logind failed (" + ErrnoText(r) + ")";
            return status::kFailure;
        }
        int fd = -1;
        if (sd_bus_message_read(reply.get(), "h", &fd) < 0 || fd < 0) {
            reason = "logind's answer carried no lock";
            return status::kFailure;
        }
        // The descriptor belongs to the reply, which goes away here.
        const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (own < 0) {
            reason = "the lock could not be kept (" + ErrnoText(-errno) + ")";
            return status::kFailure;
        }
        lock = std::make_unique<FdLock>(own);
        return status::kSuccess;
    }
};

} // namespace

std::shared_ptr<SleepInhibitor> MakeLogindInhibitor() {
    return std::make_shared<LogindInhibitor>();
}

std::shared_ptr<SleepInhibitor> MakeSystemInhibitor() {
    return MakeLogindInhibitor();
}

} // namespace dormane
