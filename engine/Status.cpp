#include "Status.h"

namespace dormane::status {

const char* Describe(int code) {
    switch (code) {
    case kSuccess:
        return "success";
    case kFailure:
        return "general failure";
    case kNoDevice:
        return "no speaker attached, or it could not be identified";
    case kFileOpenFailed:
        return "the firmware file cannot be opened";
    case kIncompatible:
        return "the firmware image does not belong to this speaker";
    case kInvalidImage:
        return "the firmware image is invalid";
    case kSpeakerBusy:
        return "the speaker is busy with another program";
    case kBurnIdle:
        return "idle";
    case kBurnRunning:
        return "burning";
    case kBurnVerified:
        return "burned and verified";
    case kBurnFailed:
        return "burn failed";
    default:
        return "unknown status";
    }
}

} // namespace dormane::status
