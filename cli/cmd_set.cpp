// set enable|disable: download the firmware for the chosen auto-standby setting and burn it.
#include "Engine.h"

#include "Download.h"
#include "Paths.h"
#include "Status.h"

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
};

void Say(const CliContext& ctx, const char* event, const std::string& text) {
    if (ctx.json)
        std::printf("%s\n", nlohmann::json{{"event", event}, {"message", text}}.dump().c_str());
    else
        std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void RunSet(const SetOptions& options, CliContext& ctx) {
    namespace st = dormane::status;
    const bool enable = options.mode == "enable";
    std::unique_ptr<FWUpdateInterface> engine;
    AttachResult attach;
    if (!StartSession(ctx, options.pid, true, false, engine, attach))
        return;
    uint16_t version = 0;
    const int versionStatus =
        attach.status == st::kSuccess ? engine->GetFWVersion(&version) : attach.status;
    if (versionStatus != st::kSuccess) {
        std::fprintf(stderr, "dormane-cli: %s\n", ExplainAttachFailure(attach).c_str());
        ctx.exitCode = versionStatus;
        return;
    }
    const std::string current = AutoStandbyOf(version);
    char text[160];
    if (current == "unsupported") {
        std::snprintf(text, sizeof text,
                      "The speaker runs firmware %04X, which this tool does not support; nothing "
                      "was changed.",
                      version);
        Say(ctx, "refused", text);
        ctx.exitCode = st::kFailure;
        return;
    }
    std::snprintf(text, sizeof text, "Auto-standby is %s now (firmware %04X).", current.c_str(),
                  version);
    Say(ctx, "current", text);
    if ((current == "enabled") == enable && !options.force) {
        Say(ctx, "unchanged",
            std::string("Auto-standby is already ") + current +
                "; nothing to do (--force writes it again).");
        ctx.exitCode = 0;
        return;
    }

    std::string image = options.file;
    if (image.empty()) {
        dormane::InitLocalAppPaths();
        dormane::SetDownloadOptions({options.baseUrl, options.caFile});
        const std::string url = dormane::FirmwareUrl(enable, options.baseUrl);
        Say(ctx, "download", "Downloading " + url);
        const int code = dormane::DownloadFile(url);
        if (code != dormane::kDownloadOk) {
            std::snprintf(text, sizeof text, "The download failed: %s (code %d).",
                          dormane::DescribeDownloadResult(code), code);
            Say(ctx, "download-failed", text);
            ctx.exitCode = kExitDownloadFailed;
            return;
        }
        image = dormane::g_strFirmwarePath;
    }
    ctx.exitCode = BurnWithProgress(*engine, image, ctx);
}

void AddSet(CLI::App& app, CliContext& ctx) {
    auto options = std::make_shared<SetOptions>();
    CLI::App* cmd = app.add_subcommand(
        "set", "Switch auto-standby on (firmware 8.13: standby after 20 idle minutes) or off "
               "(8.03: always on): download the matching image, verify and burn it. Exit "
               "status: 0 done, 3 burn failed, 4 download failed, 16 no speaker, else the "
               "engine's refusal.");
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
    cmd->callback([options, &ctx] { RunSet(*options, ctx); });
}

CommandRegistrar registrar(60, &AddSet);

} // namespace
