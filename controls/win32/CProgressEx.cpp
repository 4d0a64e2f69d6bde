#include "CProgressEx.h"

#include <commctrl.h>

#include "ProgressFill.h"

CProgressEx::~CProgressEx() = default;

BOOL CProgressEx::SubclassWindow(HWND bar) {
    if (!CSubclassWnd::SubclassWindow(bar)) {
        return FALSE;
    }
    InvalidateRect(bar, nullptr, TRUE);
    return TRUE;
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

LRESULT CProgressEx::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(m_hWnd, &ps);
        Paint(hdc);
        EndPaint(m_hWnd, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        // The two fills cover the whole client area.
        return TRUE;
    default:
        return Default(msg, wParam, lParam);
    }
}
