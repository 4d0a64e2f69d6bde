#include "Replug.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace dormane {
namespace {

constexpr std::chrono::milliseconds kPollInterval(250);

std::optional<UsbDeviceInfo> FindSpeaker(UsbBackend& backend, uint16_t vid) {
    std::vector<UsbDeviceInfo> devices;
    if (backend.Enumerate(devices) != UsbResult::Ok)
        return std::nullopt; // a stack that cannot list now shows no speaker either
    for (const UsbDeviceInfo& d : devices)
        if (d.vid == vid && d.HasInterfaceClass(kUsbClassAudio))
            return d;
    return std::nullopt;
}

} // namespace

ReplugOutcome WaitForReplug(UsbBackend& backend, uint16_t vid, Clock::Duration timeout,
                            const std::function<bool()>& stop) {
    ReplugOutcome outcome;
    std::shared_ptr<Clock> clock = CurrentClock();
    const Clock::Duration deadline = clock->Now() + timeout;
    std::optional<uint16_t> startRelease;
    for (;;) {
        if (const std::optional<UsbDeviceInfo> found = FindSpeaker(backend, vid)) {
            outcome.device = *found;
            if (!startRelease)
                startRelease = found->bcdDevice;
            if (outcome.left || found->bcdDevice != *startRelease) {
                outcome.back = true;
                return outcome;
            }
        } else {
            outcome.left = true;
        }
        const Clock::Duration now = clock->Now();
        if (now >= deadline || (stop && stop()))
            return outcome;
        backend.WaitForChange(std::min<Clock::Duration>(kPollInterval, deadline - now));
    }
}

} // namespace dormane
