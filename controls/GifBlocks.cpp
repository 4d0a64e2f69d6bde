#include "GifBlocks.h"

#include <cstring>
#include <limits>

namespace gif {

namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kScreenEnd = 13; // header plus logical screen descriptor

// Fixed parts of each block before its sub-block chain.
constexpr std::size_t kApplicationFixed = 14;
constexpr std::size_t kCommentFixed = 2;
constexpr std::size_t kControlExtLength = 8;
constexpr std::size_t kPlainTextFixed = 15;
constexpr std::size_t kImageFixed = 11; // descriptor (10) and the LZW code size byte

std::uint32_t ColourTableBytes(std::uint8_t packed) {
    if ((packed & 0x80) == 0) {
        return 0;
    }
    return 3u * (2u << (packed & 7));
}

} // namespace

bool IsGifHeader(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kHeaderSize) {
        return false;
    }
    return std::memcmp(data, "GIF87a", kHeaderSize) == 0 ||
           std::memcmp(data, "GIF89a", kHeaderSize) == 0;
}

std::uint32_t FrameWaitMs(std::uint32_t delay) {
    if (delay < 5) {
        return 100;
    }
    return delay * 10u; // wraps like the 32-bit product it stands for
}

GifWalker::GifWalker(const std::uint8_t* data, std::size_t size) : m_pData(data), m_nSize(size) {
    // Offsets are 32-bit; larger data is not walked at all.
    if (size > std::numeric_limits<std::uint32_t>::max() || size < kScreenEnd ||
        !IsGifHeader(data, size)) {
        return;
    }
    m_bGif = true;
    m_nScreenWidth = Word(6);
    m_nScreenHeight = Word(8);
    m_nGlobalTableSize = ColourTableBytes(m_pData[10]);
    Rewind();
}

void GifWalker::Rewind() {
    m_nOffset = m_bGif ? static_cast<std::uint32_t>(kScreenEnd) + m_nGlobalTableSize : 0;
}

std::uint16_t GifWalker::Word(std::size_t offset) const {
    return static_cast<std::uint16_t>(m_pData[offset] | (m_pData[offset + 1] << 8));
}

GifBlockType GifWalker::BlockTypeAt(std::size_t offset) const {
    if (!m_bGif || offset >= m_nSize) {
        return GifBlockType::Unknown;
    }
    switch (m_pData[offset]) {
    case 0x2C:
        return GifBlockType::Image;
    case 0x3B:
        return GifBlockType::Trailer;
    case 0x21:
        if (offset + 1 >= m_nSize) {
            return GifBlockType::Unknown;
        }
        switch (m_pData[offset + 1]) {
        case 0xFF:
            return GifBlockType::Application;
        case 0xFE:
            return GifBlockType::Comment;
        case 0xF9:
            return GifBlockType::ControlExt;
        case 0x01:
            return GifBlockType::PlainText;
        default:
            return GifBlockType::Unknown;
        }
    default:
        return GifBlockType::Unknown;
    }
}

std::uint32_t GifWalker::SubBlocksLength(std::size_t offset) const {
    std::size_t pos = offset;
    for (;;) {
        if (pos >= m_nSize) {
            return 0; // the chain runs past the data
        }
        const std::uint8_t n = m_pData[pos];
        pos += std::size_t{n} + 1;
        if (n == 0) {
            break;
        }
    }
    return static_cast<std::uint32_t>(pos - offset);
}

std::uint32_t GifWalker::BlockLengthAt(std::size_t offset) const {
    // Each length is checked to end within the data before it is returned, so a caller
    // may read any byte of the block.
    std::size_t fixed = 0;
    switch (BlockTypeAt(offset)) {
    case GifBlockType::Application:
        fixed = kApplicationFixed;
        break;
    case GifBlockType::Comment:
        fixed = kCommentFixed;
        break;
    case GifBlockType::ControlExt:
        return offset + kControlExtLength <= m_nSize ? static_cast<std::uint32_t>(kControlExtLength)
                                                     : 0;
    case GifBlockType::PlainText:
        fixed = kPlainTextFixed;
        break;
    case GifBlockType::Image:
        if (offset + 10 > m_nSize) {
            return 0;
        }
        fixed = kImageFixed + ColourTableBytes(m_pData[offset + 9]);
        break;
    case GifBlockType::Trailer:
        return 1;
    case GifBlockType::Unknown:
        return 0;
    }
    if (offset + fixed > m_nSize) {
        return 0;
    }
    const std::uint32_t chain = SubBlocksLength(offset + fixed);
    if (chain == 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(fixed + chain);
}

GifBlockType GifWalker::NextBlockType() const {
    return BlockTypeAt(m_nOffset);
}

std::uint32_t GifWalker::NextBlockLength() const {
    return BlockLengthAt(m_nOffset);
}

bool GifWalker::SkipBlock() {
    const std::uint32_t len = NextBlockLength();
    if (len == 0) {
        return false;
    }
    m_nOffset += len;
    return true;
}

bool GifWalker::SkipToGraphicBlock() {
    for (;;) {
        switch (NextBlockType()) {
        case GifBlockType::Application:
        case GifBlockType::Comment:
            if (!SkipBlock()) {
                return false;
            }
            break;
        case GifBlockType::ControlExt:
        case GifBlockType::PlainText:
        case GifBlockType::Image:
            return true;
        case GifBlockType::Trailer:
        case GifBlockType::Unknown:
            return false;
        }
    }
}

bool GifWalker::SkipToRenderingBlock() {
    for (;;) {
        switch (NextBlockType()) {
        case GifBlockType::Image:
        case GifBlockType::PlainText:
            return true;
        case GifBlockType::Trailer:
        case GifBlockType::Unknown:
            return false;
        case GifBlockType::Application:
        case GifBlockType::Comment:
        case GifBlockType::ControlExt:
            if (!SkipBlock()) {
                return false;
            }
            break;
        }
    }
}

bool GifWalker::SkipGraphicBlock() {
    const std::uint32_t start = m_nOffset;
    if (!SkipToGraphicBlock()) {
        m_nOffset = start;
        return false;
    }
    if (NextBlockType() == GifBlockType::ControlExt) {
        if (!SkipBlock() || !SkipToRenderingBlock()) {
            m_nOffset = start;
            return false;
        }
    }
    if (!SkipBlock()) {
        m_nOffset = start;
        return false;
    }
    return true;
}

std::optional<FrameCut> GifWalker::CutNextFrame() {
    const std::uint32_t start = m_nOffset;
    auto fail = [&]() -> std::optional<FrameCut> {
        m_nOffset = start;
        return std::nullopt;
    };
    FrameCut cut;
    if (!SkipToGraphicBlock()) {
        return fail();
    }
    const std::size_t frameStart = m_nOffset;
    if (NextBlockType() == GifBlockType::ControlExt) {
        if (NextBlockLength() == 0) {
            return fail();
        }
        cut.disposal = (m_pData[m_nOffset + 3] >> 2) & 7;
        cut.delay = Word(m_nOffset + 4);
        if (!SkipBlock() || !SkipToRenderingBlock()) {
            return fail();
        }
    }
    const std::uint32_t len = NextBlockLength();
    if (len == 0) {
        return fail();
    }
    // Both fixed parts are known to lie within the data once the length is valid.
    if (NextBlockType() == GifBlockType::Image) {
        cut.left = Word(m_nOffset + 1);
        cut.top = Word(m_nOffset + 3);
        cut.width = Word(m_nOffset + 5);
        cut.height = Word(m_nOffset + 7);
    } else {
        // A plain text extension places its text grid where an image would be.
        cut.left = Word(m_nOffset + 3);
        cut.top = Word(m_nOffset + 5);
        cut.width = Word(m_nOffset + 7);
        cut.height = Word(m_nOffset + 9);
    }
    m_nOffset += len;
    const std::size_t span = m_nOffset - frameStart;
    const std::size_t prefix = kScreenEnd + m_nGlobalTableSize;
    cut.gif.reserve(prefix + span + 1);
    cut.gif.assign(m_pData, m_pData + prefix);
    cut.gif.insert(cut.gif.end(), m_pData + frameStart, m_pData + m_nOffset);
    cut.gif.push_back(0x3B);
    return cut;
}

std::size_t GifWalker::CountGraphicBlocks() {
    Rewind();
    std::size_t count = 0;
    while (SkipGraphicBlock()) {
        ++count;
    }
    Rewind();
    return count;
}

std::vector<FrameCut> CutAllFrames(const std::uint8_t* data, std::size_t size) {
    std::vector<FrameCut> frames;
    GifWalker walker(data, size);
    if (!walker.IsGif()) {
        return frames;
    }
    while (auto cut = walker.CutNextFrame()) {
        frames.push_back(std::move(*cut));
    }
    return frames;
}

} // namespace gif
