#include "ImageBuilder.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace dormane::imagebuilder {

std::array<uint8_t, 4> EncodeImageDescriptor(uint32_t start, uint32_t size) {
    return {static_cast<uint8_t>(0x80 | ((start >> 6) & 0x7F)),
            static_cast<uint8_t>(((start & 0x3F) << 2) | ((size >> 12) & 0x03)),
            static_cast<uint8_t>(0xB0 | ((size >> 8) & 0x0F)), static_cast<uint8_t>(size & 0xFF)};
}

std::array<uint8_t, 4> EncodeBlockDescriptor(uint32_t start, uint32_t size) {
    return {static_cast<uint8_t>(0x80 | ((start >> 8) & 0x7F)), static_cast<uint8_t>(start & 0xFF),
            static_cast<uint8_t>((size >> 8) & 0x0F), static_cast<uint8_t>(size & 0xFF)};
}

namespace {

std::array<uint8_t, 4> Encode(const Descriptor& d) {
    switch (d.kind) {
    case Descriptor::Kind::Image:
        return EncodeImageDescriptor(d.start, d.size);
    case Descriptor::Kind::Block:
        return EncodeBlockDescriptor(d.start, d.size);
    case Descriptor::Kind::Raw:
        return d.raw;
    }
    return d.raw;
}

// Decodes a descriptor the way the engine reads it, so that raw descriptors count too.
struct Decoded {
    bool valid = false;
    bool image = false;
    uint32_t start = 0;
    uint32_t size = 0;
};

Decoded Decode(const std::array<uint8_t, 4>& b) {
    Decoded d;
    if (b[0] == kListEnd || !(b[0] & 0x80))
        return d;
    d.valid = true;
    if ((b[2] & 0xF0) == 0xB0) {
        d.image = true;
        d.start = ((b[0] & 0x7Fu) << 6) | (b[1] >> 2);
        d.size = ((b[1] & 0x03u) << 12) | ((b[2] & 0x0Fu) << 8) | b[3];
    } else {
        d.start = ((b[0] & 0x7Fu) << 8) | b[1];
        d.size = ((b[2] & 0x0Fu) << 8) | b[3];
    }
    return d;
}

// Only descriptors the engine can see: those inside the 61-byte header, before an end mark.
std::vector<Decoded> VisibleDescriptors(const ImageSpec& spec) {
    std::vector<Decoded> out;
    uint32_t offset = kListOffset;
    for (const auto& d : spec.descriptors) {
        if (offset > 60)
            break;
        auto bytes = Encode(d);
        if (offset == 60)
            bytes = {bytes[0], 0, 0, 0}; // only its first byte is inside the header
        if (bytes[0] == kListEnd)
            break;
        out.push_back(Decode(bytes));
        offset += 4;
    }
    return out;
}

void PutBigEndian16(std::vector<uint8_t>& data, uint32_t offset, uint16_t value) {
    if (offset + 1 < data.size()) {
        data[offset] = static_cast<uint8_t>(value >> 8);
        data[offset + 1] = static_cast<uint8_t>(value & 0xFF);
    }
}

} // namespace

uint32_t TotalSizeOf(const ImageSpec& spec) {
    uint32_t sum = 0;
    uint32_t largestStart = 0;
    for (const auto& d : VisibleDescriptors(spec)) {
        if (!d.valid)
            continue;
        sum += d.size;
        largestStart = std::max(largestStart, d.start);
    }
    return sum + largestStart;
}

uint32_t ImageStartOf(const ImageSpec& spec) {
    uint32_t start = 0;
    for (const auto& d : VisibleDescriptors(spec))
        if (d.valid && d.image)
            start = d.start;
    return start;
}

uint32_t ImageEndOf(const ImageSpec& spec) {
    uint32_t end = 0;
    for (const auto& d : VisibleDescriptors(spec))
        if (d.valid && d.image)
            end = d.start + d.size;
    return end;
}

std::vector<uint8_t> Build(const ImageSpec& spec) {
    const uint32_t total = TotalSizeOf(spec);
    const uint32_t length = std::max<uint32_t>({total, kHeaderSize, ImageEndOf(spec)});
    std::vector<uint8_t> data(length);

    // A reproducible pattern for every byte the engine does not examine (xorshift).
    uint32_t state = spec.fillSeed * 2654435761u + 0x9E3779B9u;
    for (auto& byte : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }

    data[0] = spec.magic[0];
    data[1] = spec.magic[1];
    uint32_t offset = kListOffset;
    for (const auto& d : spec.descriptors) {
        if (offset + 4 > data.size())
            break;
        auto bytes = Encode(d);
        std::copy(bytes.begin(), bytes.end(), data.begin() + offset);
        offset += 4;
    }
    if (spec.terminateList && offset < data.size())
        data[offset] = kListEnd;

    const uint32_t start = ImageStartOf(spec);
    const uint32_t end = ImageEndOf(spec);
    if (spec.writeExtension && end >= 13 && end <= data.size()) {
        PutBigEndian16(data, end - 13, spec.chip);
        PutBigEndian16(data, end - 11, spec.vid);
        PutBigEndian16(data, end - 9, spec.pid);
        PutBigEndian16(data, end - 7, spec.chipVer);
        PutBigEndian16(data, end - 5, spec.fwVer);
    }
    if (end > start && end <= data.size()) {
        uint8_t sum = 0;
        for (uint32_t i = start; i < end - 1; ++i)
            sum = static_cast<uint8_t>(sum + data[i]);
        uint8_t checksum = static_cast<uint8_t>(0x100 - sum);
        if (!spec.correctChecksum)
            checksum = static_cast<uint8_t>(checksum + 1);
        if (spec.checksumOverride)
            checksum = *spec.checksumOverride;
        data[end - 1] = checksum;
    }

    const uint32_t fileSize = spec.fileSize.value_or(total);
    if (fileSize < data.size()) {
        data.resize(fileSize);
    } else {
        while (data.size() < fileSize)
            data.push_back(static_cast<uint8_t>(0xA5 ^ data.size()));
    }
    return data;
}

ImageSpec SampleSpec(uint16_t fwVersion) {
    ImageSpec spec;
    spec.descriptors = {Descriptor::Block(0x40, 0x200), Descriptor::Image(0x240, 0x2E00)};
    spec.fwVer = fwVersion;
    spec.fillSeed = fwVersion;
    return spec;
}

std::vector<uint8_t> BuildSampleImage(uint16_t fwVersion) {
    return Build(SampleSpec(fwVersion));
}

std::vector<uint8_t> BuildSampleImageBroken(uint16_t fwVersion) {
    ImageSpec spec = SampleSpec(fwVersion);
    spec.correctChecksum = false;
    return Build(spec);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return false;
    return std::fflush(file.get()) == 0;
}

} // namespace dormane::imagebuilder
