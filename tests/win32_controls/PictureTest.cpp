// The animated picture control: GIF frames decoded with OleLoadPicture (count, size,
// delay, disposal), still pictures, the animation thread and its stop.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "CPictureEx.h"
#include "DialogTemplateEx.h"
#include "GifEncoder.h"
#include "Win32TestSupport.h"

namespace {

using gif::GifEncoder;

const std::vector<gif::Rgb> kPalette = {{255, 255, 255}, {0, 120, 215}, {200, 0, 0}, {0, 0, 0}};

// A movable global block holding the bytes; freed by the destructor.
class GlobalBlock {
public:
    explicit GlobalBlock(const std::vector<std::uint8_t>& bytes)
        : m_block(GlobalAlloc(GMEM_MOVEABLE, bytes.size())), m_size(bytes.size()) {
        void* p = GlobalLock(m_block);
        std::memcpy(p, bytes.data(), bytes.size());
        GlobalUnlock(m_block);
    }
    ~GlobalBlock() { GlobalFree(m_block); }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL get() const { return m_block; }
    DWORD size() const { return static_cast<DWORD>(m_size); }

private:
    HGLOBAL m_block;
    std::size_t m_size;
};

std::vector<std::uint8_t> Pixels(int w, int h, std::uint8_t index) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h, index);
}

// A picture control on a page, 60 x 44 pixels as the template would make it.
struct PictureOnPage {
    wintest::ParentWindow page{40, 40, 300, 300, RGB(255, 255, 255)};
    HWND hwnd = CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE, 20, 30, 60, 44,
                                page.hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
    CPictureEx picture;
    PictureOnPage() { picture.SubclassWindow(hwnd); }

    SIZE WindowSize() const {
        RECT r{};
        GetWindowRect(hwnd, &r);
        return {r.right - r.left, r.bottom - r.top};
    }
};

TEST(Win32Picture, BusyAnimationDecodesToItsFrames) {
    PictureOnPage p;
    ASSERT_TRUE(p.picture.LoadFromResource(MAKEINTRESOURCEW(232)));
    EXPECT_TRUE(p.picture.IsGif());
    EXPECT_TRUE(p.picture.IsInitialized());
    ASSERT_EQ(p.picture.GetFrameCount(), 75u);
    for (std::size_t i = 0; i < p.picture.GetFrameCount(); ++i) {
        const CPictureEx::GifFrame f = p.picture.GetFrame(i);
        EXPECT_EQ(f.width, 100) << "frame " << i;
        EXPECT_EQ(f.height, 100) << "frame " << i;
        EXPECT_EQ(f.left, 0);
        EXPECT_EQ(f.top, 0);
        EXPECT_EQ(f.delay, 6u);
        EXPECT_EQ(f.disposal, 2u);
    }
    EXPECT_EQ(p.picture.GetPictureSize().cx, 100);
    EXPECT_EQ(p.picture.GetPictureSize().cy, 100);
    EXPECT_EQ(p.WindowSize().cx, 100) << "the control takes the picture's size";
    EXPECT_EQ(p.WindowSize().cy, 100);
    EXPECT_EQ(p.picture.GetBkColor(), GetSysColor(COLOR_BTNFACE));
}

// Played on a thread of its own: frames advance, the canvas shows blue dots, and stopping
// ends the thread long before the 5000 ms wait.
TEST(Win32Picture, AnimationPlaysAndStops) {
    PictureOnPage p;
    ASSERT_TRUE(p.picture.LoadFromResource(MAKEINTRESOURCEW(232), L"GIF"));
    EXPECT_EQ(p.picture.Show(), 0);
    EXPECT_TRUE(p.picture.IsAnimating());
    const auto start = std::chrono::steady_clock::now();
    while (p.picture.GetCurrentFrame() < 3 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        wintest::PumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(p.picture.GetCurrentFrame(), 3u);
    // 60 ms a frame: three frames take at least 120 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));

    const auto stopStart = std::chrono::steady_clock::now();
    p.picture.StopAnimation();
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::milliseconds(1000));
    EXPECT_FALSE(p.picture.IsAnimating());
    const std::uint32_t stoppedAt = p.picture.GetCurrentFrame();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(p.picture.GetCurrentFrame(), stoppedAt) << "still playing after the stop";

    wintest::MemoryCanvas canvas(100, 100, RGB(1, 2, 3));
    SendMessageW(p.hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
    int blue = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            const COLORREF c = canvas.Pixel(x, y);
            blue += GetBValue(c) > 150 && GetRValue(c) < 100 ? 1 : 0;
        }
    }
    EXPECT_GT(blue, 20) << "no blue dots on the canvas";
    EXPECT_NE(canvas.Pixel(0, 0), RGB(1, 2, 3)) << "the canvas was not copied";

    // Resumes where it stopped.
    EXPECT_EQ(p.picture.Show(), 0);
    EXPECT_TRUE(p.picture.IsAnimating());
    p.picture.Clear();
    EXPECT_FALSE(p.picture.IsAnimating());
    EXPECT_EQ(p.picture.GetFrameCount(), 0u);
}

struct FrameCase {
    unsigned disposal;
    std::uint16_t delay;
    int left;
    int top;
    int width;
    int height;
};

// Frames keep their own geometry, delay and disposal, in file order.
TEST(Win32Picture, FramesKeepTheirGeometryDelayAndDisposal) {
    const FrameCase frames[] = {
        {2, 4, 0, 0, 16, 12}, {3, 5, 4, 2, 8, 6}, {1, 0, 10, 6, 6, 6}, {0, 6, 1, 1, 3, 3}};
    GifEncoder e(16, 12, kPalette);
    e.AddLoopExtension(0);
    std::uint8_t colour = 1;
    for (const FrameCase& f : frames) {
        e.AddControlExtension(f.disposal, f.delay);
        e.AddImage(f.left, f.top, f.width, f.height, Pixels(f.width, f.height, colour));
        colour = static_cast<std::uint8_t>(colour % 3 + 1);
    }
    e.AddTrailer();
    GlobalBlock block(e.Bytes());
    PictureOnPage p;
    ASSERT_TRUE(p.picture.LoadFromMemory(block.get(), block.size()));
    ASSERT_EQ(p.picture.GetFrameCount(), std::size(frames));
    for (std::size_t i = 0; i < std::size(frames); ++i) {
        const CPictureEx::GifFrame got = p.picture.GetFrame(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(got.disposal, frames[i].disposal);
        EXPECT_EQ(got.delay, frames[i].delay);
        EXPECT_EQ(got.left, frames[i].left);
        EXPECT_EQ(got.top, frames[i].top);
        EXPECT_EQ(got.width, frames[i].width);
        EXPECT_EQ(got.height, frames[i].height);
    }
    EXPECT_EQ(p.WindowSize().cx, 16);
    EXPECT_EQ(p.WindowSize().cy, 12);
}

struct Frame {
    unsigned disposal;
    std::uint16_t delay;
    int left, top, width, height;
    std::uint8_t colour; // index into kPalette
};

struct ComposeCase {
    const char* name;
    std::vector<Frame> frames;
    // Pixels of the canvas while the last frame is on show: (x, y, palette index), or -1 for
    // the background colour.
    std::vector<std::tuple<int, int, int>> expected;
};

// Frames are composed on the canvas by position and disposal: 2 gives the area back to the
// background, 3 restores what was under the frame, 1 leaves it.
TEST(Win32Picture, FramesAreComposedByTheirDisposal) {
    const ComposeCase cases[] = {
        {"method 2 clears to the background",
         {{2, 4, 0, 0, 16, 12, 2}, {1, 300, 4, 2, 8, 6, 1}},
         {{6, 4, 1}, {15, 11, -1}, {0, 0, -1}}},
        {"method 3 restores what was under the frame",
         {{1, 4, 0, 0, 16, 12, 2}, {3, 4, 4, 2, 8, 6, 1}, {2, 300, 0, 0, 2, 2, 3}},
         {{0, 0, 3}, {6, 4, 2}, {11, 7, 2}, {15, 11, 2}}},
        {"method 1 leaves the frame",
         {{1, 4, 0, 0, 16, 12, 2}, {1, 4, 4, 2, 8, 6, 1}, {1, 300, 0, 0, 2, 2, 3}},
         {{0, 0, 3}, {6, 4, 1}, {15, 11, 2}}},
    };
    for (const ComposeCase& c : cases) {
        SCOPED_TRACE(c.name);
        GifEncoder e(16, 12, kPalette);
        for (const Frame& f : c.frames) {
            e.AddControlExtension(f.disposal, f.delay);
            e.AddImage(f.left, f.top, f.width, f.height, Pixels(f.width, f.height, f.colour));
        }
        e.AddTrailer();
        GlobalBlock block(e.Bytes());
        PictureOnPage p;
        ASSERT_TRUE(p.picture.LoadFromMemory(block.get(), block.size()));
        ASSERT_EQ(p.picture.GetFrameCount(), c.frames.size());
        p.picture.Show();
        const auto last = static_cast<std::uint32_t>(c.frames.size() - 1);
        const auto start = std::chrono::steady_clock::now();
        while (p.picture.GetCurrentFrame() != last &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(p.picture.GetCurrentFrame(), last);
        // The last frame stays three seconds; give its drawing time to finish.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        p.picture.StopAnimation();
        wintest::MemoryCanvas canvas(16, 12, RGB(1, 2, 3));
        SendMessageW(p.hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
        for (const auto& [x, y, index] : c.expected) {
            const COLORREF want =
                index < 0 ? p.picture.GetBkColor()
                          : RGB(kPalette[index].r, kPalette[index].g, kPalette[index].b);
            EXPECT_EQ(canvas.Pixel(x, y), want) << "at " << x << "," << y;
        }
    }
}

// A single image is a still picture: drawn at once, no thread.
TEST(Win32Picture, SingleImageGifIsAStillPicture) {
    GifEncoder e(8, 6, kPalette);
    e.AddImage(0, 0, 8, 6, Pixels(8, 6, 2));
    e.AddTrailer();
    GlobalBlock block(e.Bytes());
    PictureOnPage p;
    ASSERT_TRUE(p.picture.LoadFromMemory(block.get(), block.size()));
    EXPECT_TRUE(p.picture.IsGif());
    EXPECT_EQ(p.picture.GetFrameCount(), 0u);
    EXPECT_EQ(p.picture.Show(), 1);
    EXPECT_FALSE(p.picture.IsAnimating());
    EXPECT_EQ(p.WindowSize().cx, 8);
    wintest::MemoryCanvas canvas(8, 6, 0);
    SendMessageW(p.hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
    EXPECT_EQ(canvas.Pixel(3, 3), RGB(200, 0, 0));
}

// A bitmap file is a still picture whose size follows from its extent and the screen's
// resolution (96 dots per inch in the file and on the screen here).
TEST(Win32Picture, BitmapFileIsAStillPictureOfItsExtent) {
    constexpr int w = 40;
    constexpr int h = 30;
    const int stride = (w * 3 + 3) & ~3;
    std::vector<std::uint8_t> bmp(14 + 40 + static_cast<std::size_t>(stride) * h, 0);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfSize = static_cast<DWORD>(bmp.size());
    fh.bfOffBits = 14 + 40;
    BITMAPINFOHEADER ih{};
    ih.biSize = 40;
    ih.biWidth = w;
    ih.biHeight = h;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biXPelsPerMeter = 3780;
    ih.biYPelsPerMeter = 3780;
    std::memcpy(bmp.data(), &fh, 14);
    std::memcpy(bmp.data() + 14, &ih, 40);
    for (std::size_t i = 54; i < bmp.size(); i += 3) {
        bmp[i] = 255; // blue
    }
    GlobalBlock block(bmp);
    PictureOnPage p;
    ASSERT_TRUE(p.picture.LoadFromMemory(block.get(), block.size()));
    EXPECT_FALSE(p.picture.IsGif());
    HDC screen = GetDC(nullptr);
    const int dpiX = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    EXPECT_NEAR(p.picture.GetPictureSize().cx, MulDiv(w, dpiX, 96), 1);
    EXPECT_NEAR(p.picture.GetPictureSize().cy, MulDiv(h, dpiX, 96), 1);
    EXPECT_EQ(p.picture.Show(), 1);
}

TEST(Win32Picture, NothingToShow) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    GifEncoder noImage(8, 8, kPalette);
    noImage.AddComment("no picture here");
    noImage.AddTrailer();
    const Case cases[] = {
        {"not a picture", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}},
        {"gif without a graphic block", noImage.Bytes()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GlobalBlock block(c.bytes);
        PictureOnPage p;
        EXPECT_FALSE(p.picture.LoadFromMemory(block.get(), block.size()));
        EXPECT_FALSE(p.picture.IsInitialized());
        EXPECT_EQ(p.picture.Show(), 0);
        EXPECT_FALSE(p.picture.IsAnimating());
    }
    PictureOnPage p;
    EXPECT_FALSE(p.picture.LoadFromResource(MAKEINTRESOURCEW(231)));
    EXPECT_FALSE(p.picture.LoadFromResource(MAKEINTRESOURCEW(232), L"PNG"));
    EXPECT_EQ(p.picture.Show(), 0);
}

// Stopping with no thread only resets; destroying the window stops a running animation.
TEST(Win32Picture, StopWithoutThreadAndDestroyWhilePlaying) {
    PictureOnPage p;
    p.picture.StopAnimation();
    EXPECT_FALSE(p.picture.IsAnimating());
    ASSERT_TRUE(p.picture.LoadFromResource(MAKEINTRESOURCEW(232)));
    p.picture.Show();
    ASSERT_TRUE(p.picture.IsAnimating());
    DestroyWindow(p.hwnd);
    EXPECT_FALSE(p.picture.IsAnimating());
    EXPECT_EQ(p.picture.GetSafeHwnd(), nullptr);
}

} // namespace

namespace {

// The check page's picture control: 60 x 44 dialog units in template 112, the size of the
// animation once it is loaded.
TEST(Win32Picture, CheckPageControlTakesTheAnimationSize) {
    wintest::ParentWindow main(0, 0, 1100, 500, RGB(255, 255, 255));
    const std::vector<std::uint8_t> page =
        dormane::res::win32::BuildDialogTemplate(dormane::res::IDD_PAGE_CHECK);
    HWND dlg = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(page.data()), main.hwnd(),
        [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR { return msg == WM_INITDIALOG; }, 0);
    ASSERT_NE(dlg, nullptr);
    CPictureEx picture;
    ASSERT_TRUE(picture.SubclassDlgItem(dormane::res::IDC_ANIMATION, dlg));
    RECT units{0, 0, 60, 44};
    MapDialogRect(dlg, &units);
    RECT r{};
    GetWindowRect(picture.GetSafeHwnd(), &r);
    EXPECT_EQ(r.right - r.left, units.right);
    EXPECT_EQ(r.bottom - r.top, units.bottom);
    ASSERT_TRUE(picture.LoadFromResource(MAKEINTRESOURCEW(dormane::res::IDR_BUSY_GIF)));
    GetWindowRect(picture.GetSafeHwnd(), &r);
    EXPECT_EQ(r.right - r.left, 100);
    EXPECT_EQ(r.bottom - r.top, 100);
    DestroyWindow(dlg);
}

} // namespace
