// The GIF block walker and frame cutter on small crafted files.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "GifBlocks.h"
#include "GifEncoder.h"

using gif::FrameCut;
using gif::GifBlockType;
using gif::GifEncoder;
using gif::GifWalker;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::vector<gif::Rgb> kPalette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

Bytes Pixels(int w, int h, std::uint8_t index) {
    return Bytes(static_cast<std::size_t>(w) * h, index);
}

// The bytes appended by one encoder call.
template <typename F> Bytes BlockOf(F add) {
    GifEncoder e(4, 4, kPalette);
    const std::size_t before = e.Bytes().size();
    add(e);
    return Bytes(e.Bytes().begin() + static_cast<long>(before), e.Bytes().end());
}

// Expected stand-alone GIF: header, screen and global table of the source, the frame's
// own bytes, the trailer.
Bytes StandAlone(const Bytes& source, std::size_t prefix, const Bytes& span) {
    Bytes out(source.begin(), source.begin() + static_cast<long>(prefix));
    out.insert(out.end(), span.begin(), span.end());
    out.push_back(0x3B);
    return out;
}

// Walks a copy of exactly the given size, so that a read past the end is caught by the
// address sanitizer.
std::vector<FrameCut> Cut(const Bytes& data) {
    const Bytes exact(data);
    return gif::CutAllFrames(exact.data(), exact.size());
}

std::size_t Count(const Bytes& data) {
    const Bytes exact(data);
    GifWalker w(exact.data(), exact.size());
    return w.CountGraphicBlocks();
}

} // namespace

TEST(GifHeader, RecognisesBothVersionsOnly) {
    struct Case {
        const char* bytes;
        bool gif;
    };
    const Case cases[] = {{"GIF89a", true}, {"GIF87a", true},  {"GIF88a", false},
                          {"GIF8", false},  {"gif89a", false}, {"\x89PNG\r\n", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(
            gif::IsGifHeader(reinterpret_cast<const std::uint8_t*>(c.bytes), std::strlen(c.bytes)),
            c.gif)
            << c.bytes;
    }
    EXPECT_FALSE(gif::IsGifHeader(nullptr, 6));
}

TEST(GifWalker, ReadsScreenAndGlobalTable) {
    GifEncoder e(300, 200, kPalette);
    e.AddTrailer();
    GifWalker w(e.Bytes().data(), e.Bytes().size());
    ASSERT_TRUE(w.IsGif());
    EXPECT_EQ(w.ScreenWidth(), 300);
    EXPECT_EQ(w.ScreenHeight(), 200);
    EXPECT_EQ(w.GlobalTableSize(), 12u); // 4 entries of 3 bytes
    EXPECT_EQ(w.ParseOffset(), 13u + 12u);
    EXPECT_EQ(w.NextBlockType(), GifBlockType::Trailer);
    EXPECT_EQ(w.CountGraphicBlocks(), 0u);

    GifEncoder bare(8, 8, {});
    bare.AddTrailer();
    GifWalker b(bare.Bytes().data(), bare.Bytes().size());
    EXPECT_EQ(b.GlobalTableSize(), 0u);
    EXPECT_EQ(b.ParseOffset(), 13u);
}

TEST(GifWalker, DataTooShortForTheScreenIsNoGif) {
    const Bytes twelve = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0x80, 0};
    GifWalker w(twelve.data(), twelve.size());
    EXPECT_FALSE(w.IsGif());
    EXPECT_EQ(w.NextBlockType(), GifBlockType::Unknown);
    EXPECT_FALSE(w.SkipGraphicBlock());
}

TEST(GifWalker, BlockTypesAndLengths) {
    struct Case {
        const char* name;
        Bytes block;
        GifBlockType type;
    };
    const Case cases[] = {
        {"application", BlockOf([](GifEncoder& e) { e.AddLoopExtension(0); }),
         GifBlockType::Application},
        {"comment", BlockOf([](GifEncoder& e) { e.AddComment("made for a test"); }),
         GifBlockType::Comment},
        {"control", BlockOf([](GifEncoder& e) { e.AddControlExtension(2, 6); }),
         GifBlockType::ControlExt},
        {"plain text", BlockOf([](GifEncoder& e) { e.AddPlainText(0, 0, 4, 4, "hi"); }),
         GifBlockType::PlainText},
        {"image", BlockOf([](GifEncoder& e) { e.AddImage(0, 0, 4, 4, Pixels(4, 4, 1)); }),
         GifBlockType::Image},
        {"image with local table",
         BlockOf([](GifEncoder& e) { e.AddImage(0, 0, 4, 4, Pixels(4, 4, 1), kPalette); }),
         GifBlockType::Image},
        {"trailer", {0x3B}, GifBlockType::Trailer},
    };
    for (const Case& c : cases) {
        GifEncoder e(4, 4, kPalette);
        e.AddRaw(c.block);
        const Bytes data = e.Bytes();
        GifWalker w(data.data(), data.size());
        EXPECT_EQ(w.NextBlockType(), c.type) << c.name;
        // Each block runs exactly to the end of the data.
        EXPECT_EQ(w.NextBlockLength(), c.block.size()) << c.name;
    }
}

TEST(GifWalker, UnrecognisedBlocksStopTheWalk) {
    const Bytes blocks[] = {{0x99}, {0x21, 0x77, 0}, {0x21}};
    for (const Bytes& b : blocks) {
        GifEncoder e(4, 4, kPalette);
        e.AddRaw(b);
        e.AddImage(0, 0, 4, 4, Pixels(4, 4, 0));
        e.AddTrailer();
        EXPECT_EQ(Count(e.Bytes()), 0u);
        EXPECT_TRUE(Cut(e.Bytes()).empty());
    }
}

TEST(GifCut, SingleImageWithoutControlExtension) {
    GifEncoder e(4, 4, kPalette);
    const std::size_t start = e.Bytes().size();
    e.AddImage(1, 2, 3, 2, Pixels(3, 2, 2));
    const Bytes span(e.Bytes().begin() + static_cast<long>(start), e.Bytes().end());
    e.AddTrailer();
    const Bytes data = e.Bytes();

    EXPECT_EQ(Count(data), 1u);
    const auto frames = Cut(data);
    ASSERT_EQ(frames.size(), 1u);
    const FrameCut& f = frames[0];
    EXPECT_EQ(f.delay, gif::kNoDelay);
    EXPECT_EQ(f.disposal, 0u);
    EXPECT_EQ(f.left, 1);
    EXPECT_EQ(f.top, 2);
    EXPECT_EQ(f.width, 3);
    EXPECT_EQ(f.height, 2);
    EXPECT_EQ(f.gif, StandAlone(data, start, span));
}

TEST(GifCut, TwoFramesCarryDelayDisposalAndGeometry) {
    GifEncoder e(10, 10, kPalette);
    e.AddLoopExtension(0);
    const std::size_t prefix = 13 + 12;
    std::vector<Bytes> spans;
    std::size_t start = e.Bytes().size();
    e.AddControlExtension(2, 6);
    e.AddImage(0, 0, 10, 10, Pixels(10, 10, 1));
    spans.emplace_back(e.Bytes().begin() + static_cast<long>(start), e.Bytes().end());
    start = e.Bytes().size();
    e.AddControlExtension(3, 300, 0);
    e.AddImage(2, 3, 4, 5, Pixels(4, 5, 2), kPalette);
    spans.emplace_back(e.Bytes().begin() + static_cast<long>(start), e.Bytes().end());
    e.AddTrailer();
    const Bytes data = e.Bytes();

    EXPECT_EQ(Count(data), 2u);
    const auto frames = Cut(data);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].delay, 6u);
    EXPECT_EQ(frames[0].disposal, 2u);
    EXPECT_EQ(frames[0].width, 10);
    EXPECT_EQ(frames[1].delay, 300u);
    EXPECT_EQ(frames[1].disposal, 3u);
    EXPECT_EQ(frames[1].left, 2);
    EXPECT_EQ(frames[1].top, 3);
    EXPECT_EQ(frames[1].width, 4);
    EXPECT_EQ(frames[1].height, 5);
    // The application extension before the first frame belongs to no frame.
    EXPECT_EQ(frames[0].gif, StandAlone(data, prefix, spans[0]));
    EXPECT_EQ(frames[1].gif, StandAlone(data, prefix, spans[1]));
}

TEST(GifCut, CommentsAndApplicationsAroundFrames) {
    GifEncoder e(4, 4, kPalette);
    e.AddComment("before the first frame");
    e.AddApplication("XMP Data", "XMP", {1, 2, 3});
    const std::size_t start = e.Bytes().size();
    e.AddControlExtension(1, 10);
    // Blocks between a control extension and its image are part of the frame.
    e.AddComment("between control and image");
    e.AddImage(0, 0, 4, 4, Pixels(4, 4, 3));
    const Bytes span(e.Bytes().begin() + static_cast<long>(start), e.Bytes().end());
    e.AddComment("between frames");
    e.AddControlExtension(1, 20);
    e.AddImage(0, 0, 4, 4, Pixels(4, 4, 0));
    e.AddTrailer();
    const Bytes data = e.Bytes();

    EXPECT_EQ(Count(data), 2u);
    const auto frames = Cut(data);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].gif, StandAlone(data, 13 + 12, span));
    EXPECT_EQ(frames[0].delay, 10u);
    EXPECT_EQ(frames[1].delay, 20u);
}

TEST(GifCut, PlainTextExtensionIsAGraphicBlock) {
    GifEncoder e(40, 20, kPalette);
    e.AddControlExtension(0, 5);
    e.AddPlainText(3, 4, 30, 16, "text frame");
    e.AddControlExtension(0, 5);
    e.AddImage(0, 0, 4, 4, Pixels(4, 4, 1));
    e.AddTrailer();
    EXPECT_EQ(Count(e.Bytes()), 2u);
    const auto frames = Cut(e.Bytes());
    ASSERT_EQ(frames.size(), 2u);
    // It carries its text grid where an image carries its rectangle.
    EXPECT_EQ(frames[0].left, 3);
    EXPECT_EQ(frames[0].top, 4);
    EXPECT_EQ(frames[0].width, 30);
    EXPECT_EQ(frames[0].height, 16);
}

TEST(GifCut, ControlExtensionWithoutImageEndsTheWalk) {
    GifEncoder e(4, 4, kPalette);
    e.AddImage(0, 0, 4, 4, Pixels(4, 4, 1));
    e.AddControlExtension(2, 6);
    e.AddTrailer();
    EXPECT_EQ(Count(e.Bytes()), 1u);
    EXPECT_EQ(Cut(e.Bytes()).size(), 1u);
}

// Every prefix of a valid file: the walk finds exactly the frames that end within it and
// never reads beyond it.
TEST(GifCut, TruncatedDataYieldsOnlyWholeFrames) {
    GifEncoder e(6, 6, kPalette);
    e.AddLoopExtension(0);
    std::vector<std::size_t> frameEnds;
    for (int i = 0; i < 3; ++i) {
        e.AddControlExtension(2, 6);
        e.AddComment("x");
        e.AddImage(0, 0, 6, 6, Pixels(6, 6, static_cast<std::uint8_t>(i)), kPalette);
        frameEnds.push_back(e.Bytes().size());
    }
    e.AddTrailer();
    const Bytes full = e.Bytes();
    for (std::size_t n = 0; n <= full.size(); ++n) {
        const Bytes part(full.begin(), full.begin() + static_cast<long>(n));
        std::size_t expected = 0;
        for (std::size_t end : frameEnds) {
            expected += end <= n ? 1 : 0;
        }
        EXPECT_EQ(Count(part), expected) << "length " << n;
        EXPECT_EQ(Cut(part).size(), expected) << "length " << n;
    }
}

TEST(GifCut, SubBlockChainRunningPastTheEnd) {
    GifEncoder e(4, 4, kPalette);
    e.AddImage(0, 0, 4, 4, Pixels(4, 4, 1));
    // An image whose single sub-block claims 200 bytes of which 3 follow.
    e.AddRaw({0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0, 2, 200, 1, 2, 3});
    EXPECT_EQ(Count(e.Bytes()), 1u);
    EXPECT_EQ(Cut(e.Bytes()).size(), 1u);
}

TEST(GifCut, ApplicationExtensionCutShort) {
    GifEncoder e(4, 4, kPalette);
    e.AddRaw({0x21, 0xFF, 11, 'N', 'E', 'T'});
    GifWalker w(e.Bytes().data(), e.Bytes().size());
    EXPECT_EQ(w.NextBlockType(), GifBlockType::Application);
    EXPECT_EQ(w.NextBlockLength(), 0u);
    EXPECT_FALSE(w.SkipGraphicBlock());
    EXPECT_FALSE(w.CutNextFrame().has_value());
}

TEST(GifDelay, ShortDelaysShowForATenthOfASecond) {
    struct Case {
        std::uint32_t delay;
        std::uint32_t ms;
    };
    const Case cases[] = {{0, 100}, {1, 100},    {4, 100},        {5, 50},
                          {6, 60},  {100, 1000}, {65535, 655350}, {gif::kNoDelay, 0xFFFFFFF6u}};
    for (const Case& c : cases) {
        EXPECT_EQ(gif::FrameWaitMs(c.delay), c.ms) << "delay " << c.delay;
    }
}

TEST(GifEncoder, CodeSizes) {
    EXPECT_EQ(GifEncoder::CodeSizeFor(2), 2);
    EXPECT_EQ(GifEncoder::CodeSizeFor(4), 2);
    EXPECT_EQ(GifEncoder::CodeSizeFor(5), 3);
    EXPECT_EQ(GifEncoder::CodeSizeFor(64), 6);
    EXPECT_EQ(GifEncoder::CodeSizeFor(256), 8);
}
