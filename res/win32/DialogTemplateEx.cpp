#include "DialogTemplateEx.h"

#include <commctrl.h>

#include <cstring>
#include <string>

namespace dormane::res::win32 {
namespace {

// Appends little-endian values and strings; items start on DWORD boundaries.
class Writer {
public:
    void Word(WORD v) { Raw(&v, sizeof v); }
    void Dword(DWORD v) { Raw(&v, sizeof v); }
    void Short(short v) { Raw(&v, sizeof v); }
    void Byte(BYTE v) { m_bytes.push_back(v); }
    void String(const std::wstring& s) {
        for (wchar_t c : s) {
            Word(static_cast<WORD>(c));
        }
        Word(0);
    }
    void AlignDword() {
        while (m_bytes.size() % 4 != 0) {
            m_bytes.push_back(0);
        }
    }
    std::vector<std::uint8_t> Take() { return std::move(m_bytes); }

private:
    void Raw(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
    }
    std::vector<std::uint8_t> m_bytes;
};

std::wstring Utf16(const char* utf8) {
    if (utf8 == nullptr || *utf8 == '\0') {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n) - 1);
    return out;
}

} // namespace

DWORD DialogStyle(const DialogTemplate& t) {
    const DWORD common = DS_SETFONT | DS_FIXEDSYS;
    if (t.popup) {
        return common | WS_POPUP | WS_BORDER | WS_SYSMENU;
    }
    return common | DS_CONTROL | WS_CHILD;
}

DWORD DialogExStyle(const DialogTemplate& t) {
    return t.popup ? 0 : WS_EX_CONTROLPARENT;
}

ControlClass ControlWindowClass(const ControlTemplate& c) {
    switch (c.kind) {
    case CtlKind::Button:
        return {0x0080, nullptr};
    case CtlKind::Progress:
        return {0, PROGRESS_CLASSW};
    case CtlKind::Text:
    case CtlKind::Bitmap:
    case CtlKind::AnimatedPicture:
        break;
    }
    return {0x0082, nullptr};
}

DWORD ControlStyle(const ControlTemplate& c) {
    const DWORD common = WS_CHILD | WS_VISIBLE;
    switch (c.kind) {
    case CtlKind::Button:
        return common | WS_TABSTOP | BS_PUSHBUTTON;
    case CtlKind::Bitmap:
        return common | SS_BITMAP;
    case CtlKind::Progress:
        return common | PBS_SMOOTH;
    case CtlKind::AnimatedPicture:
        return common | SS_LEFT;
    case CtlKind::Text:
        break;
    }
    switch (c.align) {
    case TextAlign::LeftSingle:
        return common | SS_NOPREFIX | SS_LEFTNOWORDWRAP | SS_CENTERIMAGE;
    case TextAlign::Center:
        return common | SS_NOPREFIX | SS_CENTER | SS_CENTERIMAGE;
    case TextAlign::Right:
        return common | SS_NOPREFIX | SS_RIGHT | SS_CENTERIMAGE;
    case TextAlign::LeftWrap:
        break;
    }
    return common | SS_NOPREFIX | SS_LEFT;
}

std::wstring ControlText(const ControlTemplate& c) {
    if (c.kind == CtlKind::Bitmap && c.image != 0) {
        return L"#" + std::to_wstring(c.image);
    }
    return Utf16(c.text);
}

std::vector<std::uint8_t> BuildDialogTemplate(const DialogTemplate& t) {
    Writer w;
    w.Word(1);      // dlgVer
    w.Word(0xFFFF); // signature of the extended form
    w.Dword(0);     // helpID
    w.Dword(DialogExStyle(t));
    w.Dword(DialogStyle(t));
    w.Word(static_cast<WORD>(t.controls.size()));
    w.Short(0);
    w.Short(0);
    w.Short(static_cast<short>(t.cx));
    w.Short(static_cast<short>(t.cy));
    w.Word(0); // no menu
    w.Word(0); // the dialog manager's own class
    w.Word(0); // no title
    w.Word(kDialogPoints);
    w.Word(FW_NORMAL);
    w.Byte(FALSE); // italic
    w.Byte(DEFAULT_CHARSET);
    w.String(kDialogFace);
    for (const ControlTemplate& c : t.controls) {
        w.AlignDword();
        w.Dword(0); // helpID
        w.Dword(0); // exStyle
        w.Dword(ControlStyle(c));
        w.Short(static_cast<short>(c.x));
        w.Short(static_cast<short>(c.y));
        w.Short(static_cast<short>(c.cx));
        w.Short(static_cast<short>(c.cy));
        // A control without an identifier of its own is -1 in the template, as rc writes it.
        w.Dword(static_cast<DWORD>(c.id));
        const ControlClass cls = ControlWindowClass(c);
        if (cls.atom != 0) {
            w.Word(0xFFFF);
            w.Word(cls.atom);
        } else {
            w.String(cls.name);
        }
        w.String(ControlText(c));
        w.Word(0); // no creation data
    }
    return w.Take();
}

std::vector<std::uint8_t> BuildDialogTemplate(int id) {
    const DialogTemplate* t = FindDialogTemplate(id);
    return t != nullptr ? BuildDialogTemplate(*t) : std::vector<std::uint8_t>{};
}

} // namespace dormane::res::win32
