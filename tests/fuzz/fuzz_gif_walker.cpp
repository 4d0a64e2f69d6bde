// Feeds arbitrary bytes to the GIF block walker and frame cutter. Besides never reading
// outside the data, the walk must agree with itself: counting and cutting find the same
// frames, and each cut frame is a GIF with exactly that one frame in it.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "GifBlocks.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    gif::GifWalker walker(data, size);
    if (!walker.IsGif()) {
        Check(walker.CountGraphicBlocks() == 0);
        return 0;
    }
    const std::size_t count = walker.CountGraphicBlocks();
    const std::vector<gif::FrameCut> frames = gif::CutAllFrames(data, size);
    Check(frames.size() == count);
    const std::size_t prefix = 13 + walker.GlobalTableSize();
    for (const gif::FrameCut& f : frames) {
        Check(f.gif.size() > prefix + 1 && f.gif.back() == 0x3B);
        Check(std::memcmp(f.gif.data(), data, prefix) == 0);
        Check(f.disposal <= 7);
        // Cutting the cut frame again gives it back unchanged.
        const std::vector<gif::FrameCut> again = gif::CutAllFrames(f.gif.data(), f.gif.size());
        Check(again.size() == 1);
        Check(again[0].gif == f.gif);
        Check(again[0].delay == f.delay && again[0].disposal == f.disposal);
        Check(again[0].left == f.left && again[0].top == f.top);
        Check(again[0].width == f.width && again[0].height == f.height);
    }
    return 0;
}
