#pragma once

#include <windows.h>

#include "CSubclassWnd.h"

// The thin flat progress bar of the progress page: binds to a progress-bar control
// ("msctls_progress32") and replaces only its drawing with a grey track and the filled
// part in the accent blue (no border, no theme, no text). Range and position stay the
// control's own (PBM_SETRANGE, PBM_SETPOS). It also answers WM_PRINTCLIENT, so the bar
// can be drawn into any device context.
class CProgressEx : public CSubclassWnd {
public:
    static constexpr COLORREF kTrackGrey = RGB(200, 200, 200);
    static constexpr COLORREF kAccentBlue = RGB(0, 120, 215);

    CProgressEx() = default;
    ~CProgressEx() override;

    BOOL SubclassWindow(HWND bar) override;

    // Width in pixels of the blue part for a bar of the given width:
    // (position - lower) x width / (upper - lower), truncated; 0 for an empty range or a
    // position below the range, the full width at or above the upper bound.
    static int FillWidth(int width, int lower, int upper, int position);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint(HDC hdc);
};
