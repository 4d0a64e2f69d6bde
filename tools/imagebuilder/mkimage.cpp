// dormane-mkimage: writes a firmware image, valid or broken on purpose, from a description.
#include "ImageBuilder.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>

using namespace dormane::imagebuilder;

namespace {

bool ParseNumber(const std::string& text, uint32_t& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (*end != '\0' || value > 0xFFFFFFFFul)
        return false;
    out = static_cast<uint32_t>(value);
    return true;
}

bool ParseDescriptor(const std::string& text, Descriptor& out) {
    auto colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string kind = text.substr(0, colon);
    const std::string rest = text.substr(colon + 1);
    if (kind == "raw") {
        if (rest.size() != 8)
            return false;
        uint32_t value = 0;
        if (!ParseNumber("0x" + rest, value))
            return false;
        out =
            Descriptor::Bytes(value >> 24, (value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
        return true;
    }
    auto second = rest.find(':');
    uint32_t start = 0;
    uint32_t size = 0;
    if (second == std::string::npos || !ParseNumber(rest.substr(0, second), start) ||
        !ParseNumber(rest.substr(second + 1), size))
        return false;
    if (kind == "image")
        out = Descriptor::Image(start, size);
    else if (kind == "block")
        out = Descriptor::Block(start, size);
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"dormane-mkimage: write a firmware image from a description.\n"
                 "Numbers accept decimal and 0x-prefixed hex."};
    std::string output;
    std::string sample;
    std::vector<std::string> descriptors;
    std::string magic = "VX";
    std::string fw, vid, pid, chip, chipVer, checksum, fileSize, seed;
    bool noEnd = false, noExtension = false, badChecksum = false;

    app.add_option("-o,--output", output, "File to write")->required();
    app.add_option("--sample", sample, "Start from a sample build: 0x0813 or 0x0803");
    app.add_option("--descriptor", descriptors,
                   "Configuration descriptor, in order: image:START:SIZE, block:START:SIZE or "
                   "raw:B0B1B2B3 (hex); replaces the sample's list");
    app.add_option("--magic", magic, "The first two bytes (default VX)");
    app.add_flag("--no-end", noEnd, "Leave out the 0x7F end of the descriptor list");
    app.add_flag("--no-extension", noExtension, "Leave the extension block as fill bytes");
    app.add_option("--fw", fw, "Firmware version word (default 0x0813)");
    app.add_option("--vid", vid, "Vendor id (default 0x0D8C)");
    app.add_option("--pid", pid, "Product id (default 0x0082)");
    app.add_option("--chip", chip, "Chip id (default 0x6501)");
    app.add_option("--chip-ver", chipVer, "Chip revision (default 0)");
    app.add_flag("--bad-checksum", badChecksum, "Store a wrong checksum byte");
    app.add_option("--checksum", checksum, "Store this checksum byte");
    app.add_option("--file-size", fileSize, "Truncate or pad the file to this many bytes");
    app.add_option("--seed", seed, "Seed of the fill pattern");
    CLI11_PARSE(app, argc, argv);

    uint32_t value = 0;
    ImageSpec spec;
    if (!sample.empty()) {
        if (!ParseNumber(sample, value) || value > 0xFFFF) {
            std::fprintf(stderr, "bad --sample %s\n", sample.c_str());
            return 2;
        }
        spec = SampleSpec(static_cast<uint16_t>(value));
    }
    if (!descriptors.empty()) {
        spec.descriptors.clear();
        for (const auto& text : descriptors) {
            Descriptor d;
            if (!ParseDescriptor(text, d)) {
                std::fprintf(stderr, "bad --descriptor %s\n", text.c_str());
                return 2;
            }
            spec.descriptors.push_back(d);
        }
    }
    if (magic.size() != 2) {
        std::fprintf(stderr, "--magic takes two characters\n");
        return 2;
    }
    spec.magic = {static_cast<uint8_t>(magic[0]), static_cast<uint8_t>(magic[1])};
    spec.terminateList = !noEnd;
    spec.writeExtension = !noExtension;
    spec.correctChecksum = !badChecksum;

    struct Field {
        const char* name;
        const std::string& text;
        uint32_t max;
        std::function<void(uint32_t)> set;
    };
    const Field fields[] = {
        {"--fw", fw, 0xFFFF, [&](uint32_t v) { spec.fwVer = static_cast<uint16_t>(v); }},
        {"--vid", vid, 0xFFFF, [&](uint32_t v) { spec.vid = static_cast<uint16_t>(v); }},
        {"--pid", pid, 0xFFFF, [&](uint32_t v) { spec.pid = static_cast<uint16_t>(v); }},
        {"--chip", chip, 0xFFFF, [&](uint32_t v) { spec.chip = static_cast<uint16_t>(v); }},
        {"--chip-ver", chipVer, 0xFFFF,
         [&](uint32_t v) { spec.chipVer = static_cast<uint16_t>(v); }},
        {"--checksum", checksum, 0xFF,
         [&](uint32_t v) { spec.checksumOverride = static_cast<uint8_t>(v); }},
        {"--file-size", fileSize, 0x1000000, [&](uint32_t v) { spec.fileSize = v; }},
        {"--seed", seed, 0xFFFFFFFF, [&](uint32_t v) { spec.fillSeed = v; }},
    };
    for (const auto& field : fields) {
        if (field.text.empty())
            continue;
        if (!ParseNumber(field.text, value) || value > field.max) {
            std::fprintf(stderr, "bad %s %s\n", field.name, field.text.c_str());
            return 2;
        }
        field.set(value);
    }
    if (spec.descriptors.empty()) {
        std::fprintf(stderr, "no descriptors: give --sample or --descriptor\n");
        return 2;
    }
    if (!WriteFile(output, Build(spec))) {
        std::fprintf(stderr, "cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
