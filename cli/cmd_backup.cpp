// backup FILE: save the speaker's firmware image (or the whole EEPROM) to a file.
#include "Engine.h"

#include "Backup.h"
#include "Status.h"
#include "UpdateManager.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

struct BackupOptions {
    std::string file;
    std::string pid;
    bool full = false;
};

void RunBackup(const BackupOptions& options, CliContext& ctx) {
    namespace st = dormane::status;
    std::unique_ptr<FWUpdateInterface> engine;
    AttachResult attach;
    if (!StartSession(ctx, options.pid, false, true, engine, attach))
        return;
    UpdateManager* core = engine->Core();
    std::unique_ptr<uint8_t[]> whole;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (options.full) {
        if (!core->ReadWholeEeprom(whole, size)) {
            Complain(ctx, "the EEPROM could not be read");
            ctx.exitCode = st::kFailure;
            return;
        }
        data = whole.get();
    } else if (core->EepromBroken() || !core->DeviceImage().Data) {
        Complain(ctx, "the speaker's EEPROM holds no valid firmware image; use --full to save the "
                      "whole EEPROM as it is");
        ctx.exitCode = st::kInvalidImage;
        return;
    } else {
        data = core->DeviceImage().Data.get();
        size = core->DeviceImage().TotalSize;
    }
    // Never replace an existing file: it may be the only copy of an earlier firmware.
    std::string reason;
    if (dormane::backup::WriteNewFile(options.file, data, size, reason) != st::kSuccess) {
        Complain(ctx, reason + " (an existing file is never replaced)");
        ctx.exitCode = st::kFailure;
        return;
    }
    if (ctx.json)
        PrintJson(ctx, nlohmann::json{{"status", 0},
                                      {"file", options.file},
                                      {"bytes", size},
                                      {"full", options.full}});
    else
        std::printf("Saved %u bytes to %s\n", size, options.file.c_str());
    ctx.exitCode = 0;
}

void AddBackup(CLI::App& app, CliContext& ctx) {
    auto options = std::make_shared<BackupOptions>();
    CLI::App* cmd = app.add_subcommand(
        "backup", "Save the speaker's firmware image to FILE (a valid image that flash can "
                  "restore); --full saves the whole EEPROM. An existing FILE is not replaced.");
    cmd->add_option("FILE", options->file, "File to create")->required();
    cmd->add_flag("--full", options->full, "Save the whole EEPROM, not just the image");
    cmd->add_option("--pid", options->pid, "USB product ID (default 0x0082)");
    cmd->callback([options, &ctx] { RunBackup(*options, ctx); });
}

CommandRegistrar registrar(50, &AddBackup);

} // namespace
