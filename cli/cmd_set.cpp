// set enable|disable: download the firmware for the chosen auto-standby setting and burn it.
#include "Engine.h"

#include "Download.h"
#include "Paths.h"
#include "Status.h"
#include "WaitReplug.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

struct SetOptions {
    std::string mode;
    std::string file;
    std::string baseUrl = dormane::kFirmwareBaseUrl;
    std::string caFile;
    std::string pid;
    bool force = false;
    WaitReplugOption waitReplug;
};

void Say(CliContext& ctx, const char* event, const std::string& text) {
    if (ctx.json)
        PrintJson(ctx, nlohmann::json{{"event", event}, {"message", text}});
    else
        std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void RunSet(const SetOptions& options, CliContext& ctx) {
    namespace st = dormane::status;
    const bool enable = options.mode == "enable";
    const uint16_t wanted = enable ? 0x0813 : 0x0803;
    std::optional<unsigned> replugSeconds;
    if (!options.waitReplug.Seconds(replugSeconds)) {
        Complain(ctx, "--wait-replug takes a number of seconds from 1 to 3600");
        ctx.exitCode = kExitUsage;
        return;
    }
    std::unique_ptr<FWUpdateInterface> engine;
    AttachResult attach;
    if (!StartSession(ctx, options.pid, true, false, engine, attach))
        return;
    const UpdateManager& core = *engine->Core();
    uint16_t version = 0;
    const int versionStatus =
        attach.status == st::kSuccess ? engine->GetFWVersion(&version) : attach.status;
    if (versionStatus != st::kSuccess) {
        Complain(ctx, ExplainAttachFailure(attach, &core));
        ctx.exitCode = ExitCodeOf(versionStatus);
        return;
    }
    char text[200];
    // A speaker whose EEPROM holds no valid image (a burn that was cut off) is repaired, not
    // turned away: writing a whole image is the way back.
    const bool damaged = core.EepromBroken();
    const std::string current = AutoStandbyOf(version);
    if (damaged) {
        Say(ctx, "damaged",
            "The speaker's firmware is damaged (its EEPROM holds no valid image); writing a "
            "whole image repairs it.");
    } else if (current == "unsupported") {
        std::snprintf(text, sizeof text,
                      "The speaker runs firmware %04X, which this tool does not support; nothing "
                      "was changed.",
                      version);
        Complain(ctx, text);
        ctx.exitCode = st::kFailure;
        return;
    } else {
        std::snprintf(text, sizeof text, "Auto-standby is %s now (firmware %04X).", current.c_str(),
                      version);
        Say(ctx, "current", text);
    }
    // An unfinished burn may have left an image that reads valid but is not the one asked.
    const bool unfinished = core.LeftJournal().has_value();
    if (!damaged && !unfinished && (current == "enabled") == enable && !options.force) {
        Say(ctx, "unchanged",
            std::string("Auto-standby is already ") + current +
                "; nothing to do (--force writes it again).");
        ctx.exitCode = 0;
        return;
    }

    std::string image = options.file;
    if (image.empty()) {
        dormane::InitLocalAppPaths();
        dormane::DownloadOptions download = dormane::GetDownloadOptions();
        download.baseUrl = options.baseUrl;
        download.caFile = options.caFile;
        dormane::SetDownloadOptions(download);
        const std::string url = dormane::FirmwareUrl(enable, options.baseUrl);
        Say(ctx, "download", "Downloading " + url);
        std::string reason;
        const int code = dormane::DownloadFile(url, &reason);
        if (code != dormane::kDownloadOk) {
            const std::string message = "The download failed: " + reason + " (code " +
                                        std::to_string(code) + "). Nothing was written.";
            Complain(ctx, message);
            if (ctx.json)
                PrintJson(ctx, {{"event", "download-failed"},
                                {"status", kExitDownloadFailed},
                                {"error", message}});
            ctx.exitCode = kExitDownloadFailed;
            return;
        }
        image = dormane::g_strFirmwarePath;
    }
    ctx.exitCode = BurnWithProgress(*engine, image, ctx, wanted);
    if (ctx.exitCode == 0 && replugSeconds)
        ctx.exitCode = ConfirmReplug(*engine, ctx, *replugSeconds, wanted);
}

void AddSet(CLI::App& app, CliContext& ctx) {
    auto options = std::make_shared<SetOptions>();
    CLI::App* cmd = app.add_subcommand(
        "set", "Switch auto-standby on (firmware 8.13: standby after 20 idle minutes) or off "
               "(8.03: always on): download the matching image, verify and burn it. Exit "
               "status: 0 done, 3 burn failed, 4 download failed, 5 speaker busy, 7 not in "
               "effect after --wait-replug, 16 no speaker, 64 the image is not the firmware "
               "for MODE, else the engine's refusal. "
               "A speaker whose firmware is damaged is repaired.");
    cmd->add_option("MODE", options->mode, "enable or disable")
        ->required()
        ->check(CLI::IsMember({"enable", "disable"}));
    cmd->add_option("--file", options->file, "Burn this image file instead of downloading");
    cmd->add_option("--firmware-base-url", options->baseUrl,
                    "Firmware server, mirror or file:// folder (default " +
                        std::string(dormane::kFirmwareBaseUrl) + ")");
    cmd->add_option("--ca-file", options->caFile, "Also trust this CA certificate (PEM)");
    cmd->add_option("--pid", options->pid, "USB product ID to try first (default 0x0082)");
    cmd->add_flag("--force", options->force,
                  "Write the image even when the setting is already the one asked for");
    AddWaitReplugOption(*cmd, options->waitReplug);
    cmd->callback([options, &ctx] { RunSet(*options, ctx); });
}

CommandRegistrar registrar(60, &AddSet);

} // namespace
