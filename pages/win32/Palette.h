#pragma once

#include <windows.h>

// The fixed colours every window of the Win32 wizard shares (0x00BBGGRR).
namespace dormane::palette {

inline constexpr COLORREF kPageWhite = RGB(255, 255, 255);
inline constexpr COLORREF kTextBlack = RGB(0, 0, 0);
inline constexpr COLORREF kAccentBlue = RGB(0, 120, 215);   // selected, current, hover, progress
inline constexpr COLORREF kOptionGrey = RGB(100, 100, 100); // the option that is not selected
inline constexpr COLORREF kAlertRed = RGB(255, 0, 0);
inline constexpr COLORREF kButtonGrey = RGB(112, 112, 112);
inline constexpr COLORREF kFrameBlue = RGB(0, 150, 215); // the warning dialog's border
inline constexpr COLORREF kTrackGrey = RGB(200, 200, 200);

} // namespace dormane::palette
