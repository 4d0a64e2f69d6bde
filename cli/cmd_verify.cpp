// verify FILE: reads a firmware image file and reports its record and status; no speaker needed.
#include "Command.h"

#include "FWUpdateInterface.h"
#include "Status.h"
#include "UpdateManager.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

struct VerifyOptions {
    std::string file;
};

const char* VerifyMeaning(int status) {
    switch (status) {
    case dormane::status::kSuccess:
        return "valid firmware image";
    case dormane::status::kFailure:
        return "no file given, or not enough memory for the image";
    case dormane::status::kFileOpenFailed:
        return "the file cannot be opened";
    case dormane::status::kInvalidImage:
        return "invalid image (magic word, configuration list, checksum or extension block)";
    default:
        return dormane::status::Describe(status);
    }
}

void RunVerify(const VerifyOptions& options, CliContext& ctx) {
    // The facade's constructor applies the log switches, so verify logs like the wizard does.
    FWUpdateInterface facade;
    UpdateManager reader;
    FWInfo info;
    const int status = reader.ReadFWInfoFile(options.file.c_str(), &info);

    if (ctx.json) {
        nlohmann::json out = {
            {"status", status},
            {"TotalSize", info.TotalSize},
            {"ImageStart", info.ImageStart},
            {"ImageSize", info.ImageSize},
            {"CHIP", info.CHIP},
            {"VID", info.VID},
            {"PID", info.PID},
            {"ChipVer", info.ChipVer},
            {"FWVer", info.FWVer},
            {"InfoCheckSum", info.InfoCheckSum},
        };
        PrintJson(ctx, out);
    } else {
        std::printf("TotalSize: 0x%X (%u bytes)\n", info.TotalSize, info.TotalSize);
        std::printf("ImageStart: 0x%X\n", info.ImageStart);
        std::printf("ImageSize: 0x%X\n", info.ImageSize);
        std::printf("CHIP: 0x%04X\n", info.CHIP);
        std::printf("VID: 0x%04X\n", info.VID);
        std::printf("PID: 0x%04X\n", info.PID);
        std::printf("ChipVer: %u\n", info.ChipVer);
        std::printf("FWVer: %04X\n", info.FWVer);
        std::printf("InfoCheckSum: 0x%02X\n", info.InfoCheckSum);
        std::printf("status: %d (%s)\n", status, VerifyMeaning(status));
    }
    ctx.exitCode = status;
}

void AddVerify(CLI::App& app, CliContext& ctx) {
    auto options = std::make_shared<VerifyOptions>();
    CLI::App* cmd = app.add_subcommand(
        "verify", "Check a firmware image file (magic word, configuration, checksum, extension "
                  "block) and print its record. Exit status: 0 valid, 1, 32 or 128 otherwise.");
    cmd->add_option("FILE", options->file, "Firmware image file")->required();
    cmd->callback([options, &ctx] { RunVerify(*options, ctx); });
}

CommandRegistrar registrar(10, &AddVerify);

} // namespace
