// The flat progress bar: its two fills read back from the painted pixels.

#include <QtTest>

#include "CProgressEx.h"

namespace {

const QRgb kTrack = qRgb(200, 200, 200);
const QRgb kBlue = qRgb(0, 120, 215);

} // namespace

class TestCProgressEx : public QObject {
    Q_OBJECT
private slots:
    void paintsTrackAndFill_data();
    void paintsTrackAndFill();
    void fillNeverReachesTheEdgeEarly();
};

void TestCProgressEx::paintsTrackAndFill_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("blue");

    QTest::newRow("42 of 100 on 346 px") << 346 << 0 << 100 << 42 << 145;
    QTest::newRow("empty bar") << 346 << 0 << 100 << 0 << 0;
    QTest::newRow("full bar") << 346 << 0 << 100 << 100 << 346;
    QTest::newRow("uneven width truncates") << 7 << 0 << 100 << 99 << 6;
    QTest::newRow("range of zero width") << 346 << 50 << 50 << 50 << 0;
    QTest::newRow("range not starting at 0") << 200 << 100 << 200 << 150 << 100;
}

// Every pixel is either track or fill, and the fill is a left-aligned run.
void TestCProgressEx::paintsTrackAndFill() {
    QFETCH(int, width);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(int, position);
    QFETCH(int, blue);

    CProgressEx bar;
    bar.resize(width, 6);
    if (upper > lower) {
        bar.setRange(lower, upper);
        bar.setValue(position);
    } else {
        // QProgressBar keeps lower <= upper; the zero-width range is set directly.
        bar.setRange(lower, lower);
        bar.setValue(position);
    }
    const QImage img = bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(img.width(), width);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QRgb expected = x < blue ? kBlue : kTrack;
            if (img.pixel(x, y) != expected) {
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3")
                                     .arg(x)
                                     .arg(y)
                                     .arg(img.pixel(x, y), 8, 16, QLatin1Char('0'))));
            }
        }
    }
}

// For every position below the upper bound the blue part stays within
// position x width / 100 and leaves the right edge grey.
void TestCProgressEx::fillNeverReachesTheEdgeEarly() {
    for (int width : {7, 99, 101, 346}) {
        for (int pos = 0; pos < 100; ++pos) {
            const int fill = CProgressEx::FillWidth(width, 0, 100, pos);
            QVERIFY(fill * 100 <= pos * width);
            QVERIFY(fill < width);
        }
        QCOMPARE(CProgressEx::FillWidth(width, 0, 100, 100), width);
    }
    // A bar that was reset reports a position below its range.
    QCOMPARE(CProgressEx::FillWidth(346, 0, 100, -1), 0);
}

QTEST_MAIN(TestCProgressEx)
#include "tst_cprogressex.moc"
