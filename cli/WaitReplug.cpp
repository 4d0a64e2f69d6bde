#include "WaitReplug.h"

#include "Engine.h"

#include "Replug.h"
#include "Status.h"
#include "Transport.h"

#include <cstdio>

namespace {

void Say(CliContext& ctx, const nlohmann::json& event, const std::string& text) {
    if (ctx.json) {
        nlohmann::json line = event;
        line["message"] = text;
        PrintJson(ctx, line);
    } else {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
}

} // namespace

bool WaitReplugOption::Seconds(std::optional<unsigned>& seconds) const {
    seconds.reset();
    if (!option || option->count() == 0)
        return true;
    uint64_t n = 0;
    if (!ParseUnsigned(value, n) || n == 0 || n > 3600)
        return false;
    seconds = static_cast<unsigned>(n);
    return true;
}

void AddWaitReplugOption(CLI::App& command, WaitReplugOption& option) {
    option.option = command.add_flag(
        "--wait-replug{" + std::to_string(kDefaultReplugSeconds) + "}", option.value,
        "After a verified burn, wait up to SECONDS (default " +
            std::to_string(kDefaultReplugSeconds) +
            ") for the speaker to be switched off and on, attach it again and say which "
            "setting is in effect (write it as --wait-replug=SECONDS). Exit status 7 when it "
            "does not come back running the new firmware");
}

int ConfirmReplug(FWUpdateInterface& engine, CliContext& ctx, unsigned seconds,
                  uint16_t fwVersion) {
    namespace st = dormane::status;
    Say(ctx, {{"event", "waiting"}, {"seconds", seconds}},
        "Waiting up to " + std::to_string(seconds) +
            " seconds for the speaker to be switched off and on again.");
    // The device the burn used goes away with the power cycle; the attach below opens the
    // one that comes back.
    engine.DetachDevice();
    const dormane::ReplugOutcome outcome =
        dormane::WaitForReplug(*rmBackend(), kSpeakerVid, std::chrono::seconds(seconds));
    nlohmann::json event{{"event", "replug"},  {"left", outcome.left}, {"back", outcome.back},
                         {"running", nullptr}, {"eeprom", nullptr},    {"setting", nullptr},
                         {"inEffect", false}};
    if (!outcome.back) {
        event["status"] = kExitNotInEffect;
        const std::string text =
            outcome.left
                ? "The speaker went off the bus and did not come back within " +
                      std::to_string(seconds) +
                      " seconds. Switch it on and run: " + CommandLine(ctx, "status")
                : "The speaker was not switched off and on within " + std::to_string(seconds) +
                      " seconds; it starts " + SettingOf(fwVersion) + " when it is.";
        Say(ctx, event, text);
        return kExitNotInEffect;
    }
    const uint16_t running = outcome.device.bcdDevice;
    event["running"] = Hex4(running);
    event["setting"] = SettingOf(running);
    // Attached again, as status does, to read what its EEPROM holds now.
    const AttachResult attach = AttachSpeaker(engine, outcome.device.pid, true);
    uint16_t stored = 0;
    const bool read = attach.status == st::kSuccess && engine.GetFWVersion(&stored) == 0;
    if (read)
        event["eeprom"] = Hex4(stored);
    const bool inEffect = running == fwVersion;
    event["inEffect"] = inEffect;
    event["status"] = inEffect ? 0 : kExitNotInEffect;
    if (inEffect) {
        Say(ctx, event,
            "The speaker is back and runs firmware " + Hex4(running) + ": " + SettingOf(running) +
                " is in effect.");
        return 0;
    }
    Say(ctx, event,
        "The speaker is back, but it still runs firmware " + Hex4(running) + " (" +
            SettingOf(running) + ")" +
            (read ? "; its EEPROM holds " + Hex4(stored) : std::string()) +
            ". Switch it off and on again; if it keeps the old firmware, run: " +
            CommandLine(ctx, "doctor"));
    return kExitNotInEffect;
}
