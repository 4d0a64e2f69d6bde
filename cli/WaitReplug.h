#pragma once

#include "Command.h"

#include "Replug.h"

#include <cstdint>
#include <string>

class FWUpdateInterface;

// --wait-replug[=SECONDS] of set and flash: the option, and what it does after a verified
// burn: waits for the power cycle, attaches the speaker again and says which setting is in
// effect now, or that the speaker still runs the old firmware.
inline constexpr unsigned kDefaultReplugSeconds =
    static_cast<unsigned>(dormane::kDefaultReplugWait.count());

struct WaitReplugOption {
    CLI::Option* option = nullptr;
    std::string value;
    // Seconds to wait; nothing when the option was not given. False when its value is bad.
    bool Seconds(std::optional<unsigned>& seconds) const;
};

void AddWaitReplugOption(CLI::App& command, WaitReplugOption& option);

// Returns the exit status: 0 when the speaker came back running fwVersion, 7 otherwise.
int ConfirmReplug(FWUpdateInterface& engine, CliContext& ctx, unsigned seconds, uint16_t fwVersion);
