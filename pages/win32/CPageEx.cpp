#include "CPageEx.h"

#include <initializer_list>

CPageEx::CPageEx() : CPageEx(ScreenDpiY()) {}

CPageEx::CPageEx(int dpiY) : m_nDpiY(dpiY) {
    CreatePointFont(m_fontTitle, 11, FW_NORMAL, FALSE);
    CreatePointFont(m_fontButton, 11, FW_NORMAL, FALSE);
    CreatePointFont(m_fontHeading, 18, FW_NORMAL, FALSE);
    CreatePointFont(m_fontBody, 11, FW_NORMAL, FALSE);
    CreatePointFont(m_fontStep, 11, FW_NORMAL, FALSE);
    CreatePointFont(m_fontStepCurrent, 11, FW_BOLD, TRUE);
    CreatePointFont(m_fontOption, 14, FW_BOLD, FALSE);
    CreatePointFont(m_fontOptionText, 11, FW_NORMAL, FALSE);
    CreatePointFont(m_fontResult, 18, FW_BOLD, FALSE);
    CreatePointFont(m_fontResultText, 18, FW_NORMAL, FALSE);
}

CPageEx::~CPageEx() {
    for (HFONT font :
         {m_fontTitle, m_fontButton, m_fontHeading, m_fontBody, m_fontStep, m_fontStepCurrent,
          m_fontOption, m_fontOptionText, m_fontResult, m_fontResultText}) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
}

int CPageEx::PixelHeight(int points, int dpiY) {
    return MulDiv(points, dpiY, 72);
}

int CPageEx::ScreenDpiY() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi;
}

void CPageEx::CreatePointFont(HFONT& font, int points, int weight, BOOL underline) {
    // A negative height asks for the character height, not the cell height.
    font = CreateFontW(-PixelHeight(points, m_nDpiY), 0, 0, 0, weight, FALSE, underline, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}
