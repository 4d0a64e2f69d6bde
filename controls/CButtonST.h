#pragma once

#include <QBitmap>
#include <QColor>
#include <QCursor>
#include <QPixmap>
#include <QPoint>
#include <QPushButton>

#include <array>
#include <optional>

#include "ButtonColorSlots.h"

// A flat push button that paints itself: a background colour per state (or, in
// transparent mode, whatever lies behind it), a one-pixel 3D outline while the pointer is
// over it or it is pressed, an optional image drawn at its own size with pure black as
// the key colour, and a centred, word-wrapped caption. Image and caption move by
// m_ptPressedShift while pressed. Enter presses the button that has the focus.
class CButtonST : public QPushButton {
    Q_OBJECT
public:
    // Image of the hot state (index 0) and of the normal state (index 1).
    enum ImageIndex { IMAGE_HOT = 0, IMAGE_NORMAL = 1 };

    explicit CButtonST(QWidget* parent = nullptr);
    ~CButtonST() override;

    // Stores the colour of one slot (CLR_BK_HOT .. CLR_FG_FOCUS); out-of-range slots are
    // ignored.
    void SetButtonColor(int slot, const QColor& colour, bool repaint = true);
    QColor ButtonColor(int slot) const;

    // Shows the window behind the button instead of a background colour. Does not
    // repaint by itself.
    void SetTransparent();
    bool IsTransparent() const { return m_bTransparent; }

    // Whether the 3D outline is drawn while hot or pressed.
    void SetBorder(bool draw, bool repaint = true);

    // Replaces both images; either may be null. Pixels of pure black (0, 0, 0) are left
    // out when drawing. Returns 0 on success, 1 when an image has no size, 2 when its mask
    // cannot be made; on failure both images are removed. Repaints.
    int SetImages(const QPixmap& hot, const QPixmap& normal);

    // The cursor shown over the button, from the program's cursor resources (3001 is the
    // pointing hand).
    void SetHoverCursor(int cursorId, bool repaint = true);

    bool IsHot() const { return m_bHot; }
    QPoint PressedShift() const { return m_ptPressedShift; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Image {
        QPixmap bitmap;
        int width = 0;
        int height = 0;
        QBitmap mask;   // set where the image shows its own pixels
        QPixmap masked; // bitmap with mask applied, ready to draw
    };

    void CancelHover();
    void ResetColors();
    void DrawImage(QPainter& p, const QRect& r);
    void DrawCaption(QPainter& p, const QRect& r);
    static bool MakeImage(const QPixmap& source, Image& out);

    QPoint m_ptPressedShift{1, 1};
    bool m_bFlat = true;
    bool m_bHot = false;
    bool m_bTransparent = false;
    bool m_bPressed = false;
    bool m_bFocused = false;
    bool m_bDrawBorder = true;
    std::array<QColor, CLR_MAX_COLORS> m_crColors;
    std::optional<QCursor> m_hCursor;
    std::array<Image, 2> m_images;
};
