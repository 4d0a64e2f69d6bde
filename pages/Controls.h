#pragma once

// The custom controls the pages and the main window are built from, and the picture lookup.
// Plain stand-ins until the custom-drawn controls join the tree.

#include <QColor>
#include <QCursor>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>

#include <array>

enum { CLR_BK_HOT = 0, CLR_FG_HOT, CLR_BK_NORMAL, CLR_FG_NORMAL, CLR_BK_FOCUS, CLR_FG_FOCUS };

class CButtonST : public QPushButton {
public:
    explicit CButtonST(QWidget* parent = nullptr) : QPushButton(parent) {}
    void SetButtonColor(int slot, const QColor& colour, bool repaint = true) {
        m_crColors[slot] = colour;
        if (repaint)
            update();
    }
    QColor ButtonColor(int slot) const { return m_crColors[slot]; }
    int SetImages(const QPixmap& hot, const QPixmap& normal) {
        m_images = {hot, normal};
        update();
        return 0;
    }
    void SetTransparent() { m_bTransparent = true; }
    void SetBorder(bool draw, bool repaint = true) {
        m_bDrawBorder = draw;
        if (repaint)
            update();
    }
    void SetHoverCursor(int, bool repaint = true) {
        setCursor(Qt::PointingHandCursor);
        if (repaint)
            update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const bool hot = underMouse() || isDown();
        if (!m_bTransparent)
            p.fillRect(rect(), hot          ? m_crColors[CLR_BK_HOT]
                               : hasFocus() ? m_crColors[CLR_BK_FOCUS]
                                            : m_crColors[CLR_BK_NORMAL]);
        const QPixmap& image = (!hot && !m_images[1].isNull()) ? m_images[1] : m_images[0];
        if (!image.isNull())
            p.drawPixmap((width() - image.width()) / 2, (height() - image.height()) / 2, image);
        p.setPen(hot          ? m_crColors[CLR_FG_HOT]
                 : hasFocus() ? m_crColors[CLR_FG_FOCUS]
                              : m_crColors[CLR_FG_NORMAL]);
        p.setFont(font());
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, text());
    }
    void enterEvent(QEnterEvent* e) override {
        update();
        QPushButton::enterEvent(e);
    }
    void leaveEvent(QEvent* e) override {
        update();
        QPushButton::leaveEvent(e);
    }

private:
    std::array<QColor, 6> m_crColors{QColor(240, 240, 240), QColor(0, 0, 0),
                                     QColor(240, 240, 240), QColor(0, 0, 0),
                                     QColor(240, 240, 240), QColor(0, 0, 0)};
    std::array<QPixmap, 2> m_images;
    bool m_bTransparent = false;
    bool m_bDrawBorder = true;
};

class CProgressEx : public QProgressBar {
public:
    explicit CProgressEx(QWidget* parent = nullptr) : QProgressBar(parent) {}
};

class CPictureEx : public QLabel {
public:
    explicit CPictureEx(QWidget* parent = nullptr) : QLabel(parent) {}
    bool LoadFromResource(int, const char*) { return false; }
    int Show() { return 0; }
    void StopAnimation() {}
    void Clear() {}
};

inline QPixmap LoadBitmap(int) {
    return {};
}
