#include "CProgressEx.h"

#include <commctrl.h>

#include <utility>

#include "ProgressFill.h"

namespace {
constexpr UINT_PTR kSubclassId = 1;
} // namespace

CProgressEx::~CProgressEx() {
    UnsubclassWindow();
}

BOOL CProgressEx::SubclassDlgItem(UINT id, HWND parent) {
    const HWND bar = GetDlgItem(parent, static_cast<int>(id));
    return bar != nullptr && SubclassWindow(bar);
}

BOOL CProgressEx::SubclassWindow(HWND bar) {
    if (m_hWnd != nullptr || bar == nullptr || !IsWindow(bar) ||
        !SetWindowSubclass(bar, &CProgressEx::Proc, kSubclassId,
                           reinterpret_cast<DWORD_PTR>(this))) {
        return FALSE;
    }
    m_hWnd = bar;
    InvalidateRect(bar, nullptr, TRUE);
    return TRUE;
}

HWND CProgressEx::UnsubclassWindow() {
    const HWND bar = std::exchange(m_hWnd, nullptr);
    if (bar != nullptr) {
        RemoveWindowSubclass(bar, &CProgressEx::Proc, kSubclassId);
    }
    return bar;
}

int CProgressEx::FillWidth(int width, int lower, int upper, int position) {
    return dormane::controls::ProgressFillWidth(width, lower, upper, position);
}

void CProgressEx::Paint(HDC hdc) {
    HBRUSH track = CreateSolidBrush(kTrackGrey);
    HBRUSH fill = CreateSolidBrush(kAccentBlue);
    RECT r{};
    GetClientRect(m_hWnd, &r);
    PBRANGE range{};
    SendMessageW(m_hWnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const auto position = static_cast<int>(SendMessageW(m_hWnd, PBM_GETPOS, 0, 0));
    FillRect(hdc, &r, track);
    r.right = r.left + FillWidth(r.right - r.left, range.iLow, range.iHigh, position);
    if (r.right > r.left) {
        FillRect(hdc, &r, fill);
    }
    DeleteObject(fill);
    DeleteObject(track);
}

LRESULT CALLBACK CProgressEx::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR ref) {
    auto* self = reinterpret_cast<CProgressEx*>(ref);
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hwnd, &ps);
        self->Paint(hdc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        self->Paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        // The two fills cover the whole client area.
        return TRUE;
    case WM_NCDESTROY:
        self->UnsubclassWindow();
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}
