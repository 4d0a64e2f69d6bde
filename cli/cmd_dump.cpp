// dump OFFSET COUNT: reads EEPROM bytes through the transport and lists them in hex, for
// support cases and to watch the transport work (with --trace).
#include "Engine.h"

#include "Transport.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kMaxCount = 0x10000;

struct DumpOptions {
    std::string offset;
    std::string count;
    std::string eepromSize;
    std::string pid;
};

std::string LowerHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

// 16 bytes a line: position, the bytes, and the printable ones as text.
void PrintListing(uint32_t offset, const std::vector<uint8_t>& bytes) {
    for (size_t line = 0; line < bytes.size(); line += 16) {
        std::printf("%08X ", static_cast<unsigned>(offset + line));
        std::string text;
        for (size_t i = line; i < line + 16; ++i) {
            if (i < bytes.size()) {
                std::printf(" %02X", bytes[i]);
                text += std::isprint(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
            } else {
                std::printf("   ");
            }
        }
        std::printf("  |%s|\n", text.c_str());
    }
}

bool Usage(CliContext& ctx, const char* message) {
    Complain(ctx, message);
    ctx.exitCode = kExitUsage;
    return false;
}

void RunDump(const DumpOptions& options, CliContext& ctx) {
    uint64_t offset = 0, count = 0, pid = kSpeakerDefaultPid, size = 0;
    if (!ParseUnsigned(options.offset, offset) || offset > 0xFFFFFFFFu) {
        Usage(ctx, "OFFSET takes a position such as 0 or 0x3F00");
        return;
    }
    if (!ParseUnsigned(options.count, count) || count == 0 || count > kMaxCount) {
        Usage(ctx, "COUNT takes a byte count from 1 to 65536 (decimal or 0x-prefixed hex)");
        return;
    }
    if (!options.pid.empty() && (!ParseUnsigned(options.pid, pid) || pid > 0xFFFF)) {
        Usage(ctx, "--pid takes a product ID such as 0x0082");
        return;
    }
    if (!options.eepromSize.empty() &&
        (!ParseUnsigned(options.eepromSize, size) || size > 0xFFFFFFFFu)) {
        Usage(ctx, "--eeprom-size takes a size in bytes such as 16384 or 0x4000");
        return;
    }
    if (int r = PrepareBackend(ctx); r != 0) {
        ctx.exitCode = r;
        return;
    }
    if (rmInitialize() == 0) {
        Complain(ctx, std::string("the USB subsystem could not be initialised (") +
                          dormane::UsbResultName(rmLastError()) +
                          "); is USB available on this machine?");
        ctx.exitCode = 1;
        return;
    }
    if (rmDeviceStart(kSpeakerVid, static_cast<uint16_t>(pid)) == 0) {
        AttachResult attach;
        attach.pid = static_cast<uint16_t>(pid);
        Complain(ctx, ExplainAttachFailure(attach));
        ctx.exitCode = 16;
        return;
    }
    if (!options.eepromSize.empty())
        rmSetEepromSize(static_cast<uint32_t>(size));

    std::vector<uint8_t> bytes(count);
    const bool ok = rmEepromAccess(0, static_cast<uint32_t>(offset), bytes.data(),
                                   static_cast<uint32_t>(count)) == 1;
    rmDeviceStop();
    if (ctx.json) {
        nlohmann::json out = {{"status", ok ? 0 : 1},
                              {"offset", offset},
                              {"count", count},
                              {"data", ok ? LowerHex(bytes) : std::string()}};
        PrintJson(ctx, out);
    } else if (ok) {
        PrintListing(static_cast<uint32_t>(offset), bytes);
    } else {
        char text[160];
        std::snprintf(text, sizeof text,
                      "reading %llu bytes at 0x%llX failed (EEPROM size %u); run with --trace to "
                      "see the transfers",
                      static_cast<unsigned long long>(count),
                      static_cast<unsigned long long>(offset), rmGetEepromSize());
        Complain(ctx, text);
    }
    ctx.exitCode = ok ? 0 : 1;
}

void AddDump(CLI::App& app, CliContext& ctx) {
    auto options = std::make_shared<DumpOptions>();
    CLI::App* cmd = app.add_subcommand(
        "dump", "Read COUNT bytes of the speaker's EEPROM at OFFSET and list them in hex");
    cmd->add_option("OFFSET", options->offset, "EEPROM position (decimal or 0x-prefixed hex)")
        ->required();
    cmd->add_option("COUNT", options->count, "Number of bytes, 1 to 65536")->required();
    cmd->add_option("--eeprom-size", options->eepromSize,
                    "EEPROM size that selects the addressing (default: the transport's, 4096)");
    cmd->add_option("--pid", options->pid, "USB product ID (default 0x0082)");
    cmd->callback([options, &ctx] { RunDump(*options, ctx); });
}

CommandRegistrar reg(30, &AddDump);

} // namespace
