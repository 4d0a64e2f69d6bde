// flash FILE: burn a firmware image file into the speaker, with progress and verification.
#include "Engine.h"

#include "Status.h"

#include <cstdio>

namespace {

struct FlashOptions {
    std::string file;
    std::string pid;
};

void RunFlash(const FlashOptions& options, CliContext& ctx) {
    std::unique_ptr<FWUpdateInterface> engine;
    AttachResult attach;
    if (!StartSession(ctx, options.pid, false, true, engine, attach))
        return;
    ctx.exitCode = BurnWithProgress(*engine, options.file, ctx);
}

void AddFlash(CLI::App& app, CliContext& ctx) {
    auto options = std::make_shared<FlashOptions>();
    CLI::App* cmd = app.add_subcommand(
        "flash", "Burn a firmware image file into the speaker, read it back and compare. A "
                 "backup of the speaker's firmware is saved first. Exit status: 0 verified, "
                 "1/32/64/128 refused (nothing written), 3 burn failed, 5 speaker busy, 16 no "
                 "speaker.");
    cmd->add_option("FILE", options->file, "Firmware image file")->required();
    cmd->add_option("--pid", options->pid, "USB product ID (default 0x0082)");
    cmd->callback([options, &ctx] { RunFlash(*options, ctx); });
}

CommandRegistrar registrar(40, &AddFlash);

} // namespace
