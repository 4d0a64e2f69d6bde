#pragma once

#include <QFont>
#include <QStringList>

// The font set: the ten fonts of the wizard, sized from the screen's resolution when the
// set is created. Every window creates its own set and keeps it for its whole life.
class CPageEx {
public:
    // Sizes the fonts for the primary screen's logical resolution.
    CPageEx();
    // Sizes the fonts for the given vertical resolution in pixels per inch.
    explicit CPageEx(double dpiY);
    virtual ~CPageEx();

    CPageEx(const CPageEx&) = delete;
    CPageEx& operator=(const CPageEx&) = delete;

    // Character height in pixels of a font of that point size: points x dpi / 72, rounded.
    static int PixelHeight(int points, double dpiY);
    // The face and its stand-ins, in order of preference, for machines without it.
    static QStringList Faces();
    // The vertical logical resolution of the primary screen (96 without a screen).
    static double ScreenDpiY();

    double DpiY() const { return m_dDpiY; }

    QFont m_fontTitle;
    QFont m_fontButton;
    QFont m_fontHeading;
    QFont m_fontBody;
    QFont m_fontStep;
    QFont m_fontStepCurrent;
    QFont m_fontOption;
    QFont m_fontOptionText;
    QFont m_fontResult;
    QFont m_fontResultText;

private:
    void CreateFonts();
    void CreatePointFont(QFont& font, int points, int weight, bool underline);

    double m_dDpiY;
};
