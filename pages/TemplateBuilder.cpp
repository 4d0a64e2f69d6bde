#include "TemplateBuilder.h"

#include "CDialogEx.h"
#include "CPageEx.h"
#include "CStaticText.h"
#include "Controls.h"
#include "DialogTemplates.h"

#include <QLabel>

#include <cmath>

namespace dormane::ui {
namespace {

// Base units of the 8-point dialog font at 96 pixels per inch, per dialog unit.
constexpr double kPixelsPerUnitX = 1.5;
constexpr double kPixelsPerUnitY = 1.625;

QWidget* CreateControl(CDialogEx& dialog, const res::ControlTemplate& c, const QRect& r) {
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
    case res::CtlKind::Text: {
        auto* label = new CStaticText(c.id, text, c.align, &dialog);
        label->setGeometry(r);
        return label;
    }
    case res::CtlKind::Bitmap: {
        // A bitmap static takes the size of its bitmap, at the template's top-left corner.
        auto* picture = new QLabel(&dialog);
        const QPixmap pixmap = LoadBitmap(c.image);
        picture->setPixmap(pixmap);
        picture->setGeometry(pixmap.isNull() ? r : QRect(r.topLeft(), pixmap.size()));
        return picture;
    }
    case res::CtlKind::Button: {
        auto* button = new CButtonST(&dialog);
        button->setText(text);
        button->setGeometry(r);
        return button;
    }
    case res::CtlKind::Progress: {
        auto* bar = new CProgressEx(&dialog);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        bar->setGeometry(r);
        return bar;
    }
    case res::CtlKind::AnimatedPicture: {
        auto* picture = new CPictureEx(&dialog);
        picture->setGeometry(r);
        return picture;
    }
    }
    return nullptr;
}

} // namespace

int DialogUnitsToPixelsX(int units, double dpi) {
    return static_cast<int>(std::lround(units * kPixelsPerUnitX * dpi / 96.0));
}

int DialogUnitsToPixelsY(int units, double dpi) {
    return static_cast<int>(std::lround(units * kPixelsPerUnitY * dpi / 96.0));
}

QRect DialogRectToPixels(int x, int y, int cx, int cy, double dpi) {
    const int left = DialogUnitsToPixelsX(x, dpi);
    const int top = DialogUnitsToPixelsY(y, dpi);
    const int right = DialogUnitsToPixelsX(x + cx, dpi);
    const int bottom = DialogUnitsToPixelsY(y + cy, dpi);
    return {left, top, right - left, bottom - top};
}

QSize DialogUnitsToPixels(int cx, int cy, double dpi) {
    return {DialogUnitsToPixelsX(cx, dpi), DialogUnitsToPixelsY(cy, dpi)};
}

double ScreenDpi() {
    return CPageEx::ScreenDpiY();
}

QRect DialogRectToPixels(int x, int y, int cx, int cy) {
    return DialogRectToPixels(x, y, cx, cy, ScreenDpi());
}

QSize DialogUnitsToPixels(int cx, int cy) {
    return DialogUnitsToPixels(cx, cy, ScreenDpi());
}

QFont TemplateFont() {
    QFont font;
    font.setFamilies(CPageEx::Faces());
    font.setPixelSize(CPageEx::PixelHeight(8, ScreenDpi()));
    return font;
}

std::map<int, QWidget*> BuildControls(CDialogEx& dialog, const res::DialogTemplate& t,
                                      QPoint origin) {
    std::map<int, QWidget*> items;
    const double dpi = ScreenDpi();
    for (const res::ControlTemplate& c : t.controls) {
        const QRect r = DialogRectToPixels(c.x, c.y, c.cx, c.cy, dpi).translated(origin);
        QWidget* control = CreateControl(dialog, c, r);
        if (!control)
            continue;
        control->setObjectName(QStringLiteral("control%1").arg(c.id));
        control->setProperty("controlId", c.id);
        if (c.id != res::kNoId)
            items[c.id] = control;
    }
    return items;
}

} // namespace dormane::ui
