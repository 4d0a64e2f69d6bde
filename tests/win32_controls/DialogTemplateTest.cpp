// The in-memory extended dialog templates: every table parsed back field by field, then
// handed to the dialog manager, whose windows must sit where the table says.

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DialogTemplateEx.h"
#include "DialogTemplates.h"

namespace {

namespace res = dormane::res;
namespace rw = dormane::res::win32;

// Reads a template the way the dialog manager does.
class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    WORD Word() { return Read<WORD>(); }
    DWORD Dword() { return Read<DWORD>(); }
    short Short() { return Read<short>(); }
    BYTE Byte() { return Read<BYTE>(); }
    std::wstring String() {
        std::wstring s;
        for (WORD c = Word(); c != 0; c = Word()) {
            s.push_back(static_cast<wchar_t>(c));
        }
        return s;
    }
    // A name or an ordinal (0xFFFF followed by the number, given back as "#number").
    std::wstring NameOrOrdinal() {
        const std::size_t at = m_pos;
        if (Word() == 0xFFFF) {
            return L"#" + std::to_wstring(Word());
        }
        m_pos = at;
        return String();
    }
    void AlignDword() { m_pos = (m_pos + 3) & ~std::size_t{3}; }
    std::size_t Pos() const { return m_pos; }
    bool Overran() const { return m_pos > m_bytes.size(); }

private:
    template <typename T> T Read() {
        T v{};
        if (m_pos + sizeof(T) <= m_bytes.size()) {
            std::memcpy(&v, m_bytes.data() + m_pos, sizeof(T));
        }
        m_pos += sizeof(T);
        return v;
    }
    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_pos = 0;
};

std::wstring Wide(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring s(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, s.data(), n);
    s.resize(static_cast<std::size_t>(n) - 1);
    return s;
}

class TemplateOf : public testing::TestWithParam<int> {};

TEST_P(TemplateOf, ParsesBackToItsTable) {
    const res::DialogTemplate* t = res::FindDialogTemplate(GetParam());
    ASSERT_NE(t, nullptr);
    const std::vector<std::uint8_t> bytes = rw::BuildDialogTemplate(*t);
    Reader r(bytes);
    EXPECT_EQ(r.Word(), 1);      // dlgVer
    EXPECT_EQ(r.Word(), 0xFFFF); // extended
    r.Dword();                   // helpID
    const DWORD exStyle = r.Dword();
    const DWORD style = r.Dword();
    EXPECT_NE(style & DS_SETFONT, 0u);
    EXPECT_EQ(style & WS_VISIBLE, 0u) << "visible at creation";
    if (t->popup) {
        EXPECT_EQ(style & (WS_POPUP | WS_BORDER | WS_SYSMENU),
                  DWORD{WS_POPUP | WS_BORDER | WS_SYSMENU});
        EXPECT_EQ(style & WS_DLGFRAME, 0u) << "no caption";
        EXPECT_EQ(style & WS_CHILD, 0u);
    } else {
        EXPECT_NE(style & WS_CHILD, 0u);
        EXPECT_NE(style & DS_CONTROL, 0u);
        EXPECT_NE(exStyle & WS_EX_CONTROLPARENT, 0u);
    }
    EXPECT_EQ(r.Word(), t->controls.size());
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), t->cx);
    EXPECT_EQ(r.Short(), t->cy);
    EXPECT_EQ(r.NameOrOrdinal(), L"") << "menu";
    EXPECT_EQ(r.NameOrOrdinal(), L"") << "class";
    EXPECT_EQ(r.String(), L"") << "title";
    EXPECT_EQ(r.Word(), 8) << "points";
    EXPECT_EQ(r.Word(), FW_NORMAL);
    EXPECT_EQ(r.Byte(), 0) << "italic";
    EXPECT_EQ(r.Byte(), DEFAULT_CHARSET);
    EXPECT_EQ(r.String(), L"MS Shell Dlg");
    for (const res::ControlTemplate& c : t->controls) {
        SCOPED_TRACE(c.id);
        r.AlignDword();
        r.Dword(); // helpID
        r.Dword(); // exStyle
        const DWORD cs = r.Dword();
        EXPECT_NE(cs & WS_CHILD, 0u);
        EXPECT_NE(cs & WS_VISIBLE, 0u);
        EXPECT_EQ(r.Short(), c.x);
        EXPECT_EQ(r.Short(), c.y);
        EXPECT_EQ(r.Short(), c.cx);
        EXPECT_EQ(r.Short(), c.cy);
        EXPECT_EQ(static_cast<int>(r.Dword()), c.id);
        const std::wstring cls = r.NameOrOrdinal();
        const std::wstring text = r.NameOrOrdinal();
        switch (c.kind) {
        case res::CtlKind::Button:
            EXPECT_EQ(cls, L"#128");
            EXPECT_EQ(cs & BS_TYPEMASK, DWORD{BS_PUSHBUTTON});
            EXPECT_NE(cs & WS_TABSTOP, 0u);
            EXPECT_EQ(text, Wide(c.text));
            break;
        case res::CtlKind::Bitmap:
            EXPECT_EQ(cls, L"#130");
            EXPECT_EQ(cs & SS_TYPEMASK, DWORD{SS_BITMAP});
            EXPECT_EQ(text, L"#" + std::to_wstring(c.image));
            break;
        case res::CtlKind::Progress:
            EXPECT_EQ(cls, L"msctls_progress32");
            EXPECT_NE(cs & PBS_SMOOTH, 0u);
            break;
        case res::CtlKind::Text:
        case res::CtlKind::AnimatedPicture:
            EXPECT_EQ(cls, L"#130");
            EXPECT_EQ(text, Wide(c.text));
            EXPECT_EQ(cs & WS_TABSTOP, 0u) << "texts take no focus";
            break;
        }
        EXPECT_EQ(r.Word(), 0) << "creation data";
    }
    EXPECT_FALSE(r.Overran());
    EXPECT_EQ(r.Pos(), bytes.size());
}

// The dialog manager's reading: every control exists with its class and text, at the
// table's rectangle in dialog units (pictures take their bitmap's size), in the dialog
// font "MS Shell Dlg" at 8 points.
TEST_P(TemplateOf, DialogManagerBuildsTheTable) {
    const res::DialogTemplate* t = res::FindDialogTemplate(GetParam());
    ASSERT_NE(t, nullptr);
    const std::vector<std::uint8_t> bytes = rw::BuildDialogTemplate(*t);
    HWND owner = CreateWindowExW(0, L"Static", L"owner", WS_POPUP, 0, 0, 1200, 800, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND dlg = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), owner,
        [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR { return msg == WM_INITDIALOG; }, 0);
    ASSERT_NE(dlg, nullptr) << "error " << GetLastError();

    RECT size{0, 0, t->cx, t->cy};
    MapDialogRect(dlg, &size);
    RECT client{};
    GetClientRect(dlg, &client);
    if (!t->popup) {
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);
    }
    const auto font = reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW lf{};
    GetObjectW(font, sizeof(lf), &lf);
    EXPECT_STREQ(lf.lfFaceName, L"MS Shell Dlg");
    HDC dc = GetDC(dlg);
    EXPECT_EQ(lf.lfHeight, -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72));
    ReleaseDC(dlg, dc);

    int index = 0;
    HWND child = GetWindow(dlg, GW_CHILD);
    for (const res::ControlTemplate& c : t->controls) {
        SCOPED_TRACE(c.id);
        ASSERT_NE(child, nullptr) << "control " << index << " missing";
        EXPECT_EQ(GetDlgCtrlID(child), c.id);
        wchar_t cls[64] = {};
        GetClassNameW(child, cls, 64);
        // The dialog manager maps the position and the size each on its own.
        RECT units{c.x, c.y, c.cx, c.cy};
        MapDialogRect(dlg, &units);
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(HWND_DESKTOP, dlg, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, units.left);
        EXPECT_EQ(r.top, units.top);
        if (c.kind == res::CtlKind::Bitmap) {
            EXPECT_STREQ(cls, L"Static");
            const auto bitmap =
                reinterpret_cast<HBITMAP>(SendMessageW(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
            ASSERT_NE(bitmap, nullptr) << "bitmap " << c.image << " not loaded";
            BITMAP bm{};
            GetObjectW(bitmap, sizeof(bm), &bm);
            EXPECT_EQ(r.right - r.left, bm.bmWidth);
            EXPECT_EQ(r.bottom - r.top, bm.bmHeight);
        } else {
            EXPECT_EQ(r.right - r.left, units.right);
            EXPECT_EQ(r.bottom - r.top, units.bottom);
            EXPECT_STREQ(cls, c.kind == res::CtlKind::Button     ? L"Button"
                              : c.kind == res::CtlKind::Progress ? L"msctls_progress32"
                                                                 : L"Static");
        }
        if (c.kind == res::CtlKind::Text || c.kind == res::CtlKind::Button) {
            wchar_t text[512] = {};
            GetWindowTextW(child, text, 512);
            EXPECT_EQ(std::wstring(text), Wide(c.text));
        }
        child = GetWindow(child, GW_HWNDNEXT);
        ++index;
    }
    EXPECT_EQ(child, nullptr) << "more controls than the table";
    DestroyWindow(dlg);
    DestroyWindow(owner);
}

INSTANTIATE_TEST_SUITE_P(Win32, TemplateOf,
                         testing::Values(111, 101, 103, 112, 104, 105, 106, 107, 228),
                         [](const testing::TestParamInfo<int>& info) {
                             return "IDD" + std::to_string(info.param);
                         });

TEST(Win32DialogTemplate, UnknownIdentifierBuildsNothing) {
    EXPECT_TRUE(rw::BuildDialogTemplate(110).empty());
    EXPECT_FALSE(rw::BuildDialogTemplate(111).empty());
}

// The warning dialog gives the first focus to Retry, as its tab order says.
TEST(Win32DialogTemplate, WarningFocusStartsAtRetry) {
    const std::vector<std::uint8_t> bytes = rw::BuildDialogTemplate(res::IDD_WARNING);
    HWND dlg = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), nullptr,
        [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR { return msg == WM_INITDIALOG; }, 0);
    ASSERT_NE(dlg, nullptr);
    HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
    EXPECT_EQ(GetDlgCtrlID(first), res::IDC_WARN_RETRY);
    EXPECT_EQ(GetDlgCtrlID(GetNextDlgTabItem(dlg, first, FALSE)), res::IDC_WARN_BACK);
    DestroyWindow(dlg);
}

} // namespace
