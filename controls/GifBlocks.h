#pragma once

// Walks the block structure of GIF data and cuts each frame out as a stand-alone
// single-image GIF. Plain C++ so that it can be tested and fuzzed without a display.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace gif {

enum class GifBlockType : int {
    Unknown = 0,     // parsing stops here
    Application = 1, // 0x21 0xFF
    Comment = 2,     // 0x21 0xFE
    ControlExt = 3,  // 0x21 0xF9, graphic control extension
    PlainText = 4,   // 0x21 0x01
    Image = 5,       // 0x2C, descriptor, local colour table and image data
    Trailer = 6,     // 0x3B
};

// Delay value of a frame that has no graphic control extension.
inline constexpr std::uint32_t kNoDelay = 0xFFFFFFFFu;

// One frame cut out of an animation, ready for a picture decoder.
struct FrameCut {
    // Header, logical screen descriptor and global colour table of the source, then the
    // frame's own blocks, then the trailer byte.
    std::vector<std::uint8_t> gif;
    std::uint32_t delay = kNoDelay; // hundredths of a second, as stored
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    unsigned disposal = 0; // 0 to 7
};

// True when the data begins with "GIF87a" or "GIF89a".
bool IsGifHeader(const std::uint8_t* data, std::size_t size);

// How long a frame stays on show: delay x 10 ms in 32-bit unsigned arithmetic, or
// 100 ms when the delay is below 5 hundredths (so very short delays do not spin).
std::uint32_t FrameWaitMs(std::uint32_t delay);

// Reads GIF data it does not own. Every read is checked against the size it was given,
// so malformed or truncated data only ever ends the walk early.
class GifWalker {
public:
    GifWalker(const std::uint8_t* data, std::size_t size);

    // A GIF header and a complete logical screen descriptor are present.
    bool IsGif() const { return m_bGif; }
    int ScreenWidth() const { return m_nScreenWidth; }
    int ScreenHeight() const { return m_nScreenHeight; }
    // Bytes of the global colour table (0 when there is none).
    std::uint32_t GlobalTableSize() const { return m_nGlobalTableSize; }
    // Byte offset of the next block.
    std::uint32_t ParseOffset() const { return m_nOffset; }

    // Back to the first block after the global colour table.
    void Rewind();

    GifBlockType NextBlockType() const;
    // Length in bytes of the next block, or 0 when it is unrecognised or does not end
    // within the data.
    std::uint32_t NextBlockLength() const;

    // Advances over the next graphic block (an image or a plain text extension, with the
    // graphic control extension and any blocks between them); true on success.
    bool SkipGraphicBlock();

    // Cuts the next graphic block out as a stand-alone GIF; nothing at the trailer, at an
    // unrecognised block or at a block that runs past the data.
    std::optional<FrameCut> CutNextFrame();

    // Graphic blocks from the first block on; leaves the walker rewound.
    std::size_t CountGraphicBlocks();

private:
    std::uint32_t SubBlocksLength(std::size_t offset) const;
    std::uint32_t BlockLengthAt(std::size_t offset) const;
    GifBlockType BlockTypeAt(std::size_t offset) const;
    bool SkipBlock();
    // Skips application and comment extensions; false when the trailer, an unrecognised
    // block or a block of invalid length comes first.
    bool SkipToGraphicBlock();
    // After a graphic control extension: skips blocks up to the image or plain text
    // extension that it belongs to.
    bool SkipToRenderingBlock();
    std::uint16_t Word(std::size_t offset) const;

    const std::uint8_t* m_pData;
    std::size_t m_nSize;
    bool m_bGif = false;
    int m_nScreenWidth = 0;
    int m_nScreenHeight = 0;
    std::uint32_t m_nGlobalTableSize = 0;
    std::uint32_t m_nOffset = 0;
};

// Every frame that can be cut, in order.
std::vector<FrameCut> CutAllFrames(const std::uint8_t* data, std::size_t size);

} // namespace gif
