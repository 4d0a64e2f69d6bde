#include "CButtonST.h"

#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <QPointer>

#include "Resources.h"

namespace {

// Tells every button when the system colours change. The application announces that
// only to itself, so one filter on the application object listens for all buttons.
class SystemColourWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    static SystemColourWatcher* Instance() {
        static QPointer<SystemColourWatcher> watcher;
        if (watcher.isNull() && qApp != nullptr) {
            watcher = new SystemColourWatcher(qApp);
            qApp->installEventFilter(watcher);
        }
        return watcher.data();
    }

signals:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
            emit changed();
        }
        return false;
    }
};

} // namespace

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent) {
    ResetColors();
    // A change of the system colours brings back the system button colours until the
    // owner sets its own again.
    if (SystemColourWatcher* watcher = SystemColourWatcher::Instance()) {
        connect(watcher, &SystemColourWatcher::changed, this, [this] {
            ResetColors();
            update();
        });
    }
    // Movements are needed without a button held to light the button up.
    setMouseTracking(true);
    // Enter presses the focused button, in a dialog or not.
    setAutoDefault(true);
    setFlat(true);
}

CButtonST::~CButtonST() = default;

void CButtonST::ResetColors() {
    const QPalette pal = QApplication::palette();
    const QColor face = pal.color(QPalette::Button);
    const QColor text = pal.color(QPalette::ButtonText);
    m_crColors = {face, text, face, text, face, text};
}

void CButtonST::SetButtonColor(int slot, const QColor& colour, bool repaint) {
    if (slot < 0 || slot >= CLR_MAX_COLORS) {
        return;
    }
    m_crColors[static_cast<std::size_t>(slot)] = colour;
    if (repaint) {
        update();
    }
}

QColor CButtonST::ButtonColor(int slot) const {
    if (slot < 0 || slot >= CLR_MAX_COLORS) {
        return {};
    }
    return m_crColors[static_cast<std::size_t>(slot)];
}

void CButtonST::SetTransparent() {
    // What lies behind the button is painted by the window system before every paint of
    // the button, so there is no cached copy to drop: a change behind it always shows.
    m_bTransparent = true;
}

void CButtonST::SetBorder(bool draw, bool repaint) {
    m_bDrawBorder = draw;
    if (repaint) {
        update();
    }
}

bool CButtonST::MakeImage(const QPixmap& source, Image& out) {
    out = Image{};
    if (source.isNull()) {
        return true;
    }
    // The image is taken as it is, without alpha, so that only exact black is the key.
    const QImage rgb = source.toImage().convertToFormat(QImage::Format_RGB32);
    out.bitmap = QPixmap::fromImage(rgb);
    out.width = rgb.width();
    out.height = rgb.height();
    if (out.width <= 0 || out.height <= 0) {
        return false;
    }
    out.mask = QBitmap::fromImage(rgb.createMaskFromColor(qRgb(0, 0, 0), Qt::MaskInColor));
    if (out.mask.isNull()) {
        return false;
    }
    out.masked = out.bitmap;
    out.masked.setMask(out.mask);
    return true;
}

int CButtonST::SetImages(const QPixmap& hot, const QPixmap& normal) {
    // The old images and masks go first; the new ones replace them entirely.
    m_images = {};
    int result = 0;
    std::array<Image, 2> images;
    const std::array<const QPixmap*, 2> sources = {&hot, &normal};
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (sources[i]->isNull()) {
            continue;
        }
        if (sources[i]->width() <= 0 || sources[i]->height() <= 0) {
            result = 1;
            break;
        }
        if (!MakeImage(*sources[i], images[i])) {
            result = 2;
            break;
        }
    }
    if (result == 0) {
        m_images = std::move(images);
    }
    update();
    return result;
}

void CButtonST::SetHoverCursor(int cursorId, bool repaint) {
    m_hCursor = res::Cursor(cursorId);
    setCursor(*m_hCursor);
    if (repaint) {
        update();
    }
}

void CButtonST::paintEvent(QPaintEvent*) {
    QPainter p(this);
    m_bPressed = isDown();
    m_bFocused = hasFocus();
    const QRect r = rect();

    if (!m_bTransparent) {
        const QColor bk = (m_bHot || m_bPressed) ? m_crColors[CLR_BK_HOT]
                          : m_bFocused           ? m_crColors[CLR_BK_FOCUS]
                                                 : m_crColors[CLR_BK_NORMAL];
        p.fillRect(r, bk);
    }

    if (m_bFlat && m_bDrawBorder && (m_bPressed || m_bHot)) {
        const QColor highlight = palette().color(QPalette::Light);
        const QColor shadow = palette().color(QPalette::Dark);
        const QColor topLeft = m_bPressed ? shadow : highlight;
        const QColor bottomRight = m_bPressed ? highlight : shadow;
        const int w = r.width();
        const int h = r.height();
        // Top and left stop one pixel short; bottom and right run the full length.
        p.fillRect(QRect(r.left(), r.top(), w - 1, 1), topLeft);
        p.fillRect(QRect(r.left(), r.top(), 1, h - 1), topLeft);
        p.fillRect(QRect(r.right(), r.top(), 1, h), bottomRight);
        p.fillRect(QRect(r.left(), r.bottom(), w, 1), bottomRight);
    }

    if (!m_images[IMAGE_HOT].bitmap.isNull()) {
        DrawImage(p, r);
    }
    if (!text().isEmpty()) {
        DrawCaption(p, r);
    }
    // Flat buttons show no focus rectangle.
}

void CButtonST::DrawImage(QPainter& p, const QRect& r) {
    const bool normal = !m_images[IMAGE_NORMAL].bitmap.isNull() && !m_bPressed && !m_bHot;
    const Image& img = m_images[normal ? IMAGE_NORMAL : IMAGE_HOT];
    // Integer division truncates toward zero, so an image larger than the button sits
    // the same way it would in the dialog it was designed for.
    QPoint pos(r.left() + (r.width() - img.width) / 2, r.top() + (r.height() - img.height) / 2);
    if (m_bPressed) {
        pos += m_ptPressedShift;
    }
    p.drawPixmap(pos, img.masked);
}

void CButtonST::DrawCaption(QPainter& p, const QRect& r) {
    QRect box = r;
    if (m_bPressed) {
        box.translate(m_ptPressedShift);
    }
    const QColor fg = (m_bHot || m_bPressed) ? m_crColors[CLR_FG_HOT]
                      : m_bFocused           ? m_crColors[CLR_FG_FOCUS]
                                             : m_crColors[CLR_FG_NORMAL];
    p.setPen(fg);
    p.setFont(font());
    p.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, text());
}

void CButtonST::mouseMoveEvent(QMouseEvent* event) {
    // Dragging onto the button with the left button held does not light it.
    const bool dragging = (event->buttons() & Qt::LeftButton) != 0;
    if (!(dragging && !m_bHot)) {
        const bool over = rect().contains(event->position().toPoint());
        if (over && !m_bHot) {
            m_bHot = true;
            update();
        } else if (!over && m_bHot) {
            m_bHot = false;
            update();
        }
    }
    QPushButton::mouseMoveEvent(event);
}

void CButtonST::CancelHover() {
    if (m_bHot) {
        m_bHot = false;
        update();
    }
}

void CButtonST::leaveEvent(QEvent* event) {
    CancelHover();
    QPushButton::leaveEvent(event);
}

void CButtonST::focusOutEvent(QFocusEvent* event) {
    CancelHover();
    QPushButton::focusOutEvent(event);
}

void CButtonST::hideEvent(QHideEvent* event) {
    CancelHover();
    QPushButton::hideEvent(event);
}

void CButtonST::changeEvent(QEvent* event) {
    if ((event->type() == QEvent::ActivationChange && !isActiveWindow()) ||
        (event->type() == QEvent::EnabledChange && !isEnabled())) {
        CancelHover();
    }
    QPushButton::changeEvent(event);
}

#include "CButtonST.moc"
