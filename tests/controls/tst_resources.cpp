// The embedded resources: every picture with the identifier, size and format the windows
// and controls expect, and the picture formats read back as they were written.

#include <QtTest>

#include <QIcon>

#include "GifBlocks.h"
#include "ResourceFormats.h"
#include "Resources.h"

namespace {

quint32 U32(const QByteArray& b, int pos) {
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(b.constData()) + pos);
}
quint16 U16(const QByteArray& b, int pos) {
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(b.constData()) + pos);
}

bool HasPureBlack(const QImage& img) {
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if ((img.pixel(x, y) & 0xFFFFFF) == 0) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT
private slots:
    void bitmaps_data();
    void bitmaps();
    void imageButtonPicturesAreOpaqueOrKeyed();
    void lookupIgnoresCaseAndReportsMissing();
    void busyAnimationLayout();
    void handCursor();
    void icon();
    void dibRoundTrip_data();
    void dibRoundTrip();
    void malformedDataReadsAsNothing();
    void iconAndCursorRoundTrip();
};

void TestResources::bitmaps_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bytes");
    QTest::newRow("2009 maker's logo") << 2009 << 47 << 16 << 2344;
    QTest::newRow("241 product name") << 241 << 140 << 32 << 13480;
    QTest::newRow("2042 close cross") << 2042 << 11 << 11 << 436;
    QTest::newRow("235 pair of speakers") << 235 << 240 << 223 << 160600;
    QTest::newRow("2010 control panel, light") << 2010 << 423 << 192 << 244264;
    QTest::newRow("2015 warning triangle") << 2015 << 23 << 21 << 1552;
    QTest::newRow("236 control panel, power key") << 236 << 341 << 136 << 139304;
    QTest::newRow("225 stopwatch blue") << 225 << 177 << 177 << 94204;
    QTest::newRow("2012 stopwatch grey") << 2012 << 177 << 177 << 94204;
    QTest::newRow("227 crossed stopwatch blue") << 227 << 179 << 179 << 96700;
    QTest::newRow("2013 crossed stopwatch grey") << 2013 << 179 << 179 << 96700;
}

void TestResources::bitmaps() {
    QFETCH(int, id);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bytes);
    const QByteArray dib = res::Data(QStringLiteral("BITMAP"), id);
    QCOMPARE(dib.size(), bytes);
    // A bare information header: size 40, bottom-up rows, 24 bits, no compression.
    QCOMPARE(U32(dib, 0), 40u);
    QCOMPARE(static_cast<int>(U32(dib, 4)), width);
    QCOMPARE(static_cast<int>(U32(dib, 8)), height);
    QCOMPARE(U16(dib, 14), quint16(24));
    QCOMPARE(U32(dib, 16), 0u);
    QCOMPARE(res::Bitmap(id).size(), QSize(width, height));
}

// The mode pictures are drawn as they are, so they have no pure black; the close cross
// sits on the key colour so the title strip shows around it.
void TestResources::imageButtonPicturesAreOpaqueOrKeyed() {
    for (int id : {225, 227, 2012, 2013}) {
        QVERIFY2(!HasPureBlack(res::BitmapImage(id)), qPrintable(QString::number(id)));
    }
    const QImage cross = res::BitmapImage(2042);
    QCOMPARE(cross.pixel(0, 5) & 0xFFFFFF, 0u);
    QCOMPARE(cross.pixel(10, 5) & 0xFFFFFF, 0u);
    QVERIFY((cross.pixel(5, 5) & 0xFFFFFF) != 0);
}

void TestResources::lookupIgnoresCaseAndReportsMissing() {
    QCOMPARE(res::Data(QStringLiteral("gif"), 232), res::Data(QStringLiteral("GIF"), 232));
    QCOMPARE(res::Data(QStringLiteral("Bitmap"), 2015), res::Data(QStringLiteral("BITMAP"), 2015));
    QVERIFY(res::Data(QStringLiteral("BITMAP"), 1).isEmpty());
    QVERIFY(res::Data(QStringLiteral("SYS"), 202).isEmpty());
    QVERIFY(res::Bitmap(1).isNull());
    QCOMPARE(res::Cursor(1).shape(), Qt::ArrowCursor);
}

void TestResources::busyAnimationLayout() {
    const QByteArray gifData = res::Data(QStringLiteral("GIF"), 232);
    const auto* d = reinterpret_cast<const std::uint8_t*>(gifData.constData());
    const auto size = static_cast<std::size_t>(gifData.size());
    QVERIFY(gifData.startsWith("GIF89a"));
    QCOMPARE(U16(gifData, 6), quint16(100));
    QCOMPARE(U16(gifData, 8), quint16(100));
    QCOMPARE(d[10] & 0x87, 0x85); // a global table of 2^(5+1) = 64 entries
    QCOMPARE(int(d[11]), 0);      // background index

    gif::GifWalker w(d, size);
    QCOMPARE(w.GlobalTableSize(), 192u);
    QCOMPARE(w.NextBlockType(), gif::GifBlockType::Application);
    const std::uint32_t app = w.ParseOffset();
    QCOMPARE(QByteArray(gifData.constData() + app + 3, 11), QByteArray("NETSCAPE2.0"));
    QCOMPARE(int(d[app + 14]), 3); // sub-block: id 1, loop count 0
    QCOMPARE(int(d[app + 15]), 1);
    QCOMPARE(U16(gifData, static_cast<int>(app + 16)), quint16(0));

    const auto frames = gif::CutAllFrames(d, size);
    QCOMPARE(frames.size(), std::size_t{75});
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const gif::FrameCut& f = frames[i];
        QCOMPARE(f.delay, 6u);
        QCOMPARE(f.disposal, 2u);
        QCOMPARE(QRect(f.left, f.top, f.width, f.height), QRect(0, 0, 100, 100));
        // The cut frame: prefix (13 + 192), control extension (8), then the image.
        const std::size_t image = 13 + 192 + 8;
        QCOMPARE(int(f.gif[13 + 192 + 3]) & 1, 0); // no transparency
        QCOMPARE(int(f.gif[image]), 0x2C);
        const int packed = f.gif[image + 9];
        QCOMPARE(packed & 0x40, 0); // not interlaced
        if (i == 0) {
            QCOMPARE(packed & 0x80, 0);
        } else {
            QCOMPARE(packed & 0x87, 0x85); // a local table of 64 entries
        }
    }
    // The trailer is followed by 64 zero bytes.
    QVERIFY(size > 65);
    QCOMPARE(int(d[size - 65]), 0x3B);
    QCOMPARE(gifData.right(64), QByteArray(64, '\0'));
}

void TestResources::handCursor() {
    const res::MonoCursor c = res::DecodeCursor(res::Data(QStringLiteral("CURSOR"), 3001));
    QCOMPARE(c.width, 32);
    QCOMPARE(c.height, 32);
    QCOMPARE(QPoint(c.hotX, c.hotY), QPoint(5, 0));
    // The finger tip is on the hot spot, at the top edge.
    QCOMPARE(c.pixels[5], res::CursorPixel::Black);
    QCOMPARE(c.pixels[0], res::CursorPixel::Transparent);
    QVERIFY(c.pixels.contains(res::CursorPixel::White));
    const QCursor cursor = res::Cursor(3001);
    QCOMPARE(cursor.hotSpot(), QPoint(5, 0));
    QCOMPARE(cursor.bitmap().size(), QSize(32, 32));
}

void TestResources::icon() {
    const QList<res::IconEntry> images = res::DecodeIcon(res::Data(QStringLiteral("ICON"), 201));
    QCOMPARE(images.size(), 13);
    const int sizes[] = {48, 32, 24, 16, 48, 32, 24, 16, 256, 48, 32, 24, 16};
    const res::IconDepth depths[] = {
        res::IconDepth::Colors16,  res::IconDepth::Colors16,  res::IconDepth::Colors16,
        res::IconDepth::Colors16,  res::IconDepth::Colors256, res::IconDepth::Colors256,
        res::IconDepth::Colors256, res::IconDepth::Colors256, res::IconDepth::Png,
        res::IconDepth::Argb32,    res::IconDepth::Argb32,    res::IconDepth::Argb32,
        res::IconDepth::Argb32};
    for (int i = 0; i < images.size(); ++i) {
        QCOMPARE(images[i].image.size(), QSize(sizes[i], sizes[i]));
        QCOMPARE(images[i].depth, depths[i]);
    }
    const QList<QSize> available = res::AppIcon().availableSizes();
    for (int s : {16, 24, 32, 48, 256}) {
        QVERIFY2(available.contains(QSize(s, s)), qPrintable(QString::number(s)));
    }
}

void TestResources::dibRoundTrip_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    // Odd widths exercise the row padding.
    QTest::newRow("1 x 1") << 1 << 1;
    QTest::newRow("2 x 3") << 2 << 3;
    QTest::newRow("3 x 2") << 3 << 2;
    QTest::newRow("5 x 4") << 5 << 4;
    QTest::newRow("47 x 16") << 47 << 16;
}

void TestResources::dibRoundTrip() {
    QFETCH(int, width);
    QFETCH(int, height);
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            img.setPixel(x, y, qRgb(x * 50 % 256, y * 70 % 256, (x + y) * 30 % 256));
        }
    }
    const QByteArray dib = res::EncodeDib24(img);
    QCOMPARE(dib.size(), 40 + ((width * 3 + 3) / 4 * 4) * height);
    QCOMPARE(res::DecodeDib(dib), img);
}

void TestResources::malformedDataReadsAsNothing() {
    QImage img(5, 4, QImage::Format_RGB32);
    img.fill(Qt::red);
    const QByteArray dib = res::EncodeDib24(img);
    QVERIFY(res::DecodeDib(dib.left(dib.size() - 1)).isNull());
    QVERIFY(res::DecodeDib(dib.left(39)).isNull());
    QVERIFY(res::DecodeDib(QByteArray()).isNull());
    QByteArray compressed = dib;
    compressed[16] = 1;
    QVERIFY(res::DecodeDib(compressed).isNull());

    const QByteArray ico =
        res::EncodeIcon({{QImage(16, 16, QImage::Format_ARGB32), res::IconDepth::Argb32}});
    QVERIFY(res::DecodeIcon(ico.left(ico.size() - 10)).isEmpty());
    QCOMPARE(res::DecodeCursor(QByteArray("\0\0\2\0", 4)).width, 0);
}

void TestResources::iconAndCursorRoundTrip() {
    QImage img(24, 24, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    for (int y = 4; y < 20; ++y) {
        for (int x = 4; x < 20; ++x) {
            img.setPixel(x, y, qRgba(0, 120, 215, 255));
        }
    }
    const QList<res::IconEntry> back = res::DecodeIcon(
        res::EncodeIcon({{img, res::IconDepth::Argb32}, {img, res::IconDepth::Colors256}}));
    QCOMPARE(back.size(), 2);
    QCOMPARE(back[0].image, img);
    // The palette image keeps the shape through its mask.
    QCOMPARE(qAlpha(back[1].image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(back[1].image.pixel(10, 10)), 255);

    res::MonoCursor c;
    c.width = 8;
    c.height = 3;
    c.hotX = 2;
    c.hotY = 1;
    for (int i = 0; i < 24; ++i) {
        c.pixels.append(static_cast<res::CursorPixel>(".#o"[i % 3]));
    }
    const res::MonoCursor r = res::DecodeCursor(res::EncodeCursor(c));
    QCOMPARE(r.width, 8);
    QCOMPARE(r.height, 3);
    QCOMPARE(QPoint(r.hotX, r.hotY), QPoint(2, 1));
    QCOMPARE(r.pixels, c.pixels);
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
