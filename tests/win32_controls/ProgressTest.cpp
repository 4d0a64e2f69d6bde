// The flat progress bar: the two fills read back from a memory drawing context into which
// the bar paints itself (WM_PRINTCLIENT shares the paint handler).

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "CProgressEx.h"
#include "Win32TestSupport.h"

namespace {

constexpr COLORREF kTrack = RGB(200, 200, 200);
constexpr COLORREF kBlue = RGB(0, 120, 215);

struct FillCase {
    const char* name;
    int width;
    int lower;
    int upper;
    int position;
    int blue; // pixels expected in blue from the left edge
};

class ProgressFill : public testing::TestWithParam<FillCase> {};

// Every pixel is either track or fill, and the fill is a run from the left edge.
TEST_P(ProgressFill, PaintsTrackAndFill) {
    const FillCase& c = GetParam();
    wintest::ParentWindow parent(0, 0, 400, 50, RGB(255, 255, 255), false);
    HWND hwnd =
        CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0, c.width,
                        6, parent.hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(hwnd, nullptr);
    CProgressEx bar;
    ASSERT_TRUE(bar.SubclassWindow(hwnd));
    SendMessageW(hwnd, PBM_SETRANGE32, c.lower, c.upper);
    SendMessageW(hwnd, PBM_SETPOS, c.position, 0);

    wintest::MemoryCanvas canvas(c.width, 6, RGB(9, 9, 9));
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < c.width; ++x) {
            ASSERT_EQ(canvas.Pixel(x, y), x < c.blue ? kBlue : kTrack) << "at " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Win32, ProgressFill,
                         testing::Values(FillCase{"p42of100on346px", 346, 0, 100, 42, 145},
                                         FillCase{"emptyBar", 346, 0, 100, 0, 0},
                                         FillCase{"fullBar", 346, 0, 100, 100, 346},
                                         FillCase{"unevenWidthTruncates", 7, 0, 100, 99, 6},
                                         FillCase{"rangeOfZeroWidth", 346, 50, 50, 50, 0},
                                         FillCase{"rangeNotStartingAt0", 200, 100, 200, 150, 100}),
                         [](const testing::TestParamInfo<FillCase>& info) {
                             return std::string(info.param.name);
                         });

// Below the upper bound the blue part stays within position x width / 100 and leaves the
// right edge grey.
TEST(Win32Progress, FillNeverReachesTheEdgeEarly) {
    for (int width : {7, 99, 101, 346}) {
        for (int pos = 0; pos < 100; ++pos) {
            const int fill = CProgressEx::FillWidth(width, 0, 100, pos);
            EXPECT_LE(fill * 100, pos * width) << width << " px at " << pos;
            EXPECT_LT(fill, width) << width << " px at " << pos;
        }
        EXPECT_EQ(CProgressEx::FillWidth(width, 0, 100, 100), width);
    }
}

// The bar on screen: painted by its own paint handler, not the themed control's.
TEST(Win32Progress, PaintsOnScreen) {
    wintest::ParentWindow parent(60, 60, 400, 50, RGB(255, 255, 255));
    HWND hwnd = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 10, 10,
                                346, 6, parent.hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
    CProgressEx bar;
    ASSERT_TRUE(bar.SubclassWindow(hwnd));
    SendMessageW(hwnd, PBM_SETPOS, 42, 0);
    UpdateWindow(hwnd);
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(GetPixel(dc, 0, 0), kBlue);
    EXPECT_EQ(GetPixel(dc, 144, 5), kBlue);
    EXPECT_EQ(GetPixel(dc, 145, 0), kTrack);
    EXPECT_EQ(GetPixel(dc, 345, 5), kTrack);
    ReleaseDC(hwnd, dc);
}

} // namespace
