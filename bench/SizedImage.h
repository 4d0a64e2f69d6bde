#pragma once

#include "ImageBuilder.h"

#include <algorithm>
#include <cstdint>

// Firmware images of a chosen TotalSize, for the benchmark and the fault soak. One image
// descriptor holds at most 16383 bytes, so larger sizes add block descriptors: the largest
// start counts once towards TotalSize and every size adds to it.
namespace dormane::bench {

inline constexpr uint32_t kImageStart = 0x40;
inline constexpr uint32_t kMaxImageSize = 0x3FFF;
inline constexpr uint32_t kMaxBlockStart = 0x7FFF;
inline constexpr uint32_t kMaxBlockSize = 0x0FFF;
// Twelve whole descriptors fit the header (offsets 12 to 56; the one at 60 has only its
// first byte inside it): one image and eleven blocks.
inline constexpr uint32_t kMaxBlocks = 11;
// The smallest image region with room for the extension block and the checksum.
inline constexpr uint32_t kMinTotalSize = kImageStart + 16;
inline constexpr uint32_t kMaxTotalSize =
    kMaxImageSize + kMaxBlockStart + kMaxBlocks * kMaxBlockSize;

// The sample identity unless the caller changes it. total must lie in
// [kMinTotalSize, kMaxTotalSize]; TotalSizeOf(result) == total.
inline imagebuilder::ImageSpec SizedImageSpec(uint32_t total, uint32_t fillSeed = 1) {
    using imagebuilder::Descriptor;
    imagebuilder::ImageSpec spec;
    spec.fillSeed = fillSeed;
    total = std::clamp(total, kMinTotalSize, kMaxTotalSize);
    if (total <= kImageStart + kMaxImageSize) {
        spec.descriptors = {Descriptor::Image(kImageStart, total - kImageStart)};
        return spec;
    }
    // The image region first, then blocks that all start at the largest start; the first
    // block is there for its start even when it adds no size.
    spec.descriptors = {Descriptor::Image(kImageStart, kMaxImageSize)};
    const uint32_t rest = total - kMaxImageSize;
    const uint32_t blockStart = std::min(rest, kMaxBlockStart);
    uint32_t sizes = rest - blockStart;
    do {
        const uint32_t size = std::min(sizes, kMaxBlockSize);
        spec.descriptors.push_back(Descriptor::Block(blockStart, size));
        sizes -= size;
    } while (sizes > 0);
    return spec;
}

} // namespace dormane::bench
