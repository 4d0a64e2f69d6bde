// status: attach the speaker and report its firmware version and auto-standby setting.
#include "Engine.h"

#include "Status.h"
#include "UpdateManager.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

struct StatusOptions {
    std::string pid;
};

void RunStatus(const StatusOptions& options, CliContext& ctx) {
    std::unique_ptr<FWUpdateInterface> engine;
    AttachResult attach;
    if (!StartSession(ctx, options.pid, true, false, engine, attach))
        return;
    const bool attached = attach.status == dormane::status::kSuccess;
    uint16_t version = 0;
    int status = attach.status;
    if (attached)
        status = engine->GetFWVersion(&version);
    const UpdateManager* core = engine->Core();
    // A speaker whose EEPROM holds no valid image has no firmware version to show: the word
    // the checks read from it is whatever the broken bytes say.
    const bool damaged = attached && core && core->EepromBroken();
    if (damaged)
        status = dormane::status::kInvalidImage;
    const bool versionRead = attached && status == dormane::status::kSuccess;
    char versionText[8];
    std::snprintf(versionText, sizeof versionText, "%04X", version);

    // What went wrong is a message, for standard error; with --json it is the "error" too.
    if (!attached)
        Complain(ctx, ExplainAttachFailure(attach, core));
    if (ctx.json) {
        nlohmann::json out;
        out["status"] = status;
        out["attached"] = attached;
        out["fwVersion"] = versionRead ? nlohmann::json(versionText) : nlohmann::json(nullptr);
        out["autoStandby"] =
            versionRead ? nlohmann::json(AutoStandbyOf(version)) : nlohmann::json(nullptr);
        out["eepromSize"] = core ? core->EepromSize() : 0;
        out["chipVer"] = core ? core->DeviceImage().ChipVer : 2;
        out["eepromValid"] = attached && core && !core->EepromBroken();
        out["damaged"] = damaged;
        if (!attached)
            out["error"] = ExplainAttachFailure(attach, core);
        else if (damaged)
            out["error"] = DamagedAdvice(ctx, *core);
        if (core && core->LeftJournal())
            out["unfinishedBurn"] = {{"image", core->LeftJournal()->image},
                                     {"started", core->LeftJournal()->started},
                                     {"backup", core->LeftJournal()->backup}};
        out["vid"] = kSpeakerVid;
        out["pid"] = attach.pid;
        out["versionText"] = attach.discoveryRan && !attach.versionText.empty()
                                 ? nlohmann::json(attach.versionText)
                                 : nlohmann::json(nullptr);
        PrintJson(ctx, out);
    } else if (damaged) {
        std::printf("%s\n", DamagedAdvice(ctx, *core).c_str());
    } else if (attached) {
        std::printf("speaker: USB %04X:%04X\n", kSpeakerVid, attach.pid);
        if (versionRead) {
            std::printf("firmware: %s\n", versionText);
            const std::string standby = AutoStandbyOf(version);
            std::printf("auto-standby: %s\n", standby == "enabled"
                                                  ? "enabled (standby after 20 idle minutes)"
                                              : standby == "disabled" ? "disabled (always on)"
                                                                      : "unsupported firmware");
        } else {
            std::printf("firmware: unknown (status %d)\n", status);
        }
        if (attach.discoveryRan && !attach.versionText.empty())
            std::printf("release: %s\n", attach.versionText.c_str());
        std::printf("eeprom size: %u bytes\n", core->EepromSize());
        std::printf("chip revision: %u\n", core->DeviceImage().ChipVer);
        std::printf("eeprom content: %s\n", core->EepromBroken() ? "invalid" : "valid");
    }
    ctx.exitCode = versionRead ? 0 : status;
}

void AddStatus(CLI::App& app, CliContext& ctx) {
    auto options = std::make_shared<StatusOptions>();
    CLI::App* cmd = app.add_subcommand(
        "status", "Find the speaker and show its firmware version and auto-standby setting. "
                  "Exit status: 0 when the version was read, 128 when the firmware is damaged "
                  "(the EEPROM holds no valid image), 5 when another program is using the "
                  "speaker, otherwise 16 or 1.");
    cmd->add_option("--pid", options->pid, "USB product ID to try first (default 0x0082)");
    cmd->callback([options, &ctx] { RunStatus(*options, ctx); });
}

CommandRegistrar registrar(20, &AddStatus);

} // namespace
