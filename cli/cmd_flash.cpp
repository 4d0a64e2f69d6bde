// flash FILE: burn a firmware image file into the speaker, with progress and verification.
#include "Engine.h"

#include "Status.h"
#include "WaitReplug.h"

#include <cstdio>

namespace {

struct FlashOptions {
    std::string file;
    std::string pid;
    WaitReplugOption waitReplug;
};

void RunFlash(const FlashOptions& options, CliContext& ctx) {
    std::optional<unsigned> replugSeconds;
    if (!options.waitReplug.Seconds(replugSeconds)) {
        Complain(ctx, "--wait-replug takes a number of seconds from 1 to 3600");
        ctx.exitCode = kExitUsage;
        return;
    }
    std::unique_ptr<FWUpdateInterface> engine;
    AttachResult attach;
    if (!StartSession(ctx, options.pid, false, true, engine, attach))
        return;
    ctx.exitCode = BurnWithProgress(*engine, options.file, ctx);
    if (ctx.exitCode == 0 && replugSeconds)
        ctx.exitCode =
            ConfirmReplug(*engine, ctx, *replugSeconds, engine->Core()->FileImage().FWVer);
}

void AddFlash(CLI::App& app, CliContext& ctx) {
    auto options = std::make_shared<FlashOptions>();
    CLI::App* cmd = app.add_subcommand(
        "flash", "Burn a firmware image file into the speaker, read it back and compare. A "
                 "backup of the speaker's firmware is saved first. Exit status: 0 verified, "
                 "1/32/64/128 refused (nothing written), 3 burn failed, 5 speaker busy, 7 not in "
                 "effect after --wait-replug, 16 no speaker.");
    cmd->add_option("FILE", options->file, "Firmware image file")->required();
    cmd->add_option("--pid", options->pid, "USB product ID (default 0x0082)");
    AddWaitReplugOption(*cmd, options->waitReplug);
    cmd->callback([options, &ctx] { RunFlash(*options, ctx); });
}

CommandRegistrar registrar(40, &AddFlash);

} // namespace
