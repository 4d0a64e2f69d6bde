#include "CSubclassWnd.h"

#include <commctrl.h>

#include <utility>

namespace {
constexpr UINT_PTR kSubclassId = 1;
} // namespace

CSubclassWnd::~CSubclassWnd() {
    // A derived control has let go already; this only catches a plain binding.
    if (m_hWnd != nullptr) {
        RemoveWindowSubclass(m_hWnd, &CSubclassWnd::Proc, kSubclassId);
    }
}

BOOL CSubclassWnd::SubclassDlgItem(UINT id, HWND parent) {
    const HWND control = GetDlgItem(parent, static_cast<int>(id));
    return control != nullptr && SubclassWindow(control);
}

BOOL CSubclassWnd::SubclassWindow(HWND hwnd) {
    if (m_hWnd != nullptr || hwnd == nullptr || !IsWindow(hwnd) ||
        !SetWindowSubclass(hwnd, &CSubclassWnd::Proc, kSubclassId,
                           reinterpret_cast<DWORD_PTR>(this))) {
        return FALSE;
    }
    m_hWnd = hwnd;
    return TRUE;
}

HWND CSubclassWnd::UnsubclassWindow() {
    const HWND hwnd = std::exchange(m_hWnd, nullptr);
    if (hwnd != nullptr) {
        RemoveWindowSubclass(hwnd, &CSubclassWnd::Proc, kSubclassId);
    }
    return hwnd;
}

LRESULT CSubclassWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    return Default(msg, wParam, lParam);
}

LRESULT CSubclassWnd::Default(UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CSubclassWnd::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR ref) {
    auto* self = reinterpret_cast<CSubclassWnd*>(ref);
    if (msg == WM_NCDESTROY) {
        // The window goes; the object stays usable for another one.
        self->UnsubclassWindow();
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    }
    return self->WindowProc(msg, wParam, lParam);
}
