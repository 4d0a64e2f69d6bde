#pragma once

#include <windows.h>

// The font set: the ten "Segoe UI" fonts of the wizard, sized from the screen's vertical
// resolution when the set is created. Every window creates its own set and keeps it for its
// whole life; the set deletes its fonts when it is destroyed. A font that cannot be created
// is left null, and selecting it then keeps the control's current font.
class CPageEx {
public:
    // Sizes the fonts for the screen's LOGPIXELSY.
    CPageEx();
    // Sizes the fonts for the given vertical resolution in pixels per inch.
    explicit CPageEx(int dpiY);
    virtual ~CPageEx();
    CPageEx(const CPageEx&) = delete;
    CPageEx& operator=(const CPageEx&) = delete;

    // Character height in pixels of a font of that point size: points x dpi / 72, rounded.
    static int PixelHeight(int points, int dpiY);
    // LOGPIXELSY of the whole screen.
    static int ScreenDpiY();

    int DpiY() const { return m_nDpiY; }

    HFONT m_fontTitle = nullptr;
    HFONT m_fontButton = nullptr;
    HFONT m_fontHeading = nullptr;
    HFONT m_fontBody = nullptr;
    HFONT m_fontStep = nullptr;
    HFONT m_fontStepCurrent = nullptr;
    HFONT m_fontOption = nullptr;
    HFONT m_fontOptionText = nullptr;
    HFONT m_fontResult = nullptr;
    HFONT m_fontResultText = nullptr;

private:
    void CreatePointFont(HFONT& font, int points, int weight, BOOL underline);

    int m_nDpiY;
};
