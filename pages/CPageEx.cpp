#include "CPageEx.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

CPageEx::CPageEx() : CPageEx(ScreenDpiY()) {}

CPageEx::CPageEx(double dpiY) : m_dDpiY(dpiY) {
    CreateFonts();
}

CPageEx::~CPageEx() = default;

int CPageEx::PixelHeight(int points, double dpiY) {
    return static_cast<int>(std::lround(points * dpiY / 72.0));
}

QStringList CPageEx::Faces() {
    return {"Segoe UI", "Noto Sans", "DejaVu Sans"};
}

double CPageEx::ScreenDpiY() {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        return screen->logicalDotsPerInchY();
    return 96.0;
}

void CPageEx::CreateFonts() {
    CreatePointFont(m_fontTitle, 11, 400, false);
    CreatePointFont(m_fontButton, 11, 400, false);
    CreatePointFont(m_fontHeading, 18, 400, false);
    CreatePointFont(m_fontBody, 11, 400, false);
    CreatePointFont(m_fontStep, 11, 400, false);
    CreatePointFont(m_fontStepCurrent, 11, 700, true);
    CreatePointFont(m_fontOption, 14, 700, false);
    CreatePointFont(m_fontOptionText, 11, 400, false);
    CreatePointFont(m_fontResult, 18, 700, false);
    CreatePointFont(m_fontResultText, 18, 400, false);
}

void CPageEx::CreatePointFont(QFont& font, int points, int weight, bool underline) {
    font = QFont();
    font.setFamilies(Faces());
    // A pixel size is the character height (the em), not the cell height.
    font.setPixelSize(PixelHeight(points, m_dDpiY));
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setUnderline(underline);
    font.setItalic(false);
    font.setStrikeOut(false);
}
