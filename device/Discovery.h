#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dormane {

class UsbBackend;
struct UsbDeviceInfo;

// Result of the discovery routines: 1 when the speaker was found, 0 otherwise. The two
// outputs are written only when it was found.
inline constexpr int kSpeakerFound = 1;
inline constexpr int kSpeakerNotFound = 0;

// The hardware-ID prefix of every device of the speaker's maker (vendor ID 0x0D8C).
inline constexpr const char* kSpeakerHardwareIdPrefix = "USB\\VID_0D8C&PID_";

// Searches one hardware-ID list per present audio device, in enumeration order. Only the
// first string of each list counts, compared without regard to case; an empty list stands
// for a device whose IDs could not be read and is skipped. The first match gives the
// product ID (from the 4 characters after the prefix) and the version text (from the 4
// characters of the REV_ field, "v" + major + "." + minor, for example v8.13).
int FindUsbSpeakerInHardwareIds(const std::vector<std::vector<std::string>>& lists, uint16_t& pid,
                                std::string& versionText);

// The hardware-ID list of one enumerated device: a single string
// USB\VID_vvvv&PID_pppp&REV_rrrr (upper-case hex from the device descriptor), or no
// list at all when the device carries no audio interface.
std::vector<std::vector<std::string>> HardwareIdLists(const std::vector<UsbDeviceInfo>& devices);

// The search over the present audio devices of the given backend. 0 when the backend is
// missing, cannot be prepared or cannot list its devices.
int FindUsbSpeakerOn(UsbBackend* backend, uint16_t& pid, std::string& versionText);

// The search over the process-wide USB backend (rmBackend()).
int FindUsbSpeaker(uint16_t& pid, std::string& versionText);

} // namespace dormane
