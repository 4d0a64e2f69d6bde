#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Writes firmware images from a description: the mirror of the engine's image reader. Tests
// build their fixtures with it, valid or broken on purpose, instead of carrying opaque blobs.
namespace dormane::imagebuilder {

inline constexpr uint32_t kHeaderSize = 61;
inline constexpr uint32_t kListOffset = 12;
inline constexpr uint8_t kListEnd = 0x7F;

struct Descriptor {
    enum class Kind { Image, Block, Raw };
    Kind kind = Kind::Image;
    uint32_t start = 0;           // image: 13 bits, block: 15 bits
    uint32_t size = 0;            // image: 14 bits, block: 12 bits
    std::array<uint8_t, 4> raw{}; // Kind::Raw: written as is

    static Descriptor Image(uint32_t start, uint32_t size) {
        return {Kind::Image, start, size, {}};
    }
    static Descriptor Block(uint32_t start, uint32_t size) {
        return {Kind::Block, start, size, {}};
    }
    static Descriptor Bytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
        return {Kind::Raw, 0, 0, {b0, b1, b2, b3}};
    }
};

struct ImageSpec {
    std::array<uint8_t, 2> magic{'V', 'X'};
    std::vector<Descriptor> descriptors;
    bool terminateList = true; // a 0x7F byte after the last descriptor

    // Extension block, at the end of the last image descriptor's region.
    bool writeExtension = true;
    uint16_t chip = 0x6501;
    uint16_t vid = 0x0D8C;
    uint16_t pid = 0x0082;
    uint16_t chipVer = 0;
    uint16_t fwVer = 0x0813;

    bool correctChecksum = true;             // false: the stored byte is off by one
    std::optional<uint8_t> checksumOverride; // stored byte as given

    uint32_t fillSeed = 1; // the unexamined bytes are a reproducible pattern of this seed
    // Bytes of the file: empty = TotalSize; shorter truncates, longer appends fill bytes.
    std::optional<uint32_t> fileSize;
};

std::array<uint8_t, 4> EncodeImageDescriptor(uint32_t start, uint32_t size);
std::array<uint8_t, 4> EncodeBlockDescriptor(uint32_t start, uint32_t size);

// TotalSize as the engine derives it: the sizes of all descriptors plus the largest start.
uint32_t TotalSizeOf(const ImageSpec& spec);
// Start and end (start + size) of the last image descriptor, 0/0 when none.
uint32_t ImageStartOf(const ImageSpec& spec);
uint32_t ImageEndOf(const ImageSpec& spec);

std::vector<uint8_t> Build(const ImageSpec& spec);

// The layout of the two firmware builds we ship as samples: one block and one image region,
// TotalSize 0x3240 (12864 bytes), identity VID 0x0D8C, PID 0x0082, CHIP 0x6501, ChipVer 0.
ImageSpec SampleSpec(uint16_t fwVersion);
std::vector<uint8_t> BuildSampleImage(uint16_t fwVersion);
// The same image with its checksum byte wrong: an EEPROM whose content fails the checks.
std::vector<uint8_t> BuildSampleImageBroken(uint16_t fwVersion);

// Writes bytes to a file; false when it cannot be written completely.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace dormane::imagebuilder
