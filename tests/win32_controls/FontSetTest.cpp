// The Win32 font set: ten separate "Segoe UI" fonts, each with its size, weight and
// underline, sized from the resolution.

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "CPageEx.h"
#include "Palette.h"

namespace {

struct HeightCase {
    int dpi;
    int points11;
    int points14;
    int points18;
};

class FontHeights : public testing::TestWithParam<HeightCase> {};

TEST_P(FontHeights, SizedFromTheResolution) {
    const HeightCase& c = GetParam();
    EXPECT_EQ(CPageEx::PixelHeight(11, c.dpi), c.points11);
    EXPECT_EQ(CPageEx::PixelHeight(14, c.dpi), c.points14);
    EXPECT_EQ(CPageEx::PixelHeight(18, c.dpi), c.points18);

    CPageEx set(c.dpi);
    struct Member {
        HFONT CPageEx::*font;
        int height;
        int weight;
        bool underline;
    };
    const Member members[] = {
        {&CPageEx::m_fontTitle, c.points11, FW_NORMAL, false},
        {&CPageEx::m_fontButton, c.points11, FW_NORMAL, false},
        {&CPageEx::m_fontHeading, c.points18, FW_NORMAL, false},
        {&CPageEx::m_fontBody, c.points11, FW_NORMAL, false},
        {&CPageEx::m_fontStep, c.points11, FW_NORMAL, false},
        {&CPageEx::m_fontStepCurrent, c.points11, FW_BOLD, true},
        {&CPageEx::m_fontOption, c.points14, FW_BOLD, false},
        {&CPageEx::m_fontOptionText, c.points11, FW_NORMAL, false},
        {&CPageEx::m_fontResult, c.points18, FW_BOLD, false},
        {&CPageEx::m_fontResultText, c.points18, FW_NORMAL, false},
    };
    std::set<HFONT> distinct;
    int index = 0;
    for (const Member& m : members) {
        SCOPED_TRACE(index++);
        const HFONT font = set.*m.font;
        ASSERT_NE(font, nullptr);
        distinct.insert(font);
        LOGFONTW lf{};
        ASSERT_EQ(GetObjectW(font, sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
        EXPECT_EQ(lf.lfHeight, -m.height) << "a character height, not a cell height";
        EXPECT_EQ(lf.lfWidth, 0);
        EXPECT_EQ(lf.lfWeight, m.weight);
        EXPECT_EQ(lf.lfUnderline != 0, m.underline);
        EXPECT_EQ(lf.lfItalic, 0);
        EXPECT_EQ(lf.lfStrikeOut, 0);
        EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
        EXPECT_STREQ(lf.lfFaceName, L"Segoe UI");
    }
    EXPECT_EQ(distinct.size(), 10u) << "each use takes its own font";
}

INSTANTIATE_TEST_SUITE_P(Win32, FontHeights,
                         testing::Values(HeightCase{96, 15, 19, 24}, HeightCase{120, 18, 23, 30},
                                         HeightCase{144, 22, 28, 36}),
                         [](const testing::TestParamInfo<HeightCase>& info) {
                             return "dpi" + std::to_string(info.param.dpi);
                         });

// Two sets never share a font, and a set's fonts go with it.
TEST(Win32FontSet, EverySetOwnsItsFonts) {
    HFONT first = nullptr;
    {
        CPageEx a;
        CPageEx b;
        EXPECT_EQ(a.DpiY(), CPageEx::ScreenDpiY());
        EXPECT_NE(a.m_fontHeading, b.m_fontHeading);
        first = a.m_fontHeading;
    }
    LOGFONTW lf{};
    EXPECT_EQ(GetObjectW(first, sizeof(lf), &lf), 0) << "font outlived its set";
}

TEST(Win32Palette, ColoursAreRedInTheLowByte) {
    using namespace dormane::palette;
    EXPECT_EQ(kAccentBlue, 0x00D77800u);
    EXPECT_EQ(kAlertRed, 0x000000FFu);
    EXPECT_EQ(kFrameBlue, 0x00D79600u);
    EXPECT_EQ(kButtonGrey, 0x00707070u);
}

} // namespace
