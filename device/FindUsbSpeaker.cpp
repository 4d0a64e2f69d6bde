// Kept apart from the rest of discovery so that only callers of the process-wide search
// need the transport linked in.
#include "Discovery.h"

#include "Transport.h"

namespace dormane {

int FindUsbSpeaker(uint16_t& pid, std::string& versionText) {
    return FindUsbSpeakerOn(rmBackend(), pid, versionText);
}

} // namespace dormane
