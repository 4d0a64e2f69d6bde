#include "Artwork.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <algorithm>
#include <cmath>

#include "GifEncoder.h"

namespace artwork {

namespace {

// Line work uses a near-black: pure black is the key colour of image buttons.
const QColor kInk(0x2B, 0x2B, 0x2B);
const QColor kSoftInk(0x6E, 0x6E, 0x6E);
const QColor kBlue(0, 120, 215);
const QColor kLightBlue(0xCC, 0xE4, 0xF7);
const QColor kGrey(0x9A, 0x9A, 0x9A);
const QColor kLightGrey(0xE6, 0xE6, 0xE6);
const QColor kPanel(0xF3, 0xF3, 0xF3);
const QColor kYellow(0xFF, 0xC6, 0x00);
const QColor kRed(0xE0, 0x1E, 0x1E);
const QColor kBarGrey(0xF2, 0xF2, 0xF2); // the bottom bar the product name sits on

const char* const kFace = "DejaVu Sans";

QImage Canvas(int w, int h, const QColor& background = Qt::white) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(background);
    return img;
}

void Prepare(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

QFont Font(int pixelSize, int weight = QFont::Normal, qreal spacing = 0) {
    QFont f(kFace);
    f.setPixelSize(pixelSize);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setHintingPreference(QFont::PreferFullHinting);
    if (spacing != 0) {
        f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    }
    return f;
}

QPen Stroke(const QColor& c, qreal width) {
    QPen pen(c, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// Point on a circle, angle in degrees clockwise from twelve o'clock.
QPointF OnCircle(QPointF centre, qreal radius, qreal degrees) {
    const qreal a = qDegreesToRadians(degrees);
    return {centre.x() + radius * std::sin(a), centre.y() - radius * std::cos(a)};
}

// Turns every pixel that is exactly white into the key colour, so that an image button
// shows its own background there.
QImage KeyOutWhite(QImage img) {
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == 0xFFFFFF) {
                line[x] = qRgb(0, 0, 0);
            }
        }
    }
    return img;
}

// ---- title strip and bottom bar -------------------------------------------------------

QImage MakerLogo() {
    QImage img = Canvas(47, 16);
    QPainter p(&img);
    Prepare(p);
    // A small mark: two stacked chevrons, then the maker's name.
    p.setPen(Stroke(kInk, 1.5));
    p.drawPolyline(QPolygonF({QPointF(1.0, 4.5), QPointF(3.8, 8), QPointF(1.0, 11.5)}));
    p.drawPolyline(QPolygonF({QPointF(3.8, 4.5), QPointF(6.6, 8), QPointF(3.8, 11.5)}));
    p.setFont(Font(9, QFont::Bold));
    p.setPen(kInk);
    p.drawText(QRectF(8, 0, 39, 16), Qt::AlignVCenter | Qt::AlignHCenter, QStringLiteral("TARVIK"));
    return img;
}

QImage ProductName() {
    QImage img = Canvas(140, 32, kBarGrey);
    QPainter p(&img);
    Prepare(p);
    p.setPen(QColor(0x8A, 0x8A, 0x8A));
    p.setFont(Font(16, QFont::Normal, 1.5));
    p.drawText(QRectF(0, 0, 140, 32), Qt::AlignCenter, QStringLiteral("PELKO ZURO"));
    return img;
}

QImage CloseCross() {
    QImage img = Canvas(11, 11);
    QPainter p(&img);
    Prepare(p);
    p.setPen(Stroke(QColor(0x80, 0x80, 0x80), 1.3));
    p.drawLine(QPointF(1.5, 1.5), QPointF(9.5, 9.5));
    p.drawLine(QPointF(9.5, 1.5), QPointF(1.5, 9.5));
    p.end();
    return KeyOutWhite(img);
}

QImage WarningTriangle() {
    QImage img = Canvas(23, 21);
    QPainter p(&img);
    Prepare(p);
    QPainterPath tri;
    tri.moveTo(11.5, 1.5);
    tri.lineTo(21.5, 19.0);
    tri.lineTo(1.5, 19.0);
    tri.closeSubpath();
    p.setPen(Stroke(kRed, 2.0));
    p.setBrush(kRed);
    p.drawPath(tri);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(10.5, 6.5, 2.0, 7.0), 0.8, 0.8);
    p.drawEllipse(QPointF(11.5, 16.0), 1.2, 1.2);
    return img;
}

// ---- the pair of speakers -------------------------------------------------------------

void DrawSpeaker(QPainter& p, const QRectF& front, qreal depth, bool withLight) {
    // Side face first, so that the front's outline lies over its edge.
    QPainterPath side;
    side.moveTo(front.topRight() + QPointF(-6, 0));
    side.lineTo(front.topRight() + QPointF(depth - 6, -depth * 0.55));
    side.lineTo(front.bottomRight() + QPointF(depth - 6, -depth * 0.55));
    side.lineTo(front.bottomRight() + QPointF(-6, 0));
    side.closeSubpath();
    QPainterPath top;
    top.moveTo(front.topLeft() + QPointF(6, 0));
    top.lineTo(front.topLeft() + QPointF(6 + depth, -depth * 0.55));
    top.lineTo(front.topRight() + QPointF(depth - 6, -depth * 0.55));
    top.lineTo(front.topRight() + QPointF(-6, 0));
    top.closeSubpath();
    p.setPen(Stroke(kInk, 2.0));
    p.setBrush(kLightGrey);
    p.drawPath(side);
    p.setBrush(QColor(0xF2, 0xF2, 0xF2));
    p.drawPath(top);
    p.setBrush(Qt::white);
    p.drawRoundedRect(front, 7, 7);

    const qreal cx = front.center().x();
    // Tweeter.
    const QPointF tweeter(cx, front.top() + 36);
    p.setPen(Stroke(kInk, 2.0));
    p.drawEllipse(tweeter, 14, 14);
    p.setPen(Stroke(kSoftInk, 1.2));
    p.drawEllipse(tweeter, 9, 9);
    p.setBrush(kLightGrey);
    p.drawEllipse(tweeter, 4.5, 4.5);
    // Woofer: surround, cone and dust cap.
    const QPointF woofer(cx, front.top() + 112);
    p.setBrush(Qt::white);
    p.setPen(Stroke(kInk, 2.0));
    p.drawEllipse(woofer, 36, 36);
    p.setPen(Stroke(kSoftInk, 1.2));
    p.drawEllipse(woofer, 30, 30);
    p.drawEllipse(woofer, 22, 22);
    p.setPen(Stroke(kInk, 1.6));
    p.setBrush(kLightGrey);
    p.drawEllipse(woofer, 10, 10);
    // Bass port.
    p.setBrush(Qt::white);
    p.setPen(Stroke(kInk, 1.8));
    p.drawRoundedRect(QRectF(cx - 22, front.bottom() - 30, 44, 10), 5, 5);
    if (withLight) {
        p.setPen(Stroke(kSoftInk, 1.0));
        p.setBrush(kYellow);
        p.drawEllipse(QPointF(front.right() - 14, front.bottom() - 12), 3, 3);
    }
}

QImage Speakers() {
    QImage img = Canvas(240, 223);
    QPainter p(&img);
    Prepare(p);
    // Shadow line the pair stands on.
    p.setPen(Stroke(QColor(0xD0, 0xD0, 0xD0), 2.0));
    p.drawLine(QPointF(14, 214), QPointF(226, 214));
    DrawSpeaker(p, QRectF(16, 22, 94, 186), 14, true);
    DrawSpeaker(p, QRectF(124, 22, 94, 186), 14, false);
    return img;
}

// ---- the control panel ----------------------------------------------------------------

struct PanelLayout {
    QPointF power;
    qreal powerRadius;
    QPointF light;
    qreal lightRadius;
};

void DrawPowerSymbol(QPainter& p, QPointF c, qreal r, const QColor& colour, qreal width) {
    p.setPen(Stroke(colour, width));
    p.setBrush(Qt::NoBrush);
    const QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
    p.drawArc(box, (90 + 35) * 16, (360 - 70) * 16);
    p.drawLine(c + QPointF(0, -r * 1.15), c + QPointF(0, -r * 0.15));
}

// The rear control panel of the speaker. It is designed on a grid of 240 x 100 units and
// drawn at the scale that makes it as high as body; the status light sits at the right
// end, next to where the enlarged view of it goes.
constexpr qreal kPanelUnitsWide = 240;

PanelLayout DrawPanel(QPainter& p, QPointF topLeft, qreal height) {
    const qreal s = height / 100.0;
    const QRectF body(topLeft, QSizeF(kPanelUnitsWide * s, height));
    auto at = [&](qreal ux, qreal uy) {
        return QPointF(body.left() + ux * s, body.top() + uy * s);
    };
    PanelLayout layout{};

    QLinearGradient face(body.topLeft(), body.bottomLeft());
    face.setColorAt(0, QColor(0xF8, 0xF8, 0xF8));
    face.setColorAt(1, QColor(0xE9, 0xE9, 0xE9));
    p.setPen(Stroke(kInk, 2.0));
    p.setBrush(face);
    p.drawRoundedRect(body, 10 * s, 10 * s);
    // Screws in the corners.
    p.setPen(Stroke(kSoftInk, 1.0));
    p.setBrush(Qt::white);
    for (QPointF c :
         {at(9, 9), at(9, 91), at(kPanelUnitsWide - 9, 9), at(kPanelUnitsWide - 9, 91)}) {
        p.drawEllipse(c, 2.4 * s, 2.4 * s);
        p.drawLine(c + QPointF(-1.4 * s, 0), c + QPointF(1.4 * s, 0));
    }

    const QFont label = Font(std::max(8, qRound(8 * s)), QFont::DemiBold, 0.4);
    const qreal labelY = 70;
    auto caption = [&](QPointF centre, const QString& text) {
        p.setFont(label);
        p.setPen(kSoftInk);
        p.drawText(QRectF(centre.x() - 24 * s, body.top() + labelY * s, 48 * s, 12 * s),
                   Qt::AlignCenter, text);
    };
    const qreal row = 44;

    // Analogue input.
    const QPointF aux = at(34, row);
    p.setPen(Stroke(kInk, 2.0));
    p.setBrush(QColor(0xD8, 0xD8, 0xD8));
    p.drawEllipse(aux, 8 * s, 8 * s);
    p.setBrush(QColor(0x40, 0x40, 0x40));
    p.drawEllipse(aux, 3.5 * s, 3.5 * s);
    caption(aux, QStringLiteral("AUX IN"));

    // USB-B socket.
    const QPointF usb = at(78, row);
    QPainterPath socket;
    const qreal w = 10 * s;
    socket.moveTo(usb + QPointF(-w, w));
    socket.lineTo(usb + QPointF(-w, -w * 0.4));
    socket.lineTo(usb + QPointF(-w * 0.5, -w));
    socket.lineTo(usb + QPointF(w * 0.5, -w));
    socket.lineTo(usb + QPointF(w, -w * 0.4));
    socket.lineTo(usb + QPointF(w, w));
    socket.closeSubpath();
    p.setPen(Stroke(kInk, 2.0));
    p.setBrush(QColor(0x55, 0x55, 0x55));
    p.drawPath(socket);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(usb.x() - w * 0.45, usb.y() - w * 0.45, w * 0.9, w * 1.05));
    caption(usb, QStringLiteral("USB"));

    // Volume knob with its scale.
    const QPointF knob = at(122, row);
    p.setPen(Stroke(kSoftInk, 1.2));
    for (int i = 0; i <= 10; ++i) {
        const qreal a = -135 + 27 * i;
        p.drawLine(OnCircle(knob, 21 * s, a), OnCircle(knob, 24 * s, a));
    }
    QRadialGradient knobFace(knob - QPointF(5 * s, 6 * s), 20 * s);
    knobFace.setColorAt(0, Qt::white);
    knobFace.setColorAt(1, QColor(0xDA, 0xDA, 0xDA));
    p.setPen(Stroke(kInk, 2.0));
    p.setBrush(knobFace);
    p.drawEllipse(knob, 17 * s, 17 * s);
    p.setPen(Stroke(kInk, 2.4));
    p.drawLine(OnCircle(knob, 6 * s, 40), OnCircle(knob, 13 * s, 40));
    caption(knob, QStringLiteral("VOLUME"));

    // Power key.
    layout.power = at(168, row);
    layout.powerRadius = 13 * s;
    p.setPen(Stroke(kInk, 2.0));
    p.setBrush(Qt::white);
    p.drawEllipse(layout.power, layout.powerRadius, layout.powerRadius);
    DrawPowerSymbol(p, layout.power, 6 * s, kInk, std::max(1.6, 1.8 * s));
    caption(layout.power, QStringLiteral("POWER"));

    // Status light.
    layout.light = at(214, row);
    layout.lightRadius = 4 * s;
    p.setPen(Stroke(kInk, 1.4));
    p.setBrush(kYellow);
    p.drawEllipse(layout.light, layout.lightRadius, layout.lightRadius);
    caption(layout.light, QStringLiteral("STATUS"));
    return layout;
}

QImage ControlPanelWithLight() {
    QImage img = Canvas(423, 192);
    QPainter p(&img);
    Prepare(p);
    const PanelLayout layout = DrawPanel(p, QPointF(8, 46), 100);
    // The status light enlarged in a loupe on the right, tied to it by two thin lines.
    const QPointF loupe(350, 96);
    const qreal r = 64;
    const QPointF d = loupe - layout.light;
    const qreal dist = std::hypot(d.x(), d.y());
    const QPointF u = d / dist;
    const QPointF n(-u.y(), u.x());
    // Tangents from the light's rim to the loupe's rim.
    const qreal rl = layout.lightRadius + 3;
    const qreal sinA = (r - rl) / dist;
    const qreal cosA = std::sqrt(1 - sinA * sinA);
    p.setPen(Stroke(QColor(0xA8, 0xA8, 0xA8), 1.2));
    for (qreal sgn : {-1.0, 1.0}) {
        const QPointF normal = -u * sinA + sgn * n * cosA;
        p.drawLine(layout.light + normal * rl, loupe + normal * r);
    }
    p.setPen(Stroke(QColor(0xA8, 0xA8, 0xA8), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(layout.light, rl, rl);
    p.setPen(Stroke(kInk, 2.0));
    p.setBrush(QColor(0xF4, 0xF4, 0xF4));
    p.drawEllipse(loupe, r, r);
    QRadialGradient glow(loupe, 44);
    glow.setColorAt(0.0, QColor(0xFF, 0xE0, 0x60, 0xFF));
    glow.setColorAt(0.45, QColor(0xFF, 0xD2, 0x30, 0x90));
    glow.setColorAt(1.0, QColor(0xFF, 0xD2, 0x30, 0x00));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(loupe - QPointF(0, 8), 44, 44);
    p.setPen(Stroke(kInk, 2.5));
    QRadialGradient lamp(loupe - QPointF(6, 15), 24);
    lamp.setColorAt(0, QColor(0xFF, 0xF3, 0xB0));
    lamp.setColorAt(1, kYellow);
    p.setBrush(lamp);
    p.drawEllipse(loupe - QPointF(0, 8), 19, 19);
    p.setFont(Font(12, QFont::DemiBold, 0.6));
    p.setPen(kSoftInk);
    p.drawText(QRectF(loupe.x() - r, loupe.y() + 24, 2 * r, 18), Qt::AlignCenter,
               QStringLiteral("STATUS"));
    return img;
}

QImage ControlPanelWithPowerKey() {
    QImage img = Canvas(341, 136);
    QPainter p(&img);
    Prepare(p);
    const qreal h = 116;
    const qreal w = kPanelUnitsWide * h / 100.0;
    const PanelLayout layout = DrawPanel(p, QPointF((341 - w) / 2, 10), h);
    p.setPen(Stroke(kRed, 3.0));
    p.setBrush(Qt::NoBrush);
    const qreal ring = layout.powerRadius + 8;
    p.drawEllipse(layout.power, ring, ring);
    return img;
}

// ---- the mode pictures ----------------------------------------------------------------

void DrawFrame(QPainter& p, int size, const QColor& colour) {
    p.setPen(Stroke(colour, 3.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2.5, 2.5, size - 5, size - 5), 14, 14);
}

void DrawStopwatch(QPainter& p, QPointF c, qreal r, const QColor& colour, bool markTwenty) {
    const QColor tint = colour == kBlue ? kLightBlue : QColor(0xE8, 0xE8, 0xE8);
    // Crown and stem.
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(c.x() - 0.11 * r, c.y() - 1.30 * r, 0.22 * r, 0.30 * r), 2, 2);
    p.drawRoundedRect(QRectF(c.x() - 0.28 * r, c.y() - 1.42 * r, 0.56 * r, 0.16 * r), 3, 3);
    // Side button at two o'clock.
    p.save();
    p.translate(c);
    p.rotate(45);
    p.drawRoundedRect(QRectF(-0.09 * r, -1.26 * r, 0.18 * r, 0.26 * r), 2, 2);
    p.restore();
    // The twenty minutes of idleness as a tinted sector.
    if (markTwenty) {
        p.setBrush(tint);
        const qreal inner = r * 0.80;
        p.drawPie(QRectF(c.x() - inner, c.y() - inner, 2 * inner, 2 * inner), 90 * 16, -120 * 16);
    }
    // Case.
    p.setPen(Stroke(colour, r * 0.13));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r, r);
    // Minute marks.
    for (int i = 0; i < 12; ++i) {
        const bool major = i % 3 == 0;
        p.setPen(Stroke(colour, major ? 2.6 : 1.6));
        p.drawLine(OnCircle(c, r * 0.82, i * 30), OnCircle(c, r * (major ? 0.66 : 0.72), i * 30));
    }
    // Hand at twenty minutes, or at rest at twelve.
    p.setPen(Stroke(colour, 4.0));
    p.drawLine(c, OnCircle(c, r * 0.62, markTwenty ? 120 : 0));
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(c, r * 0.09, r * 0.09);
}

QImage StopwatchTwenty(const QColor& colour) {
    const int size = 177;
    QImage img = Canvas(size, size);
    QPainter p(&img);
    Prepare(p);
    DrawFrame(p, size, colour);
    DrawStopwatch(p, QPointF(88.5, 82), 46, colour, true);
    p.setPen(colour);
    p.setFont(Font(19, QFont::Bold));
    p.drawText(QRectF(0, 136, size, 28), Qt::AlignCenter, QStringLiteral("20 Mins"));
    return img;
}

QImage StopwatchCrossed(const QColor& colour) {
    const int size = 179;
    QImage img = Canvas(size, size);
    QPainter p(&img);
    Prepare(p);
    DrawFrame(p, size, colour);
    const QPointF c(89.5, 97);
    DrawStopwatch(p, c, 50, colour, false);
    // The stroke through it, set off from the drawing by a white gap.
    const QPointF a(c.x() - 56, c.y() - 62);
    const QPointF b(c.x() + 56, c.y() + 50);
    p.setPen(Stroke(Qt::white, 16));
    p.drawLine(a, b);
    p.setPen(Stroke(colour, 7));
    p.drawLine(a, b);
    return img;
}

} // namespace

QList<Bitmap> Bitmaps() {
    return {
        {225, StopwatchTwenty(kBlue)},
        {227, StopwatchCrossed(kBlue)},
        {235, Speakers()},
        {236, ControlPanelWithPowerKey()},
        {241, ProductName()},
        {2009, MakerLogo()},
        {2010, ControlPanelWithLight()},
        {2012, StopwatchTwenty(kGrey)},
        {2013, StopwatchCrossed(kGrey)},
        {2015, WarningTriangle()},
        {2042, CloseCross()},
    };
}

// ---- the busy animation ---------------------------------------------------------------

std::vector<std::uint8_t> BusyAnimation() {
    constexpr int kSize = 100;
    constexpr int kFrames = 75;
    constexpr int kColours = 64;
    constexpr int kDots = 8;
    // The palette runs from white to the accent blue, so every anti-aliased edge pixel
    // has a colour of its own.
    std::vector<gif::Rgb> palette;
    for (int i = 0; i < kColours; ++i) {
        const double t = static_cast<double>(i) / (kColours - 1);
        palette.push_back({static_cast<std::uint8_t>(std::lround(255 + t * (0 - 255))),
                           static_cast<std::uint8_t>(std::lround(255 + t * (120 - 255))),
                           static_cast<std::uint8_t>(std::lround(255 + t * (215 - 255)))});
    }
    gif::GifEncoder enc(kSize, kSize, palette, 0);
    enc.AddLoopExtension(0);
    const QPointF centre(50, 50);
    for (int f = 0; f < kFrames; ++f) {
        // Three turns per loop of the animation, so the last frame leads into the first.
        const qreal head = 360.0 * 3 * f / kFrames;
        QImage cover(kSize, kSize, QImage::Format_Grayscale8);
        cover.fill(0);
        {
            QPainter p(&cover);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            for (int k = kDots - 1; k >= 0; --k) {
                const qreal strength = 1.0 - 0.11 * k;
                const qreal radius = 6.2 - 0.45 * k;
                p.setBrush(QColor::fromRgbF(strength, strength, strength));
                p.drawEllipse(OnCircle(centre, 33, head - 26.0 * k), radius, radius);
            }
        }
        std::vector<std::uint8_t> indices(static_cast<std::size_t>(kSize) * kSize);
        for (int y = 0; y < kSize; ++y) {
            const uchar* line = cover.constScanLine(y);
            for (int x = 0; x < kSize; ++x) {
                indices[static_cast<std::size_t>(y) * kSize + x] =
                    static_cast<std::uint8_t>((line[x] * (kColours - 1) + 127) / 255);
            }
        }
        enc.AddControlExtension(2, 6);
        // The first frame uses the global table, every later one carries its own copy.
        enc.AddImage(0, 0, kSize, kSize, indices, f == 0 ? std::vector<gif::Rgb>{} : palette);
    }
    enc.AddTrailer();
    std::vector<std::uint8_t> bytes = enc.Bytes();
    bytes.insert(bytes.end(), 64, 0);
    return bytes;
}

// ---- the hand cursor ------------------------------------------------------------------

res::MonoCursor HandCursor() {
    // '#' outline, 'o' white fill, '.' transparent; the finger tip is at (5, 0).
    static const char* const kRows[] = {
        ".....##...........", "....#oo#..........", "....#oo#..........", "....#oo#..........",
        "....#oo#..........", "....#oo###........", "....#oo#oo###.....", "....#oo#oo#oo#....",
        "....#oo#oo#oo###..", "....#oo#oo#oo#oo#.", ".##.#oo#oo#oo#oo#.", "#oo##oo#oo#oo#oo#.",
        "#ooo#ooooooooooo#.", ".#oooooooooooooo#.", "..#ooooooooooooo#.", "..#oooooooooooo#..",
        "...#ooooooooooo#..", "...#oooooooooo#...", "....#ooooooooo#...", "....#ooooooooo#...",
        "....###########...",
    };
    res::MonoCursor c;
    c.width = 32;
    c.height = 32;
    c.hotX = 5;
    c.hotY = 0;
    c.pixels.fill(res::CursorPixel::Transparent, 32 * 32);
    int y = 0;
    for (const char* row : kRows) {
        for (int x = 0; row[x] != '\0'; ++x) {
            c.pixels[y * 32 + x] = static_cast<res::CursorPixel>(row[x]);
        }
        ++y;
    }
    return c;
}

// ---- the icon -------------------------------------------------------------------------

QImage Icon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    Prepare(p);
    const qreal s = size / 48.0; // designed on a 48-pixel grid
    const qreal inset = size <= 16 ? 0.5 : 1.0 * s;
    QLinearGradient bg(0, 0, 0, size);
    bg.setColorAt(0, QColor(0x1A, 0x8C, 0xE6));
    bg.setColorAt(1, QColor(0x00, 0x64, 0xB8));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(inset, inset, size - 2 * inset, size - 2 * inset), 10 * s, 10 * s);
    // A loudspeaker: magnet box and cone.
    p.setBrush(Qt::white);
    QPainterPath speaker;
    speaker.moveTo(9 * s, 19 * s);
    speaker.lineTo(15 * s, 19 * s);
    speaker.lineTo(24 * s, 11 * s);
    speaker.lineTo(24 * s, 37 * s);
    speaker.lineTo(15 * s, 29 * s);
    speaker.lineTo(9 * s, 29 * s);
    speaker.closeSubpath();
    p.drawPath(speaker);
    // The standby symbol beside it.
    DrawPowerSymbol(p, QPointF(34.5 * s, 25 * s), 7.5 * s, Qt::white, std::max(1.5, 3.2 * s));
    return img.convertToFormat(QImage::Format_ARGB32);
}

} // namespace artwork
