#pragma once

#include <windows.h>

// Binds an object to a window control that already exists, such as a control of a dialog
// template, by subclassing it: the object's WindowProc sees every message first and passes
// on what it does not handle with Default. The binding ends when the window is destroyed or
// the object lets go of it. User-interface thread only.
class CSubclassWnd {
public:
    CSubclassWnd() = default;
    virtual ~CSubclassWnd();
    CSubclassWnd(const CSubclassWnd&) = delete;
    CSubclassWnd& operator=(const CSubclassWnd&) = delete;

    BOOL SubclassDlgItem(UINT id, HWND parent);
    virtual BOOL SubclassWindow(HWND hwnd);
    // Gives the window back to its own procedure; null when none was bound.
    virtual HWND UnsubclassWindow();
    HWND GetSafeHwnd() const { return m_hWnd; }

protected:
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
};
