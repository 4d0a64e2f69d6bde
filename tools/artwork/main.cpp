// Draws the program's artwork into a directory, one file per resource, named by type
// and number as the resource lookup finds them: BITMAP/<id>, GIF/232, CURSOR/3001 and
// ICON/201. With --preview <dir> it also writes every picture as a PNG for viewing.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

#include "Artwork.h"
#include "ResourceFormats.h"

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "dormane-artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QImage CursorPreview(const res::MonoCursor& c) {
    // Enlarged four times on a checkerboard so the transparent part shows.
    QImage img(c.width * 4, c.height * 4, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const res::CursorPixel px = c.pixels[(y / 4) * c.width + x / 4];
            QRgb v = ((x / 8 + y / 8) % 2) ? qRgb(200, 220, 200) : qRgb(170, 190, 170);
            if (px == res::CursorPixel::Black) {
                v = qRgb(0, 0, 0);
            } else if (px == res::CursorPixel::White) {
                v = qRgb(255, 255, 255);
            }
            img.setPixel(x, y, v);
        }
    }
    return img;
}

} // namespace

int main(int argc, char** argv) {
    // Drawing text needs a GUI application but never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: dormane-artwork <output dir> [--preview <dir>]\n");
        return 2;
    }
    const QDir out(args[1]);
    QString preview;
    const qsizetype p = args.indexOf(QStringLiteral("--preview"));
    if (p > 0 && p + 1 < args.size()) {
        preview = args[p + 1];
        QDir().mkpath(preview);
    }
    for (const char* sub : {"BITMAP", "GIF", "CURSOR", "ICON"}) {
        QDir().mkpath(out.filePath(QString::fromLatin1(sub)));
    }
    bool ok = true;
    for (const artwork::Bitmap& b : artwork::Bitmaps()) {
        ok = WriteFile(out.filePath(QStringLiteral("BITMAP/%1").arg(b.id)),
                       res::EncodeDib24(b.image)) &&
             ok;
        if (!preview.isEmpty()) {
            b.image.save(QDir(preview).filePath(QStringLiteral("bitmap-%1.png").arg(b.id)));
        }
    }
    const std::vector<std::uint8_t> gif = artwork::BusyAnimation();
    const QByteArray gifBytes(reinterpret_cast<const char*>(gif.data()),
                              static_cast<qsizetype>(gif.size()));
    ok = WriteFile(out.filePath(QStringLiteral("GIF/232")), gifBytes) && ok;

    const res::MonoCursor hand = artwork::HandCursor();
    ok = WriteFile(out.filePath(QStringLiteral("CURSOR/3001")), res::EncodeCursor(hand)) && ok;

    // 16 and 256 colours, a 256-pixel PNG, then full colour with alpha.
    QList<res::IconEntry> icon;
    for (res::IconDepth depth : {res::IconDepth::Colors16, res::IconDepth::Colors256}) {
        for (int size : {48, 32, 24, 16}) {
            icon.append({artwork::Icon(size), depth});
        }
    }
    icon.append({artwork::Icon(256), res::IconDepth::Png});
    for (int size : {48, 32, 24, 16}) {
        icon.append({artwork::Icon(size), res::IconDepth::Argb32});
    }
    ok = WriteFile(out.filePath(QStringLiteral("ICON/201")), res::EncodeIcon(icon)) && ok;

    if (!preview.isEmpty()) {
        const QDir pv(preview);
        QFile gf(pv.filePath(QStringLiteral("gif-232.gif")));
        if (gf.open(QIODevice::WriteOnly)) {
            gf.write(gifBytes);
        }
        CursorPreview(hand).save(pv.filePath(QStringLiteral("cursor-3001.png")));
        for (int size : {256, 48, 32, 24, 16}) {
            artwork::Icon(size).save(pv.filePath(QStringLiteral("icon-%1.png").arg(size)));
        }
    }
    return ok ? 0 : 1;
}
