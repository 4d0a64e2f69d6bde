#include "CButtonST.h"

#include <commctrl.h>

#include <string>

namespace {

void FillSolid(HDC hdc, int x, int y, int cx, int cy, COLORREF colour) {
    // An opaque text-out fills without a brush to create and delete.
    const COLORREF old = SetBkColor(hdc, colour);
    const RECT r{x, y, x + cx, y + cy};
    ExtTextOutW(hdc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    SetBkColor(hdc, old);
}

// Top and left stop one pixel short; bottom and right run the full length.
void Draw3dRect(HDC hdc, const RECT& r, COLORREF topLeft, COLORREF bottomRight) {
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    FillSolid(hdc, r.left, r.top, w - 1, 1, topLeft);
    FillSolid(hdc, r.left, r.top, 1, h - 1, topLeft);
    FillSolid(hdc, r.right - 1, r.top, 1, h, bottomRight);
    FillSolid(hdc, r.left, r.bottom - 1, w, 1, bottomRight);
}

} // namespace

CButtonST::CButtonST() {
    ResetColors();
}

CButtonST::~CButtonST() {
    UnsubclassWindow();
    FreeImages();
    FreeBackground();
    if (m_hCursor != nullptr) {
        DestroyCursor(m_hCursor);
    }
}

BOOL CButtonST::SubclassWindow(HWND button) {
    if (!CSubclassWnd::SubclassWindow(button)) {
        return FALSE;
    }
    // The parent's subclass is told apart from other buttons' by the button object.
    const HWND parent = GetParent(button);
    if (parent != nullptr &&
        !SetWindowSubclass(parent, &CButtonST::ParentProc, reinterpret_cast<UINT_PTR>(this),
                           reinterpret_cast<DWORD_PTR>(this))) {
        CSubclassWnd::UnsubclassWindow();
        return FALSE;
    }
    m_hParent = parent;
    const LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
    m_nOriginalType = style & BS_TYPEMASK;
    m_bDefault = m_nOriginalType == BS_DEFPUSHBUTTON;
    SetWindowLongPtrW(button, GWL_STYLE,
                      (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    SetWindowPos(button, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

HWND CButtonST::UnsubclassWindow() {
    const HWND button = CSubclassWnd::UnsubclassWindow();
    if (button == nullptr) {
        return nullptr;
    }
    if (m_hParent != nullptr) {
        RemoveWindowSubclass(m_hParent, &CButtonST::ParentProc, reinterpret_cast<UINT_PTR>(this));
        m_hParent = nullptr;
    }
    // The copy of the parent's pixels belongs to this window's place.
    FreeBackground();
    const LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
    SetWindowLongPtrW(button, GWL_STYLE,
                      (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | m_nOriginalType);
    return button;
}

void CButtonST::ResetColors() {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    m_crColors = {face, text, face, text, face, text};
}

void CButtonST::Invalidate() {
    if (m_hWnd != nullptr) {
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
}

void CButtonST::SetButtonColor(int slot, COLORREF colour, BOOL repaint) {
    if (slot < 0 || slot >= CLR_MAX_COLORS) {
        return;
    }
    m_crColors[static_cast<std::size_t>(slot)] = colour;
    if (repaint) {
        Invalidate();
    }
}

COLORREF CButtonST::GetButtonColor(int slot) const {
    if (slot < 0 || slot >= CLR_MAX_COLORS) {
        return CLR_INVALID;
    }
    return m_crColors[static_cast<std::size_t>(slot)];
}

void CButtonST::SetTransparent() {
    m_bTransparent = TRUE;
    FreeBackground();
}

void CButtonST::SetBorder(BOOL draw, BOOL repaint) {
    m_bDrawBorder = draw;
    if (repaint) {
        Invalidate();
    }
}

void CButtonST::FreeImages() {
    for (Image& img : m_images) {
        if (img.hBitmap != nullptr) {
            DeleteObject(img.hBitmap);
        }
        if (img.hMask != nullptr) {
            DeleteObject(img.hMask);
        }
        img = Image{};
    }
}

void CButtonST::FreeBackground() {
    if (m_dcBk != nullptr) {
        SelectObject(m_dcBk, m_bmpBkOld);
        DeleteDC(m_dcBk);
    }
    if (m_bmpBk != nullptr) {
        DeleteObject(m_bmpBk);
    }
    m_dcBk = nullptr;
    m_bmpBk = nullptr;
    m_bmpBkOld = nullptr;
}

HBITMAP CButtonST::CreateMask(HBITMAP source, int width, int height, COLORREF key) {
    HBITMAP mask = CreateBitmap(width, height, 1, 1, nullptr);
    HDC src = CreateCompatibleDC(nullptr);
    HDC dst = CreateCompatibleDC(nullptr);
    if (mask == nullptr || src == nullptr || dst == nullptr) {
        if (mask != nullptr) {
            DeleteObject(mask);
        }
        if (src != nullptr) {
            DeleteDC(src);
        }
        if (dst != nullptr) {
            DeleteDC(dst);
        }
        return nullptr;
    }
    const HGDIOBJ oldSrc = SelectObject(src, source);
    const HGDIOBJ oldDst = SelectObject(dst, mask);
    // Colour to monochrome: pixels of the source's background colour become 1, all
    // others 0.
    SetBkColor(src, key);
    BitBlt(dst, 0, 0, width, height, src, 0, 0, SRCCOPY);
    SelectObject(dst, oldDst);
    SelectObject(src, oldSrc);
    DeleteDC(dst);
    DeleteDC(src);
    return mask;
}

int CButtonST::SetImages(HBITMAP hot, HBITMAP normal) {
    FreeImages();
    m_images[IMAGE_HOT].hBitmap = hot;
    m_images[IMAGE_NORMAL].hBitmap = normal;
    int result = 0;
    for (Image& img : m_images) {
        if (img.hBitmap == nullptr) {
            continue;
        }
        BITMAP bm{};
        // Any other kind of object would fill the record with something else than a size.
        if (GetObjectType(img.hBitmap) != OBJ_BITMAP ||
            GetObjectW(img.hBitmap, sizeof(bm), &bm) == 0) {
            result = 1;
            break;
        }
        img.width = bm.bmWidth;
        img.height = bm.bmHeight;
        img.hMask = CreateMask(img.hBitmap, img.width, img.height, RGB(0, 0, 0));
        if (img.hMask == nullptr) {
            result = 2;
            break;
        }
    }
    if (result != 0) {
        FreeImages();
    }
    Invalidate();
    return result;
}

void CButtonST::SetHoverCursor(UINT cursorId, BOOL repaint) {
    if (m_hCursor != nullptr) {
        DestroyCursor(m_hCursor);
        m_hCursor = nullptr;
    }
    // Not shared, so that it can be destroyed when replaced.
    m_hCursor = static_cast<HCURSOR>(LoadImageW(
        GetModuleHandleW(nullptr), MAKEINTRESOURCEW(cursorId), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
    if (repaint) {
        Invalidate();
    }
}

void CButtonST::DrawItem(const DRAWITEMSTRUCT& dis) {
    const HDC hdc = dis.hDC;
    const RECT r = dis.rcItem;
    m_bPressed = (dis.itemState & ODS_SELECTED) != 0;
    m_bFocused = (dis.itemState & ODS_FOCUS) != 0;

    const int oldMode = SetBkMode(hdc, TRANSPARENT);
    if (m_bTransparent) {
        PaintBackground(hdc);
    } else {
        const COLORREF bk = (m_bHot || m_bPressed) ? m_crColors[CLR_BK_HOT]
                            : m_bFocused           ? m_crColors[CLR_BK_FOCUS]
                                                   : m_crColors[CLR_BK_NORMAL];
        FillSolid(hdc, r.left, r.top, r.right - r.left, r.bottom - r.top, bk);
    }

    if (m_bFlat && m_bDrawBorder) {
        if (m_bPressed) {
            Draw3dRect(hdc, r, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
        } else if (m_bHot) {
            Draw3dRect(hdc, r, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW));
        }
    }

    if (m_images[IMAGE_HOT].hBitmap != nullptr) {
        SetBkColor(hdc, RGB(255, 255, 255));
        DrawImage(hdc, r);
    }
    if (m_hWnd != nullptr && GetWindowTextLengthW(m_hWnd) > 0) {
        DrawCaption(hdc, r);
    }
    // Flat buttons show no focus rectangle.
    SetBkMode(hdc, oldMode);
}

void CButtonST::PaintBackground(HDC hdc) {
    if (m_hWnd == nullptr || m_hParent == nullptr) {
        return;
    }
    RECT client{};
    GetClientRect(m_hWnd, &client);
    if (m_dcBk == nullptr) {
        RECT window{};
        GetWindowRect(m_hWnd, &window);
        MapWindowPoints(HWND_DESKTOP, m_hParent, reinterpret_cast<POINT*>(&window), 2);
        HDC parentDc = GetDC(m_hParent);
        m_dcBk = CreateCompatibleDC(parentDc);
        m_bmpBk = CreateCompatibleBitmap(parentDc, client.right, client.bottom);
        if (m_dcBk == nullptr || m_bmpBk == nullptr) {
            ReleaseDC(m_hParent, parentDc);
            if (m_dcBk != nullptr) {
                DeleteDC(m_dcBk);
                m_dcBk = nullptr;
            }
            FreeBackground();
            return;
        }
        m_bmpBkOld = SelectObject(m_dcBk, m_bmpBk);
        BitBlt(m_dcBk, 0, 0, client.right, client.bottom, parentDc, window.left, window.top,
               SRCCOPY);
        ReleaseDC(m_hParent, parentDc);
    }
    BitBlt(hdc, 0, 0, client.right, client.bottom, m_dcBk, 0, 0, SRCCOPY);
}

void CButtonST::DrawImage(HDC hdc, const RECT& r) {
    const bool normal = m_images[IMAGE_NORMAL].hBitmap != nullptr && !m_bPressed && !m_bHot;
    const Image& img = m_images[normal ? IMAGE_NORMAL : IMAGE_HOT];
    // Integer division truncates toward zero, also for an image larger than the button.
    int x = r.left + (r.right - r.left - img.width) / 2;
    int y = r.top + (r.bottom - r.top - img.height) / 2;
    if (m_bPressed) {
        x += m_ptPressedShift.x;
        y += m_ptPressedShift.y;
    }
    HDC mem = CreateCompatibleDC(hdc);
    if (mem == nullptr) {
        return;
    }
    // A monochrome source maps 1 to the background colour (white, set by the caller) and
    // 0 to the text colour: the mask keeps the destination under key pixels and clears it
    // elsewhere, then the image is added on top.
    const COLORREF oldText = SetTextColor(hdc, RGB(0, 0, 0));
    const HGDIOBJ old = SelectObject(mem, img.hMask);
    BitBlt(hdc, x, y, img.width, img.height, mem, 0, 0, SRCAND);
    SelectObject(mem, img.hBitmap);
    BitBlt(hdc, x, y, img.width, img.height, mem, 0, 0, SRCPAINT);
    SelectObject(mem, old);
    DeleteDC(mem);
    SetTextColor(hdc, oldText);
}

void CButtonST::DrawCaption(HDC hdc, const RECT& r) {
    const int length = GetWindowTextLengthW(m_hWnd);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(m_hWnd, text.data(), length + 1)));

    RECT box = r;
    if (m_bPressed) {
        OffsetRect(&box, m_ptPressedShift.x, m_ptPressedShift.y);
    }
    const auto font = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    const HGDIOBJ oldFont = font != nullptr ? SelectObject(hdc, font) : nullptr;

    RECT measured = box;
    DrawTextW(hdc, text.c_str(), -1, &measured, DT_WORDBREAK | DT_CENTER | DT_CALCRECT);
    OffsetRect(&measured, ((box.right - box.left) - (measured.right - measured.left)) / 2,
               ((box.bottom - box.top) - (measured.bottom - measured.top)) / 2);

    const bool hot = m_bHot || m_bPressed;
    SetTextColor(hdc, hot          ? m_crColors[CLR_FG_HOT]
                      : m_bFocused ? m_crColors[CLR_FG_FOCUS]
                                   : m_crColors[CLR_FG_NORMAL]);
    SetBkColor(hdc, hot          ? m_crColors[CLR_BK_HOT]
                    : m_bFocused ? m_crColors[CLR_BK_FOCUS]
                                 : m_crColors[CLR_BK_NORMAL]);
    DrawTextW(hdc, text.c_str(), -1, &measured, DT_WORDBREAK | DT_CENTER);
    if (oldFont != nullptr) {
        SelectObject(hdc, oldFont);
    }
}

void CButtonST::OnMouseMove(WPARAM wParam, LPARAM lParam) {
    // Dragging onto the button with the left button held does not light it.
    if ((wParam & MK_LBUTTON) != 0 && !m_bHot) {
        return;
    }
    // Signed client coordinates (windowsx.h would bring a macro named SubclassWindow).
    POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ClientToScreen(m_hWnd, &pt);
    if (WindowFromPoint(pt) == m_hWnd) {
        if (!m_bHot) {
            m_bHot = TRUE;
            Invalidate();
            TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, m_hWnd, HOVER_DEFAULT};
            TrackMouseEvent(&tme);
        }
    } else {
        CancelHover();
    }
}

void CButtonST::CancelHover() {
    if (m_bHot) {
        m_bHot = FALSE;
        Invalidate();
    }
}

void CButtonST::OnSysColorChange() {
    FreeBackground();
    ResetColors();
    Invalidate();
}

LRESULT CButtonST::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_MOUSEMOVE:
        OnMouseMove(wParam, lParam);
        break;
    case WM_MOUSELEAVE:
    case WM_KILLFOCUS:
    case WM_CANCELMODE:
        CancelHover();
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            CancelHover();
        }
        break;
    case WM_ENABLE:
        if (!wParam) {
            CancelHover();
        }
        break;
    case WM_SETCURSOR:
        if (m_hCursor != nullptr) {
            SetCursor(m_hCursor);
            return TRUE;
        }
        break;
    case WM_GETDLGCODE: {
        const LRESULT code = Default(msg, wParam, lParam);
        // Enter in a dialog presses the button that has the focus.
        return code | (m_bDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    }
    case BM_SETSTYLE:
        // The dialog manager moves the default look between buttons: remember it, keep
        // drawing the button ourselves.
        m_bDefault = (wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        wParam = (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW;
        break;
    case WM_LBUTTONDBLCLK:
        // A double click is a second single click.
        msg = WM_LBUTTONDOWN;
        break;
    case WM_SYSCOLORCHANGE:
        OnSysColorChange();
        break;
    default:
        break;
    }
    return Default(msg, wParam, lParam);
}

LRESULT CALLBACK CButtonST::ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR ref) {
    auto* self = reinterpret_cast<CButtonST*>(ref);
    switch (msg) {
    case WM_DRAWITEM: {
        const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (dis != nullptr && dis->hwndItem == self->m_hWnd && self->m_hWnd != nullptr) {
            self->DrawItem(*dis);
            return TRUE;
        }
        break;
    }
    case WM_CTLCOLORBTN:
        if (reinterpret_cast<HWND>(lParam) == self->m_hWnd && self->m_hWnd != nullptr) {
            return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            self->CancelHover();
        }
        break;
    case WM_SYSCOLORCHANGE:
        self->OnSysColorChange();
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}
