#include "Resources.h"

#include <QBitmap>
#include <QFile>
#include <QMap>

#include "ResourceFormats.h"

// The artwork is compiled into this static library; registering it by name keeps the
// linker from dropping it.
static void RegisterArtwork() {
    Q_INIT_RESOURCE(dormane_artwork);
}

namespace res {

namespace {

void EnsureRegistered() {
    static const bool registered = (RegisterArtwork(), true);
    (void)registered;
}

} // namespace

QByteArray Data(const QString& type, int id) {
    EnsureRegistered();
    QFile file(QStringLiteral(":/dormane/%1/%2").arg(type.toUpper()).arg(id));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QImage BitmapImage(int id) {
    return DecodeDib(Data(QStringLiteral("BITMAP"), id));
}

QPixmap Bitmap(int id) {
    const QImage image = BitmapImage(id);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QCursor Cursor(int id) {
    const MonoCursor c = DecodeCursor(Data(QStringLiteral("CURSOR"), id));
    if (c.width == 0) {
        return QCursor(Qt::ArrowCursor);
    }
    // Bit set in both: black; mask only: white; neither: transparent.
    QImage bits(c.width, c.height, QImage::Format_RGB32);
    QImage mask(c.width, c.height, QImage::Format_RGB32);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const CursorPixel px = c.pixels[y * c.width + x];
            bits.setPixel(x, y, px == CursorPixel::Black ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
            mask.setPixel(x, y,
                          px == CursorPixel::Transparent ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        }
    }
    return QCursor(QBitmap::fromImage(bits), QBitmap::fromImage(mask), c.hotX, c.hotY);
}

QIcon AppIcon() {
    // Of several images of one size the deepest one is used.
    QMap<int, IconEntry> best;
    for (const IconEntry& e : DecodeIcon(Data(QStringLiteral("ICON"), 201))) {
        const auto it = best.find(e.image.width());
        if (it == best.end() || static_cast<int>(e.depth) > static_cast<int>(it->depth)) {
            best.insert(e.image.width(), e);
        }
    }
    QIcon icon;
    for (const IconEntry& e : best) {
        icon.addPixmap(QPixmap::fromImage(e.image));
    }
    return icon;
}

} // namespace res
