#pragma once

#include "Clock.h"
#include "UsbBackend.h"

#include <chrono>
#include <cstdint>
#include <functional>

// After a verified burn the speaker starts the new firmware only when it is switched off and
// on. This watches the bus for that power cycle: the speaker going away and coming back, and
// the release number it comes back with, which is the firmware it runs. Toolkit-free, so that
// the command line and the wizard decide alike.
namespace dormane {

// How long both programs wait for the power cycle unless told otherwise.
inline constexpr std::chrono::seconds kDefaultReplugWait(120);

struct ReplugOutcome {
    bool left = false;    // the speaker went off the bus
    bool back = false;    // and came back (device holds it as it came back)
    UsbDeviceInfo device; // as it was seen last
};

// Polls backend (between polls WaitForChange: hotplug where the backend has it) until a
// device of vendor vid with an audio function has gone and come back, until timeout has
// passed on the process-wide clock, or until stop (checked between polls) returns true. A
// speaker seen with a release number other than the one it had at the start was replugged
// between two polls: that counts as back too.
ReplugOutcome WaitForReplug(UsbBackend& backend, uint16_t vid, Clock::Duration timeout,
                            const std::function<bool()>& stop = {});

// The speaker came back running this firmware: the setting burned is in effect.
inline bool ReplugRuns(const ReplugOutcome& outcome, uint16_t fwVersion) {
    return outcome.back && outcome.device.bcdDevice == fwVersion;
}

} // namespace dormane
