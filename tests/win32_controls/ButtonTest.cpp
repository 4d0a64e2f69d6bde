// The flat owner-drawn button: its colours, outline, caption and image read back from a
// memory drawing context, drawn through the parent's WM_DRAWITEM as the button control
// asks for it; hover, cursor, dialog codes and clicks through real window messages.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "CButtonST.h"
#include "DialogTemplateEx.h"
#include "Win32TestSupport.h"

namespace {

using wintest::MemoryCanvas;
using wintest::ParentWindow;

constexpr int kId = 1077;
constexpr int kW = 104;
constexpr int kH = 30;
constexpr COLORREF kGrey = RGB(112, 112, 112);
constexpr COLORREF kBlue = RGB(0, 120, 215);
constexpr COLORREF kFocusBk = RGB(10, 60, 30);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kFgNormal = RGB(255, 255, 0);
constexpr COLORREF kFgFocus = RGB(0, 255, 255);
constexpr COLORREF kPageGreen = RGB(30, 160, 90);

HWND MakeButton(HWND parent, const wchar_t* text, DWORD type, bool visible = true, int x = 20,
                int y = 20, int w = kW, int h = kH) {
    return CreateWindowExW(0, L"BUTTON", text,
                           WS_CHILD | WS_TABSTOP | (visible ? WS_VISIBLE : 0) | type, x, y, w, h,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kId)),
                           GetModuleHandleW(nullptr), nullptr);
}

// A button bound to a CButtonST on a page of one colour. The members go in reverse order, so
// the button object lets go of its window before the page goes.
struct ButtonOnPage {
    struct Options {
        const wchar_t* text = L"Next";
        DWORD type = BS_PUSHBUTTON;
        COLORREF page = kWhite;
        bool pageVisible = true;
        bool buttonVisible = true;
        RECT at{20, 20, kW, kH}; // left, top, width, height
    };
    explicit ButtonOnPage(const Options& o)
        : parent(50, 50, 400, 300, o.page, o.pageVisible),
          hwnd(MakeButton(parent.hwnd(), o.text, o.type, o.buttonVisible, o.at.left, o.at.top,
                          o.at.right, o.at.bottom)),
          bound(button.SubclassWindow(hwnd) != FALSE) {}

    ParentWindow parent;
    HWND hwnd;
    CButtonST button;
    bool bound;
};

// The navigation buttons' colours, with a focus background of its own to tell it apart.
void StyleLikeNext(CButtonST& b) {
    b.SetButtonColor(CLR_BK_NORMAL, kGrey);
    b.SetButtonColor(CLR_BK_HOT, kBlue);
    b.SetButtonColor(CLR_BK_FOCUS, kFocusBk);
    b.SetButtonColor(CLR_FG_HOT, kWhite);
    b.SetButtonColor(CLR_FG_NORMAL, kFgNormal);
    b.SetButtonColor(CLR_FG_FOCUS, kFgFocus);
}

// Asks the parent to draw the button, as the button control does.
void Draw(HWND parent, HWND button, HDC dc, UINT state, int w = kW, int h = kH) {
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = kId;
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = state;
    dis.hwndItem = button;
    dis.hDC = dc;
    dis.rcItem = RECT{0, 0, w, h};
    SendMessageW(parent, WM_DRAWITEM, kId, reinterpret_cast<LPARAM>(&dis));
}

// Puts the pointer over the button and reports the move to it, as the system would.
void Hover(HWND button) {
    RECT r{};
    GetWindowRect(button, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(button, WM_MOUSEMOVE, 0,
                 MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2));
}

HFONT CrispFont() {
    return CreateFontW(-15, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                       DEFAULT_PITCH, L"Tahoma");
}

struct StateCase {
    const char* name;
    UINT itemState;
    bool hot;
    COLORREF background;
    COLORREF caption;
};

class ButtonStates : public testing::TestWithParam<StateCase> {};

// Background and caption colour of each state, and no caption pixel in any other colour.
TEST_P(ButtonStates, BackgroundAndCaptionColours) {
    const StateCase& c = GetParam();
    ButtonOnPage page({});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    StyleLikeNext(button);
    button.SetBorder(FALSE);
    HFONT font = CrispFont();
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (c.hot) {
        Hover(hwnd);
        ASSERT_TRUE(button.IsHot());
    }
    MemoryCanvas canvas(kW, kH, RGB(1, 2, 3));
    Draw(parent.hwnd(), hwnd, canvas.dc(), c.itemState);

    EXPECT_EQ(canvas.Pixel(0, 0), c.background);
    EXPECT_EQ(canvas.Pixel(kW - 1, kH - 1), c.background);
    const RECT text = canvas.BoundsOfPixelsOtherThan(c.background);
    ASSERT_LT(text.left, text.right) << "no caption drawn";
    int captionPixels = 0;
    for (int y = text.top; y < text.bottom; ++y) {
        for (int x = text.left; x < text.right; ++x) {
            const COLORREF p = canvas.Pixel(x, y);
            if (p != c.background) {
                EXPECT_EQ(p, c.caption) << "at " << x << "," << y;
                ++captionPixels;
            }
        }
    }
    EXPECT_GT(captionPixels, 20);
    DeleteObject(font);
}

INSTANTIATE_TEST_SUITE_P(
    Win32, ButtonStates,
    testing::Values(StateCase{"rest", 0, false, kGrey, kFgNormal},
                    StateCase{"focused", ODS_FOCUS, false, kFocusBk, kFgFocus},
                    StateCase{"pressed", ODS_SELECTED, false, kBlue, kWhite},
                    StateCase{"pressedAndFocused", ODS_SELECTED | ODS_FOCUS, false, kBlue, kWhite},
                    StateCase{"hot", 0, true, kBlue, kWhite},
                    StateCase{"hotAndFocused", ODS_FOCUS, true, kBlue, kWhite}),
    [](const testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

struct BorderCase {
    const char* name;
    UINT itemState;
    bool hot;
    bool border;
    int topLeftColour;     // system colour index, or -1 for the background
    int bottomRightColour; // likewise
};

class ButtonBorder : public testing::TestWithParam<BorderCase> {};

// Raised while hot, sunken while pressed, none at rest or when switched off.
TEST_P(ButtonBorder, OutlineColours) {
    const BorderCase& c = GetParam();
    ButtonOnPage page({.text = L""});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    StyleLikeNext(button);
    button.SetBorder(c.border ? TRUE : FALSE);
    if (c.hot) {
        Hover(hwnd);
        ASSERT_TRUE(button.IsHot());
    }
    MemoryCanvas canvas(kW, kH, RGB(1, 2, 3));
    Draw(parent.hwnd(), hwnd, canvas.dc(), c.itemState);
    const COLORREF bk = (c.hot || (c.itemState & ODS_SELECTED)) ? kBlue : kGrey;
    const auto colour = [bk](int index) { return index < 0 ? bk : GetSysColor(index); };
    const COLORREF tl = colour(c.topLeftColour);
    const COLORREF br = colour(c.bottomRightColour);
    EXPECT_EQ(canvas.Pixel(0, 0), tl);
    EXPECT_EQ(canvas.Pixel(kW / 2, 0), tl);
    EXPECT_EQ(canvas.Pixel(0, kH / 2), tl);
    EXPECT_EQ(canvas.Pixel(kW - 1, kH / 2), br);
    EXPECT_EQ(canvas.Pixel(kW / 2, kH - 1), br);
    EXPECT_EQ(canvas.Pixel(kW - 1, 0), br) << "the right edge runs the full height";
    EXPECT_EQ(canvas.Pixel(1, 1), bk);
}

INSTANTIATE_TEST_SUITE_P(
    Win32, ButtonBorder,
    testing::Values(BorderCase{"rest", 0, false, true, -1, -1},
                    BorderCase{"hotRaised", 0, true, true, COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW},
                    BorderCase{"pressedSunken", ODS_SELECTED, false, true, COLOR_BTNSHADOW,
                               COLOR_BTNHIGHLIGHT},
                    BorderCase{"pressedWithoutBorder", ODS_SELECTED, false, false, -1, -1},
                    BorderCase{"hotWithoutBorder", 0, true, false, -1, -1}),
    [](const testing::TestParamInfo<BorderCase>& info) { return std::string(info.param.name); });

TEST(Win32Button, PressedCaptionMovesOnePixelRightAndDown) {
    ButtonOnPage page({});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    StyleLikeNext(button);
    button.SetBorder(FALSE);
    HFONT font = CrispFont();
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    Hover(hwnd);
    MemoryCanvas hot(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, hot.dc(), 0);
    MemoryCanvas pressed(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, pressed.dc(), ODS_SELECTED);
    const RECT a = hot.BoundsOfPixelsOtherThan(kBlue);
    const RECT b = pressed.BoundsOfPixelsOtherThan(kBlue);
    ASSERT_LT(a.left, a.right);
    EXPECT_EQ(b.left, a.left + 1);
    EXPECT_EQ(b.top, a.top + 1);
    EXPECT_EQ(b.right, a.right + 1);
    EXPECT_EQ(b.bottom, a.bottom + 1);
    // Centred: the margins left and right differ by at most one pixel.
    EXPECT_LE(std::abs((a.left - 0) - (kW - a.right)), 1);
    DeleteObject(font);
}

// A transparent image button without border over a green page: the page around the image
// and under its black pixels, the image's own colours elsewhere; pressed, one pixel lower
// and to the right.
TEST(Win32Button, TransparentImageShowsThePageAroundAndUnderItsKeyColour) {
    constexpr int bw = 200;
    constexpr int bh = 190;
    // Hidden, so that the page under it is the page's own colour.
    ButtonOnPage page(
        {.text = L"", .page = kPageGreen, .buttonVisible = false, .at = {30, 40, bw, bh}});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    // A black image with a red square: black is the key colour.
    const RECT redSquare{40, 50, 120, 130};
    HBITMAP hot = wintest::MakeBitmap(177, 177, RGB(0, 0, 0), redSquare, RGB(200, 0, 0));
    HBITMAP normal = wintest::MakeBitmap(177, 177, RGB(0, 0, 0), redSquare, RGB(200, 0, 0));
    ASSERT_EQ(button.SetImages(hot, normal), 0);
    button.SetTransparent();
    button.SetBorder(FALSE);

    for (const bool pressedState : {false, true}) {
        MemoryCanvas canvas(bw, bh, RGB(1, 2, 3));
        Draw(parent.hwnd(), hwnd, canvas.dc(), pressedState ? ODS_SELECTED : 0, bw, bh);
        const int shift = pressedState ? 1 : 0;
        const int left = (bw - 177) / 2 + shift;
        const int top = (bh - 177) / 2 + shift;
        SCOPED_TRACE(pressedState ? "pressed" : "at rest");
        EXPECT_EQ(canvas.Pixel(0, 0), kPageGreen);
        EXPECT_EQ(canvas.Pixel(bw - 1, bh - 1), kPageGreen);
        EXPECT_EQ(canvas.Pixel(left + 5, top + 5), kPageGreen) << "black is see-through";
        EXPECT_EQ(canvas.Pixel(left + redSquare.left, top + redSquare.top), RGB(200, 0, 0));
        EXPECT_EQ(canvas.Pixel(left + redSquare.right - 1, top + redSquare.bottom - 1),
                  RGB(200, 0, 0));
        EXPECT_EQ(canvas.Pixel(left + redSquare.left - 1, top + redSquare.top), kPageGreen);
        EXPECT_EQ(canvas.BoundsOfPixelsOtherThan(kPageGreen).left, left + redSquare.left);
    }
}

// The page under a transparent button is copied once; SetTransparent takes it again.
TEST(Win32Button, TransparentBackgroundIsCachedUntilSetAgain) {
    ButtonOnPage page({.text = L"", .page = kPageGreen, .buttonVisible = false});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    button.SetTransparent();
    button.SetBorder(FALSE);
    MemoryCanvas first(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, first.dc(), 0);
    EXPECT_EQ(first.Pixel(kW / 2, kH / 2), kPageGreen);

    parent.SetColour(RGB(250, 240, 10));
    MemoryCanvas cached(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, cached.dc(), 0);
    EXPECT_EQ(cached.Pixel(kW / 2, kH / 2), kPageGreen);

    button.SetTransparent();
    MemoryCanvas fresh(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, fresh.dc(), 0);
    EXPECT_EQ(fresh.Pixel(kW / 2, kH / 2), RGB(250, 240, 10));
}

// Only pure black is the key: a near-black image is drawn as it is.
TEST(Win32Button, ImageWithoutPureBlackIsOpaque) {
    ButtonOnPage page({.text = L"", .page = kPageGreen, .buttonVisible = false});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    button.SetTransparent();
    button.SetBorder(FALSE);
    ASSERT_EQ(button.SetImages(wintest::MakeBitmap(20, 10, RGB(1, 1, 1)), nullptr), 0);
    MemoryCanvas canvas(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, canvas.dc(), 0);
    const RECT image = canvas.BoundsOfPixelsOtherThan(kPageGreen);
    EXPECT_EQ(image.right - image.left, 20);
    EXPECT_EQ(image.bottom - image.top, 10);
    EXPECT_EQ(canvas.Pixel(image.left, image.top), RGB(1, 1, 1));
}

// The hot image while hot or pressed, the normal one at rest.
TEST(Win32Button, ImageOfTheState) {
    ButtonOnPage page({.text = L""});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    button.SetBorder(FALSE);
    StyleLikeNext(button);
    ASSERT_EQ(button.SetImages(wintest::MakeBitmap(10, 10, RGB(0, 0, 200)),
                               wintest::MakeBitmap(10, 10, RGB(0, 200, 0))),
              0);
    const int cx = kW / 2;
    const int cy = kH / 2;
    MemoryCanvas rest(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, rest.dc(), 0);
    EXPECT_EQ(rest.Pixel(cx, cy), RGB(0, 200, 0));
    MemoryCanvas pressed(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, pressed.dc(), ODS_SELECTED);
    EXPECT_EQ(pressed.Pixel(cx, cy), RGB(0, 0, 200));
    Hover(hwnd);
    MemoryCanvas hot(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, hot.dc(), 0);
    EXPECT_EQ(hot.Pixel(cx, cy), RGB(0, 0, 200));
}

// Replaced images are deleted; a failure removes both images and deletes what was given.
TEST(Win32Button, ImagesAreOwnedAndReplaced) {
    ButtonOnPage page({.text = L"", .pageVisible = false});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    BITMAP bm{};
    HBITMAP first = wintest::MakeBitmap(8, 8, RGB(9, 9, 9));
    HBITMAP firstNormal = wintest::MakeBitmap(8, 8, RGB(9, 9, 9));
    ASSERT_EQ(button.SetImages(first, firstNormal), 0);
    HBITMAP second = wintest::MakeBitmap(8, 8, RGB(9, 9, 9));
    ASSERT_EQ(button.SetImages(second, nullptr), 0);
    EXPECT_EQ(GetObjectW(first, sizeof(bm), &bm), 0) << "the first hot image is still alive";
    EXPECT_EQ(GetObjectW(firstNormal, sizeof(bm), &bm), 0);
    EXPECT_NE(GetObjectW(second, sizeof(bm), &bm), 0);

    HBITMAP kept = wintest::MakeBitmap(8, 8, RGB(9, 9, 9));
    // A brush where a bitmap belongs: its size cannot be read.
    const auto notABitmap = reinterpret_cast<HBITMAP>(CreateSolidBrush(RGB(1, 1, 1)));
    EXPECT_EQ(button.SetImages(kept, notABitmap), 1);
    EXPECT_EQ(GetObjectW(second, sizeof(bm), &bm), 0);
    EXPECT_EQ(GetObjectType(kept), 0u) << "a failed SetImages keeps nothing";
    EXPECT_EQ(GetObjectType(notABitmap), 0u);
    StyleLikeNext(button);
    MemoryCanvas canvas(kW, kH, 0);
    Draw(parent.hwnd(), hwnd, canvas.dc(), 0);
    const RECT drawn = canvas.BoundsOfPixelsOtherThan(kGrey);
    EXPECT_TRUE(IsRectEmpty(&drawn)) << "an image was drawn after a failed SetImages";
}

TEST(Win32Button, HoverFollowsThePointer) {
    ButtonOnPage page({});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    Hover(hwnd);
    EXPECT_TRUE(button.IsHot());
    TRACKMOUSEEVENT query{sizeof(query), TME_QUERY, nullptr, 0};
    ASSERT_TRUE(TrackMouseEvent(&query));
    EXPECT_EQ(query.hwndTrack, hwnd);
    EXPECT_NE(query.dwFlags & TME_LEAVE, 0u) << "the leave is not watched";

    // A move reported at a point outside the button, over the parent.
    SendMessageW(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(kW + 40, kH + 40));
    EXPECT_FALSE(button.IsHot());
}

TEST(Win32Button, DraggingOntoTheButtonDoesNotLightIt) {
    ButtonOnPage page({});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    SendMessageW(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(kW / 2, kH / 2));
    EXPECT_FALSE(button.IsHot());
}

struct LeaveCase {
    const char* name;
    bool toParent;
    UINT msg;
    WPARAM wParam;
};

class ButtonLeavesHot : public testing::TestWithParam<LeaveCase> {};

TEST_P(ButtonLeavesHot, ClearsTheHighlight) {
    const LeaveCase& c = GetParam();
    ButtonOnPage page({});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    Hover(hwnd);
    ASSERT_TRUE(button.IsHot());
    if (c.msg == WM_ENABLE) {
        EnableWindow(hwnd, FALSE);
    } else {
        SendMessageW(c.toParent ? parent.hwnd() : hwnd, c.msg, c.wParam, 0);
    }
    EXPECT_FALSE(button.IsHot());
}

INSTANTIATE_TEST_SUITE_P(
    Win32, ButtonLeavesHot,
    testing::Values(LeaveCase{"pointerLeaves", false, WM_MOUSELEAVE, 0},
                    LeaveCase{"focusLost", false, WM_KILLFOCUS, 0},
                    LeaveCase{"cancelMode", false, WM_CANCELMODE, 0},
                    LeaveCase{"disabled", false, WM_ENABLE, 0},
                    LeaveCase{"windowDeactivated", true, WM_ACTIVATE, WA_INACTIVE}),
    [](const testing::TestParamInfo<LeaveCase>& info) { return std::string(info.param.name); });

// The hand cursor 3001 of the program's resources, shown over the button.
TEST(Win32Button, HoverCursorIsTheHand) {
    ButtonOnPage page({});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    EXPECT_EQ(button.GetHoverCursor(), nullptr);
    button.SetHoverCursor(3001);
    const HCURSOR hand = button.GetHoverCursor();
    ASSERT_NE(hand, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(hand, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.xHotspot, 5u);
    EXPECT_EQ(info.yHotspot, 0u);
    DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) {
        DeleteObject(info.hbmColor);
    }
    SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));
    EXPECT_EQ(SendMessageW(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), hand);
}

struct DlgCodeCase {
    const char* name;
    DWORD templateType;
    WPARAM newStyle; // BM_SETSTYLE from the dialog manager, or 0xFFFF for none
    LRESULT pushFlag;
};

class ButtonDialogCode : public testing::TestWithParam<DlgCodeCase> {};

// Enter in a dialog presses the focused button: the code says default or not, and the
// button stays owner-drawn whatever type the dialog manager gives it.
TEST_P(ButtonDialogCode, DefaultFlagFollowsTheDialogManager) {
    const DlgCodeCase& c = GetParam();
    ButtonOnPage page({.type = c.templateType, .pageVisible = false});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_NE(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_TABSTOP, 0) << "other style bits kept";
    if (c.newStyle != 0xFFFF) {
        SendMessageW(hwnd, BM_SETSTYLE, c.newStyle, TRUE);
        EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    }
    const LRESULT code = SendMessageW(hwnd, WM_GETDLGCODE, 0, 0);
    EXPECT_EQ(code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON), c.pushFlag);
    EXPECT_NE(code & DLGC_BUTTON, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Win32, ButtonDialogCode,
    testing::Values(DlgCodeCase{"plain", BS_PUSHBUTTON, 0xFFFF, DLGC_UNDEFPUSHBUTTON},
                    DlgCodeCase{"defaultInTemplate", BS_DEFPUSHBUTTON, 0xFFFF, DLGC_DEFPUSHBUTTON},
                    DlgCodeCase{"madeDefault", BS_PUSHBUTTON, BS_DEFPUSHBUTTON, DLGC_DEFPUSHBUTTON},
                    DlgCodeCase{"madePlain", BS_DEFPUSHBUTTON, BS_PUSHBUTTON,
                                DLGC_UNDEFPUSHBUTTON}),
    [](const testing::TestParamInfo<DlgCodeCase>& info) { return std::string(info.param.name); });

TEST(Win32Button, ClickTakesTheFocusAndNotifiesTheParent) {
    ButtonOnPage page({});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    SetForegroundWindow(parent.hwnd());
    const LPARAM at = MAKELPARAM(kW / 2, kH / 2);
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    EXPECT_EQ(GetFocus(), hwnd);
    SendMessageW(hwnd, WM_LBUTTONUP, 0, at);
    wintest::PumpMessages();
    ASSERT_EQ(parent.Commands().size(), 1u);
    EXPECT_EQ(parent.Commands()[0], std::make_pair(kId, static_cast<int>(BN_CLICKED)));
}

// A double click counts as a second click.
TEST(Win32Button, DoubleClickIsASecondClick) {
    ButtonOnPage page({});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    SetForegroundWindow(parent.hwnd());
    const LPARAM at = MAKELPARAM(kW / 2, kH / 2);
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(hwnd, WM_LBUTTONUP, 0, at);
    SendMessageW(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageW(hwnd, WM_LBUTTONUP, 0, at);
    wintest::PumpMessages();
    ASSERT_EQ(parent.Commands().size(), 2u);
    EXPECT_EQ(parent.Commands()[1].second, BN_CLICKED);
}

TEST(Win32Button, SystemColourChangeBringsBackTheSystemColours) {
    ButtonOnPage page({.pageVisible = false});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    StyleLikeNext(button);
    SendMessageW(parent.hwnd(), WM_SYSCOLORCHANGE, 0, 0);
    for (int slot = 0; slot < CLR_MAX_COLORS; ++slot) {
        const bool text = slot % 2 == 1;
        EXPECT_EQ(button.GetButtonColor(slot), GetSysColor(text ? COLOR_BTNTEXT : COLOR_BTNFACE))
            << "slot " << slot;
    }
    EXPECT_EQ(button.GetButtonColor(CLR_MAX_COLORS), CLR_INVALID);
}

// The button's control-colour request is answered with the hollow brush; other controls'
// requests reach the parent's own procedure.
TEST(Win32Button, ControlColourIsHollow) {
    ButtonOnPage page({.pageVisible = false});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    MemoryCanvas canvas(4, 4, 0);
    EXPECT_EQ(SendMessageW(parent.hwnd(), WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(canvas.dc()),
                           reinterpret_cast<LPARAM>(hwnd)),
              reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)));
    button.UnsubclassWindow();
    EXPECT_NE(SendMessageW(parent.hwnd(), WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(canvas.dc()),
                           reinterpret_cast<LPARAM>(hwnd)),
              reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)));
}

// The button window may go before the object: the parent stops forwarding to it.
TEST(Win32Button, DestroyedButtonLeavesTheParentAlone) {
    ButtonOnPage page({.pageVisible = false});
    ASSERT_TRUE(page.bound);
    auto& [parent, hwnd, button, bound] = page;
    DestroyWindow(hwnd);
    EXPECT_EQ(button.GetSafeHwnd(), nullptr);
    MemoryCanvas canvas(kW, kH, RGB(1, 2, 3));
    Draw(parent.hwnd(), hwnd, canvas.dc(), 0);
    EXPECT_EQ(canvas.Pixel(kW / 2, kH / 2), RGB(1, 2, 3));
}

} // namespace

namespace {

// The mode page's enable button as the page sets it up: bitmap 225 (177 x 177) on a
// transparent, borderless button bound to control 3038 of template 104 on a white page. The
// page shows around the image, never a grey fill; pressed, the image moves down and right.
TEST(Win32Button, ModePageImageButtonShowsThePageAroundItsImage) {
    ParentWindow main(0, 0, 1100, 500, kWhite);
    const std::vector<std::uint8_t> page =
        dormane::res::win32::BuildDialogTemplate(dormane::res::IDD_PAGE_STEP2);
    HWND dlg = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(page.data()), main.hwnd(),
        [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR {
            // The page's white background.
            if (msg == WM_CTLCOLORDLG) {
                return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
            }
            return msg == WM_INITDIALOG;
        },
        0);
    ASSERT_NE(dlg, nullptr);
    CButtonST button;
    ASSERT_TRUE(button.SubclassDlgItem(dormane::res::IDC_ENABLE, dlg));
    const HMODULE module = GetModuleHandleW(nullptr);
    const auto load = [module] {
        return static_cast<HBITMAP>(LoadImageW(module,
                                               MAKEINTRESOURCEW(dormane::res::IDB_ENABLE_ON),
                                               IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    };
    ASSERT_EQ(button.SetImages(load(), load()), 0);
    button.SetTransparent();
    button.SetBorder(FALSE);
    button.SetHoverCursor(dormane::res::IDR_HAND_CURSOR);
    ShowWindow(dlg, SW_SHOW);
    UpdateWindow(dlg);

    RECT r{};
    GetClientRect(button.GetSafeHwnd(), &r);
    const HBITMAP reference = load();
    HDC refDc = CreateCompatibleDC(nullptr);
    const HGDIOBJ old = SelectObject(refDc, reference);
    for (const UINT state : {0u, static_cast<UINT>(ODS_SELECTED)}) {
        SCOPED_TRACE(state);
        MemoryCanvas canvas(r.right, r.bottom, RGB(1, 2, 3));
        Draw(dlg, button.GetSafeHwnd(), canvas.dc(), state, r.right, r.bottom);
        const int shift = state == ODS_SELECTED ? 1 : 0;
        const int left = (r.right - 177) / 2 + shift;
        const int top = (r.bottom - 177) / 2 + shift;
        for (int y = 0; y < r.bottom; ++y) {
            for (int x = 0; x < r.right; ++x) {
                const bool inImage = x >= left && x < left + 177 && y >= top && y < top + 177;
                const COLORREF source = inImage ? GetPixel(refDc, x - left, y - top) : 0;
                const COLORREF want = (!inImage || source == RGB(0, 0, 0)) ? kWhite : source;
                ASSERT_EQ(canvas.Pixel(x, y), want) << "at " << x << "," << y;
            }
        }
    }
    SelectObject(refDc, old);
    DeleteDC(refDc);
    DeleteObject(reference);
    DestroyWindow(dlg);
}

} // namespace
