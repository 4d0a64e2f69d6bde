#include "ResourceFormats.h"

#include <QBuffer>
#include <QtEndian>

#include <array>
#include <cstdint>

namespace res {

namespace {

constexpr int kInfoHeaderSize = 40;
constexpr int kDirHeaderSize = 6;
constexpr int kDirEntrySize = 16;
constexpr std::int32_t kPelsPerMeter = 3780; // 96 dots per inch

int RowBytes(int width, int bits) {
    return ((width * bits + 31) / 32) * 4;
}

void PutU16(QByteArray& out, quint16 v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>(v >> 8));
}

void PutU32(QByteArray& out, quint32 v) {
    for (int i = 0; i < 4; ++i) {
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

quint16 GetU16(const QByteArray& in, qsizetype pos) {
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(in.constData()) + pos);
}

quint32 GetU32(const QByteArray& in, qsizetype pos) {
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(in.constData()) + pos);
}

void PutInfoHeader(QByteArray& out, int width, int height, int bits, quint32 imageBytes) {
    PutU32(out, kInfoHeaderSize);
    PutU32(out, static_cast<quint32>(width));
    PutU32(out, static_cast<quint32>(height));
    PutU16(out, 1);
    PutU16(out, static_cast<quint16>(bits));
    PutU32(out, 0); // no compression
    PutU32(out, imageBytes);
    PutU32(out, kPelsPerMeter);
    PutU32(out, kPelsPerMeter);
    PutU32(out, 0); // full colour table
    PutU32(out, 0);
}

// The sixteen colours of the classic 4-bit display palette.
constexpr std::array<QRgb, 16> kPalette16 = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
    0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF,
};

QList<QRgb> Palette256() {
    QList<QRgb> pal;
    for (int r = 0; r < 6; ++r) {
        for (int g = 0; g < 6; ++g) {
            for (int b = 0; b < 6; ++b) {
                pal.append(qRgb(r * 51, g * 51, b * 51));
            }
        }
    }
    // The cube's six greys are joined by 40 more for smooth shading.
    for (int i = 0; pal.size() < 256; ++i) {
        const int v = 6 + i * 6;
        pal.append(qRgb(v, v, v));
    }
    return pal;
}

int Nearest(const QList<QRgb>& pal, QRgb c) {
    int best = 0;
    int bestDist = 1 << 30;
    for (int i = 0; i < pal.size(); ++i) {
        const int dr = qRed(pal[i]) - qRed(c);
        const int dg = qGreen(pal[i]) - qGreen(c);
        const int db = qBlue(pal[i]) - qBlue(c);
        const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

QByteArray PngBytes(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// One icon image as a DIB with doubled height: colour table, XOR pixels, AND mask.
QByteArray IconDib(const QImage& source, IconDepth depth) {
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width();
    const int h = img.height();
    const int bits = depth == IconDepth::Colors16 ? 4 : depth == IconDepth::Colors256 ? 8 : 32;
    const int xorRow = RowBytes(w, bits);
    const int andRow = RowBytes(w, 1);
    QByteArray out;
    PutInfoHeader(out, w, 2 * h, bits, static_cast<quint32>((xorRow + andRow) * h));
    QList<QRgb> pal;
    if (bits == 4) {
        pal = QList<QRgb>(kPalette16.begin(), kPalette16.end());
    } else if (bits == 8) {
        pal = Palette256();
    }
    for (QRgb c : pal) {
        out.append(static_cast<char>(qBlue(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qRed(c)));
        out.append('\0');
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(xorRow, '\0');
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb c = line[x];
            if (bits == 32) {
                row[4 * x] = static_cast<char>(qBlue(c));
                row[4 * x + 1] = static_cast<char>(qGreen(c));
                row[4 * x + 2] = static_cast<char>(qRed(c));
                row[4 * x + 3] = static_cast<char>(qAlpha(c));
                continue;
            }
            // Palette images have no alpha: a covered pixel takes the colour it would
            // show on a light background, a transparent one index 0 under the mask.
            const int a = qAlpha(c);
            const QRgb onWhite =
                qRgb((qRed(c) * a + 255 * (255 - a)) / 255, (qGreen(c) * a + 255 * (255 - a)) / 255,
                     (qBlue(c) * a + 255 * (255 - a)) / 255);
            const int index = a < 128 ? 0 : Nearest(pal, onWhite);
            if (bits == 8) {
                row[x] = static_cast<char>(index);
            } else {
                row[x / 2] = static_cast<char>(row[x / 2] | (x % 2 == 0 ? index << 4 : index));
            }
        }
        out.append(row);
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(andRow, '\0');
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qAlpha(line[x]) < 128) {
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
        out.append(row);
    }
    return out;
}

bool MaskBit(const uchar* row, int x) {
    return (row[x / 8] & (0x80 >> (x % 8))) != 0;
}

// Reads one icon image written as a DIB of doubled height.
QImage DecodeIconDib(const QByteArray& dib) {
    if (dib.size() < kInfoHeaderSize || GetU32(dib, 0) != kInfoHeaderSize) {
        return {};
    }
    const int w = static_cast<int>(GetU32(dib, 4));
    const int h = static_cast<int>(GetU32(dib, 8)) / 2;
    const int bits = GetU16(dib, 14);
    if (w <= 0 || h <= 0 || w > 256 || h > 256 || GetU32(dib, 16) != 0 ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
        return {};
    }
    quint32 colours = GetU32(dib, 32);
    if (bits <= 8 && (colours == 0 || colours > (1u << bits))) {
        colours = 1u << bits;
    } else if (bits > 8) {
        colours = 0;
    }
    const qsizetype palPos = kInfoHeaderSize;
    const qsizetype xorPos = palPos + 4 * static_cast<qsizetype>(colours);
    const qsizetype xorRow = RowBytes(w, bits);
    const qsizetype andPos = xorPos + xorRow * h;
    const qsizetype andRow = RowBytes(w, 1);
    const bool hasMask = andPos + andRow * h <= dib.size();
    if (andPos > dib.size()) {
        return {};
    }
    QList<QRgb> pal;
    for (quint32 i = 0; i < colours; ++i) {
        const auto* p = reinterpret_cast<const uchar*>(dib.constData()) + palPos + 4 * i;
        pal.append(qRgb(p[2], p[1], p[0]));
    }
    QImage img(w, h, QImage::Format_ARGB32);
    bool anyAlpha = false;
    const auto* base = reinterpret_cast<const uchar*>(dib.constData());
    for (int y = 0; y < h; ++y) {
        const uchar* src = base + xorPos + xorRow * (h - 1 - y);
        QRgb* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            switch (bits) {
            case 32:
                dst[x] = qRgba(src[4 * x + 2], src[4 * x + 1], src[4 * x], src[4 * x + 3]);
                anyAlpha = anyAlpha || src[4 * x + 3] != 0;
                break;
            case 24:
                dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                break;
            case 8:
                dst[x] = pal[src[x]];
                break;
            case 4:
                dst[x] = pal[(x % 2 == 0 ? src[x / 2] >> 4 : src[x / 2]) & 0x0F];
                break;
            default:
                dst[x] = pal[MaskBit(src, x) ? 1 : 0];
                break;
            }
        }
    }
    if (hasMask && !(bits == 32 && anyAlpha)) {
        for (int y = 0; y < h; ++y) {
            const uchar* mask = base + andPos + andRow * (h - 1 - y);
            QRgb* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < w; ++x) {
                dst[x] = MaskBit(mask, x) ? qRgba(0, 0, 0, 0) : (dst[x] | 0xFF000000u);
            }
        }
    }
    return img;
}

} // namespace

QByteArray EncodeDib24(const QImage& image) {
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    const int w = img.width();
    const int h = img.height();
    const int rowBytes = RowBytes(w, 24);
    QByteArray out;
    out.reserve(kInfoHeaderSize + rowBytes * h);
    PutInfoHeader(out, w, h, 24, static_cast<quint32>(rowBytes * h));
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(rowBytes, '\0');
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<char>(qBlue(line[x]));
            row[3 * x + 1] = static_cast<char>(qGreen(line[x]));
            row[3 * x + 2] = static_cast<char>(qRed(line[x]));
        }
        out.append(row);
    }
    return out;
}

QImage DecodeDib(const QByteArray& dib) {
    if (dib.size() < kInfoHeaderSize || GetU32(dib, 0) < kInfoHeaderSize) {
        return {};
    }
    const qint32 w = static_cast<qint32>(GetU32(dib, 4));
    const qint32 rawH = static_cast<qint32>(GetU32(dib, 8));
    const int bits = GetU16(dib, 14);
    const bool bottomUp = rawH > 0;
    const qint64 h = bottomUp ? rawH : -static_cast<qint64>(rawH);
    if (w <= 0 || h <= 0 || w > 32767 || h > 32767 || (bits != 24 && bits != 32) ||
        GetU32(dib, 16) != 0) {
        return {};
    }
    const qsizetype rowBytes = RowBytes(w, bits);
    const qsizetype start = GetU32(dib, 0);
    if (start + rowBytes * h > dib.size()) {
        return {};
    }
    QImage img(w, static_cast<int>(h), QImage::Format_RGB32);
    const auto* base = reinterpret_cast<const uchar*>(dib.constData()) + start;
    const int step = bits / 8;
    for (int y = 0; y < h; ++y) {
        const uchar* src = base + rowBytes * (bottomUp ? h - 1 - y : y);
        QRgb* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            dst[x] = qRgb(src[step * x + 2], src[step * x + 1], src[step * x]);
        }
    }
    return img;
}

QByteArray EncodeIcon(const QList<IconEntry>& entries) {
    QList<QByteArray> blobs;
    for (const IconEntry& e : entries) {
        blobs.append(e.depth == IconDepth::Png ? PngBytes(e.image) : IconDib(e.image, e.depth));
    }
    QByteArray out;
    PutU16(out, 0);
    PutU16(out, 1); // icon
    PutU16(out, static_cast<quint16>(entries.size()));
    quint32 offset = kDirHeaderSize + kDirEntrySize * static_cast<quint32>(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const IconEntry& e = entries[i];
        const int w = e.image.width();
        const int h = e.image.height();
        const int bits = e.depth == IconDepth::Colors16    ? 4
                         : e.depth == IconDepth::Colors256 ? 8
                                                           : 32;
        out.append(static_cast<char>(w >= 256 ? 0 : w));
        out.append(static_cast<char>(h >= 256 ? 0 : h));
        out.append(static_cast<char>(bits == 4 ? 16 : 0));
        out.append('\0');
        PutU16(out, 1);
        PutU16(out, static_cast<quint16>(bits));
        PutU32(out, static_cast<quint32>(blobs[i].size()));
        PutU32(out, offset);
        offset += static_cast<quint32>(blobs[i].size());
    }
    for (const QByteArray& b : blobs) {
        out.append(b);
    }
    return out;
}

QList<IconEntry> DecodeIcon(const QByteArray& ico) {
    QList<IconEntry> images;
    if (ico.size() < kDirHeaderSize || GetU16(ico, 0) != 0 || GetU16(ico, 2) != 1) {
        return images;
    }
    const int count = GetU16(ico, 4);
    if (kDirHeaderSize + kDirEntrySize * count > ico.size()) {
        return images;
    }
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = kDirHeaderSize + kDirEntrySize * i;
        const quint32 size = GetU32(ico, entry + 8);
        const quint32 offset = GetU32(ico, entry + 12);
        if (offset > static_cast<quint64>(ico.size()) ||
            size > static_cast<quint64>(ico.size()) - offset) {
            return {};
        }
        const QByteArray blob = ico.mid(offset, size);
        const bool png = blob.startsWith("\x89PNG");
        const QImage img = png ? QImage::fromData(blob, "PNG") : DecodeIconDib(blob);
        if (img.isNull()) {
            return {};
        }
        const quint16 bits = GetU16(ico, entry + 6);
        const IconDepth depth = png         ? IconDepth::Png
                                : bits == 4 ? IconDepth::Colors16
                                : bits == 8 ? IconDepth::Colors256
                                            : IconDepth::Argb32;
        images.append({img.convertToFormat(QImage::Format_ARGB32), depth});
    }
    return images;
}

QByteArray EncodeCursor(const MonoCursor& cursor) {
    const int w = cursor.width;
    const int h = cursor.height;
    const int rowBytes = RowBytes(w, 1);
    QByteArray image;
    PutInfoHeader(image, w, 2 * h, 1, static_cast<quint32>(2 * rowBytes * h));
    PutU32(image, 0x00000000); // index 0 black
    PutU32(image, 0x00FFFFFF); // index 1 white
    auto at = [&](int x, int y) {
        return cursor.pixels.value(y * w + x, CursorPixel::Transparent);
    };
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < w; ++x) {
            if (at(x, y) == CursorPixel::White) {
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
        image.append(row);
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < w; ++x) {
            if (at(x, y) == CursorPixel::Transparent) {
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
        image.append(row);
    }
    QByteArray out;
    PutU16(out, 0);
    PutU16(out, 2); // cursor
    PutU16(out, 1);
    out.append(static_cast<char>(w));
    out.append(static_cast<char>(h));
    out.append(static_cast<char>(2));
    out.append('\0');
    PutU16(out, static_cast<quint16>(cursor.hotX));
    PutU16(out, static_cast<quint16>(cursor.hotY));
    PutU32(out, static_cast<quint32>(image.size()));
    PutU32(out, kDirHeaderSize + kDirEntrySize);
    out.append(image);
    return out;
}

MonoCursor DecodeCursor(const QByteArray& cur) {
    MonoCursor c;
    if (cur.size() < kDirHeaderSize + kDirEntrySize || GetU16(cur, 2) != 2 || GetU16(cur, 4) < 1) {
        return c;
    }
    const quint32 size = GetU32(cur, kDirHeaderSize + 8);
    const quint32 offset = GetU32(cur, kDirHeaderSize + 12);
    if (offset > static_cast<quint64>(cur.size()) ||
        size > static_cast<quint64>(cur.size()) - offset) {
        return c;
    }
    const QByteArray dib = cur.mid(offset, size);
    if (dib.size() < kInfoHeaderSize + 8 || GetU16(dib, 14) != 1 || GetU32(dib, 16) != 0) {
        return c;
    }
    const int w = static_cast<int>(GetU32(dib, 4));
    const int h = static_cast<int>(GetU32(dib, 8)) / 2;
    const qsizetype rowBytes = RowBytes(w, 1);
    const qsizetype xorPos = kInfoHeaderSize + 8;
    const qsizetype andPos = xorPos + rowBytes * h;
    if (w <= 0 || h <= 0 || w > 256 || h > 256 || andPos + rowBytes * h > dib.size()) {
        return c;
    }
    const auto* base = reinterpret_cast<const uchar*>(dib.constData());
    c.width = w;
    c.height = h;
    c.hotX = GetU16(cur, kDirHeaderSize + 4);
    c.hotY = GetU16(cur, kDirHeaderSize + 6);
    for (int y = 0; y < h; ++y) {
        const uchar* xr = base + xorPos + rowBytes * (h - 1 - y);
        const uchar* ar = base + andPos + rowBytes * (h - 1 - y);
        for (int x = 0; x < w; ++x) {
            c.pixels.append(MaskBit(ar, x)   ? CursorPixel::Transparent
                            : MaskBit(xr, x) ? CursorPixel::White
                                             : CursorPixel::Black);
        }
    }
    return c;
}

} // namespace res
