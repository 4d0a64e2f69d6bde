// The source of hardware-ID lists: the system's own (SetupAPI's media class on Windows), or
// else the USB backend's enumeration, which stands in for the system's list of present
// sound devices.
#include "Discovery.h"

#include "UsbBackend.h"

#include <cstdio>

namespace dormane {

std::vector<std::vector<std::string>> HardwareIdLists(const std::vector<UsbDeviceInfo>& devices) {
    std::vector<std::vector<std::string>> lists;
    for (const auto& device : devices) {
        // Only devices with an audio function belong to the sound device class. A device
        // whose configuration could not be read lists no interfaces and is left out too.
        if (!device.HasInterfaceClass(kUsbClassAudio))
            continue;
        char id[64];
        std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X&REV_%04X", device.vid, device.pid,
                      device.bcdDevice);
        lists.push_back({id});
    }
    return lists;
}

int FindUsbSpeakerOn(UsbBackend* backend, uint16_t& pid, std::string& versionText) {
    if (backend == nullptr || backend->Init() != UsbResult::Ok)
        return kSpeakerNotFound;
    // Where the system keeps the hardware IDs itself, they are its word.
    std::vector<std::vector<std::string>> systemLists;
    const UsbResult listed = backend->SystemHardwareIdLists(systemLists);
    if (listed == UsbResult::Ok)
        return FindUsbSpeakerInHardwareIds(systemLists, pid, versionText);
    if (listed != UsbResult::NotSupported)
        return kSpeakerNotFound; // the system's device list cannot be opened
    std::vector<UsbDeviceInfo> devices;
    if (backend->Enumerate(devices) != UsbResult::Ok)
        return kSpeakerNotFound;
    return FindUsbSpeakerInHardwareIds(HardwareIdLists(devices), pid, versionText);
}

} // namespace dormane
