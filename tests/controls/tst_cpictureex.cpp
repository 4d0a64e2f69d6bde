// The animated picture: loading, still pictures, and the animation stepped frame by frame
// through the control's hooks, so that nothing depends on the clock.

#include <QtTest>

#include <QBuffer>
#include <QSemaphore>

#include <memory>
#include <mutex>

#include "CPictureEx.h"
#include "GifEncoder.h"

namespace {

const std::vector<gif::Rgb> kPalette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
enum : std::uint8_t { Red = 0, Green = 1, Blue = 2, White = 3 };
const QColor kColours[] = {Qt::red, Qt::green, Qt::blue, Qt::white};

struct FrameSpec {
    int left = 0;
    int top = 0;
    int width = 4;
    int height = 4;
    std::uint8_t colour = Red;
    unsigned disposal = 1;
    int delay = 10;      // negative: no graphic control extension
    bool broken = false; // image data the decoder refuses
    int transparent = -1;
    std::vector<std::uint8_t> pixels = {}; // overrides colour when set
};

QByteArray MakeGif(int sw, int sh, const std::vector<FrameSpec>& frames) {
    gif::GifEncoder e(sw, sh, kPalette, White);
    e.AddLoopExtension(0);
    for (const FrameSpec& f : frames) {
        if (f.delay >= 0) {
            e.AddControlExtension(f.disposal, static_cast<std::uint16_t>(f.delay), f.transparent);
        }
        if (f.broken) {
            // An LZW code size of 15 is beyond what GIF allows.
            e.AddRaw({0x2C, static_cast<std::uint8_t>(f.left), 0, static_cast<std::uint8_t>(f.top),
                      0, static_cast<std::uint8_t>(f.width), 0, static_cast<std::uint8_t>(f.height),
                      0, 0, 15, 2, 0xFF, 0xFF, 0});
            continue;
        }
        const std::vector<std::uint8_t> px =
            f.pixels.empty() ? std::vector<std::uint8_t>(f.width * f.height, f.colour) : f.pixels;
        e.AddImage(f.left, f.top, f.width, f.height, px);
    }
    e.AddTrailer();
    return QByteArray(reinterpret_cast<const char*>(e.Bytes().data()),
                      static_cast<qsizetype>(e.Bytes().size()));
}

// Holds the animation thread at every wait until the test lets it go on.
class Stepper {
public:
    static std::shared_ptr<Stepper>
    Attach(CPictureEx& picture, bool ignoreExit = false,
           std::chrono::milliseconds stopWait = std::chrono::milliseconds(5000)) {
        auto s = std::make_shared<Stepper>();
        CPictureEx::AnimationHooks hooks;
        hooks.beforeWait = [s, ignoreExit](std::uint32_t ms, const std::atomic<bool>& exit) {
            {
                std::lock_guard lock(s->m_lock);
                s->m_waits.append(ms);
            }
            s->m_arrived.release();
            while (!s->m_proceed.tryAcquire(1, 5)) {
                if (exit && !ignoreExit) {
                    break;
                }
            }
            return std::uint32_t{0};
        };
        hooks.finished = [s] { s->m_finished.release(); };
        hooks.stopWait = stopWait;
        picture.SetAnimationHooks(hooks);
        return s;
    }
    // The thread has drawn a frame and waits; false if it never got there.
    bool Arrived() { return m_arrived.tryAcquire(1, 10000); }
    void Next() { m_proceed.release(); }
    bool Finished() { return m_finished.tryAcquire(1, 10000); }
    QList<std::uint32_t> Waits() {
        std::lock_guard lock(m_lock);
        return m_waits;
    }

private:
    QSemaphore m_arrived;
    QSemaphore m_proceed;
    QSemaphore m_finished;
    std::mutex m_lock;
    QList<std::uint32_t> m_waits;
};

QByteArray Encoded(const QImage& img, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, format);
    return bytes;
}

} // namespace

class TestCPictureEx : public QObject {
    Q_OBJECT
private slots:
    void singleImageGifIsAStillPicture();
    void otherFormatsAreStillPictures_data();
    void otherFormatsAreStillPictures();
    void nothingToShow_data();
    void nothingToShow();
    void frameThatFailsToDecodeIsDropped();
    void framesKeepTheirPixelsAndTransparency();
    void delaysBelowFiveShowForATenthOfASecond();
    void disposalTwoRestoresTheBackground();
    void disposalThreeRestoresWhatWasUnder();
    void loopsBackToFrameZeroOnAClearedCanvas();
    void stopKeepsTheFrameAndShowResumesThere();
    void stopWithoutThreadOnlyResets();
    void threadThatMissesItsStopIsLetGo();
    void newLoadStopsTheRunningAnimation();
    void paintCopiesTheCanvas();
    void busyAnimationResource();
};

void TestCPictureEx::singleImageGifIsAStillPicture() {
    CPictureEx picture;
    picture.resize(90, 70);
    QVERIFY(picture.LoadFromMemory(MakeGif(5, 3, {{.width = 5, .height = 3, .colour = Green}})));
    QVERIFY(picture.IsGif());
    QCOMPARE(picture.FrameCount(), std::size_t{0});
    QCOMPARE(picture.size(), QSize(5, 3));
    QCOMPARE(picture.Show(), 1);
    QVERIFY(!picture.IsAnimating());
    QCOMPARE(picture.CanvasImage().pixelColor(4, 2), QColor(Qt::green));
}

void TestCPictureEx::otherFormatsAreStillPictures_data() {
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("dotsPerInch");
    QTest::newRow("PNG at 96 dpi") << QByteArray("PNG") << 96;
    QTest::newRow("PNG at 192 dpi") << QByteArray("PNG") << 192;
    QTest::newRow("BMP at 96 dpi") << QByteArray("BMP") << 96;
}

// The size follows from the picture's physical extent and the screen's resolution.
void TestCPictureEx::otherFormatsAreStillPictures() {
    QFETCH(QByteArray, format);
    QFETCH(int, dotsPerInch);
    QImage img(60, 40, QImage::Format_RGB32);
    img.fill(Qt::blue);
    img.setDotsPerMeterX(qRound(dotsPerInch / 0.0254));
    img.setDotsPerMeterY(qRound(dotsPerInch / 0.0254));
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(Encoded(img, format.constData())));
    QVERIFY(!picture.IsGif());
    const QSize expected(qRound(60.0 * picture.logicalDpiX() / dotsPerInch),
                         qRound(40.0 * picture.logicalDpiY() / dotsPerInch));
    QCOMPARE(picture.PictureSize(), expected);
    QCOMPARE(picture.size(), expected);
    QCOMPARE(picture.Show(), 1);
    QCOMPARE(picture.CanvasImage().pixelColor(expected.width() - 1, expected.height() - 1),
             QColor(Qt::blue));
}

void TestCPictureEx::nothingToShow_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("all frames fail")
        << MakeGif(4, 4, {{.broken = true}, {.broken = true}, {.broken = true}});
    QTest::newRow("no graphic block") << MakeGif(4, 4, {});
    QTest::newRow("single image that fails") << MakeGif(4, 4, {{.broken = true}});
    QTest::newRow("not a picture") << QByteArray("this is not a picture at all");
    QTest::newRow("empty") << QByteArray();
}

void TestCPictureEx::nothingToShow() {
    QFETCH(QByteArray, data);
    CPictureEx picture;
    QVERIFY(!picture.LoadFromMemory(data));
    QVERIFY(!picture.IsInitialized());
    QCOMPARE(picture.Show(), 0);
    QVERIFY(!picture.IsAnimating());
}

void TestCPictureEx::frameThatFailsToDecodeIsDropped() {
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(
        MakeGif(4, 4, {{.delay = 7}, {.delay = 8, .broken = true}, {.colour = Blue, .delay = 9}})));
    QCOMPARE(picture.FrameCount(), std::size_t{2});
    QCOMPARE(picture.Frame(0).delay, 7u);
    QCOMPARE(picture.Frame(1).delay, 9u);
}

// Frames are cut, decoded and composed at their place: a 64-colour frame that fills the
// encoder's code table, and a partly transparent frame over it.
void TestCPictureEx::framesKeepTheirPixelsAndTransparency() {
    std::vector<gif::Rgb> palette(64);
    for (int i = 0; i < 64; ++i) {
        palette[i] = {static_cast<std::uint8_t>(i * 4), static_cast<std::uint8_t>(255 - i * 4),
                      static_cast<std::uint8_t>((i * 37) % 256)};
    }
    const int w = 120;
    const int h = 90;
    std::vector<std::uint8_t> noise(w * h);
    std::uint32_t seed = 12345;
    for (auto& v : noise) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>((seed >> 16) % 64);
    }
    gif::GifEncoder e(w, h, palette);
    e.AddControlExtension(1, 10);
    e.AddImage(0, 0, w, h, noise);
    // Index 0 is transparent except for one pixel in the middle.
    std::vector<std::uint8_t> spot(10 * 10, 0);
    spot[55] = 63;
    e.AddControlExtension(1, 10, 0);
    e.AddImage(30, 20, 10, 10, spot, palette);
    e.AddTrailer();

    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(e.Bytes().data(), e.Bytes().size()));
    QCOMPARE(picture.FrameCount(), std::size_t{2});
    auto stepper = Stepper::Attach(picture);
    QCOMPARE(picture.Show(), 0);
    QVERIFY(stepper->Arrived());
    QImage canvas = picture.CanvasImage();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const gif::Rgb c = palette[noise[y * w + x]];
            if (canvas.pixel(x, y) != qRgb(c.r, c.g, c.b)) {
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
        }
    }
    stepper->Next();
    QVERIFY(stepper->Arrived());
    canvas = picture.CanvasImage();
    const gif::Rgb c = palette[63];
    QCOMPARE(canvas.pixel(35, 25), qRgb(c.r, c.g, c.b));
    const gif::Rgb under = palette[noise[20 * w + 30]];
    QCOMPARE(canvas.pixel(30, 20), qRgb(under.r, under.g, under.b));
    picture.StopAnimation();
}

void TestCPictureEx::delaysBelowFiveShowForATenthOfASecond() {
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(
        MakeGif(4, 4, {{.delay = 4}, {.delay = 5}, {.delay = 0}, {.delay = -1}, {.delay = 6}})));
    auto stepper = Stepper::Attach(picture);
    picture.Show();
    for (int i = 0; i < 5; ++i) {
        QVERIFY(stepper->Arrived());
        stepper->Next();
    }
    QVERIFY(stepper->Arrived());
    picture.StopAnimation();
    const QList<std::uint32_t> expected = {100, 50, 100, 0xFFFFFFF6u, 60, 100};
    QCOMPARE(stepper->Waits(), expected);
}

void TestCPictureEx::disposalTwoRestoresTheBackground() {
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(
        MakeGif(4, 4,
                {{.width = 2, .height = 2, .colour = Red, .disposal = 2},
                 {.left = 2, .top = 2, .width = 2, .height = 2, .colour = Green, .disposal = 1}})));
    auto stepper = Stepper::Attach(picture);
    picture.Show();
    QVERIFY(stepper->Arrived());
    QCOMPARE(picture.CanvasImage().pixelColor(0, 0), QColor(Qt::red));
    stepper->Next();
    QVERIFY(stepper->Arrived());
    const QImage canvas = picture.CanvasImage();
    QCOMPARE(canvas.pixelColor(0, 0), picture.BackgroundColor());
    QCOMPARE(canvas.pixelColor(1, 1), picture.BackgroundColor());
    QCOMPARE(canvas.pixelColor(3, 3), QColor(Qt::green));
    picture.StopAnimation();
}

void TestCPictureEx::disposalThreeRestoresWhatWasUnder() {
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(
        MakeGif(4, 4,
                {{.colour = Red, .disposal = 1},
                 {.width = 2, .height = 2, .colour = Green, .disposal = 3},
                 {.left = 3, .top = 3, .width = 1, .height = 1, .colour = Blue}})));
    auto stepper = Stepper::Attach(picture);
    picture.Show();
    QVERIFY(stepper->Arrived());
    stepper->Next();
    QVERIFY(stepper->Arrived());
    QCOMPARE(picture.CanvasImage().pixelColor(0, 0), QColor(Qt::green));
    stepper->Next();
    QVERIFY(stepper->Arrived());
    const QImage canvas = picture.CanvasImage();
    QCOMPARE(canvas.pixelColor(0, 0), QColor(Qt::red));
    QCOMPARE(canvas.pixelColor(1, 1), QColor(Qt::red));
    QCOMPARE(canvas.pixelColor(3, 3), QColor(Qt::blue));
    picture.StopAnimation();
}

void TestCPictureEx::loopsBackToFrameZeroOnAClearedCanvas() {
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(
        MakeGif(4, 4,
                {{.width = 1, .height = 1, .colour = Red, .disposal = 1},
                 {.left = 1, .top = 1, .width = 1, .height = 1, .colour = Green, .disposal = 1}})));
    auto stepper = Stepper::Attach(picture);
    picture.Show();
    QList<std::uint32_t> frames;
    for (int i = 0; i < 4; ++i) {
        QVERIFY(stepper->Arrived());
        frames.append(picture.CurrentFrame());
        if (i == 2) {
            // Frame 0 again, on a canvas cleared to the background: frame 1 is gone.
            const QImage canvas = picture.CanvasImage();
            QCOMPARE(canvas.pixelColor(0, 0), QColor(Qt::red));
            QCOMPARE(canvas.pixelColor(1, 1), picture.BackgroundColor());
        }
        stepper->Next();
    }
    picture.StopAnimation();
    QCOMPARE(frames, (QList<std::uint32_t>{0, 1, 0, 1}));
}

void TestCPictureEx::stopKeepsTheFrameAndShowResumesThere() {
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(MakeGif(4, 4,
                                           {{.colour = Red, .disposal = 2},
                                            {.colour = Green, .disposal = 2},
                                            {.colour = Blue, .disposal = 2}})));
    auto stepper = Stepper::Attach(picture);
    picture.Show();
    QVERIFY(stepper->Arrived());
    stepper->Next();
    QVERIFY(stepper->Arrived());
    picture.StopAnimation();
    QVERIFY(stepper->Finished());
    QVERIFY(!picture.IsAnimating());
    QCOMPARE(picture.CurrentFrame(), 1u);
    QCOMPARE(picture.CanvasImage().pixelColor(2, 2), QColor(Qt::green));
    QCOMPARE(picture.Show(), 0);
    QVERIFY(stepper->Arrived());
    QCOMPARE(picture.CurrentFrame(), 1u);
    QCOMPARE(picture.CanvasImage().pixelColor(2, 2), QColor(Qt::green));
    stepper->Next();
    QVERIFY(stepper->Arrived());
    QCOMPARE(picture.CanvasImage().pixelColor(2, 2), QColor(Qt::blue));
    picture.StopAnimation();
}

void TestCPictureEx::stopWithoutThreadOnlyResets() {
    CPictureEx picture;
    picture.StopAnimation();
    QVERIFY(picture.LoadFromMemory(MakeGif(4, 4, {{.colour = Red}, {.colour = Green}})));
    picture.StopAnimation();
    QVERIFY(picture.IsInitialized());
    auto stepper = Stepper::Attach(picture);
    QCOMPARE(picture.Show(), 0);
    QVERIFY(stepper->Arrived());
    QCOMPARE(picture.CanvasImage().pixelColor(0, 0), QColor(Qt::red));
    picture.StopAnimation();
}

// A thread that does not end within the stop wait is left to end on its own; the control
// lets go of what it loaded and can be loaded again at once.
void TestCPictureEx::threadThatMissesItsStopIsLetGo() {
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(MakeGif(4, 4, {{.colour = Red}, {.colour = Green}})));
    auto stepper = Stepper::Attach(picture, true, std::chrono::milliseconds(20));
    picture.Show();
    QVERIFY(stepper->Arrived());
    picture.StopAnimation();
    QVERIFY(!picture.IsAnimating());
    QVERIFY(!picture.IsInitialized());
    QCOMPARE(picture.Show(), 0);

    QVERIFY(picture.LoadFromMemory(MakeGif(4, 4, {{.colour = Blue}, {.colour = Green}})));
    auto second = Stepper::Attach(picture);
    picture.Show();
    QVERIFY(second->Arrived());
    QCOMPARE(picture.CanvasImage().pixelColor(0, 0), QColor(Qt::blue));

    stepper->Next(); // the late thread sees its exit flag and ends
    QVERIFY(stepper->Finished());
    picture.Clear();
    QVERIFY(second->Finished());
}

void TestCPictureEx::newLoadStopsTheRunningAnimation() {
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(MakeGif(4, 4, {{.colour = Red}, {.colour = Green}})));
    auto stepper = Stepper::Attach(picture);
    picture.Show();
    QVERIFY(stepper->Arrived());
    QCOMPARE(picture.Show(), 0); // a second Show starts no second thread
    QVERIFY(picture.LoadFromMemory(MakeGif(6, 2, {{.width = 6, .height = 2}})));
    QVERIFY(stepper->Finished());
    QVERIFY(!picture.IsAnimating());
    QCOMPARE(picture.PictureSize(), QSize(6, 2));
}

void TestCPictureEx::paintCopiesTheCanvas() {
    QImage img(12, 8, QImage::Format_RGB32);
    img.fill(Qt::white);
    img.setPixel(3, 5, qRgb(10, 200, 30));
    CPictureEx picture;
    QVERIFY(picture.LoadFromMemory(Encoded(img, "PNG")));
    picture.Show();
    const QImage shot = picture.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shot, picture.CanvasImage().convertToFormat(QImage::Format_RGB32));
    QCOMPARE(shot.pixel(3, 5), qRgb(10, 200, 30));
}

// The busy animation as the check page uses it; the type is given in lower case.
void TestCPictureEx::busyAnimationResource() {
    QWidget page;
    CPictureEx picture(&page);
    picture.setGeometry(312, 113, 90, 71);
    QVERIFY(picture.LoadFromResource(232, "gif"));
    QCOMPARE(picture.size(), QSize(100, 100));
    QCOMPARE(picture.pos(), QPoint(312, 113));
    QCOMPARE(picture.FrameCount(), std::size_t{75});
    for (std::size_t i = 0; i < picture.FrameCount(); ++i) {
        const CPictureEx::GifFrame f = picture.Frame(i);
        QCOMPARE(f.delay, 6u);
        QCOMPARE(f.disposal, 2u);
        QCOMPARE(QRect(f.left, f.top, f.width, f.height), QRect(0, 0, 100, 100));
        QCOMPARE(f.picture.size(), QSize(100, 100));
    }
    auto stepper = Stepper::Attach(picture);
    picture.Show();
    QVERIFY(stepper->Arrived());
    // Dots in the accent blue on white.
    const QImage canvas = picture.CanvasImage();
    int blue = 0;
    int white = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            blue += canvas.pixel(x, y) == qRgb(0, 120, 215) ? 1 : 0;
            white += canvas.pixel(x, y) == qRgb(255, 255, 255) ? 1 : 0;
        }
    }
    QVERIFY(blue > 20);
    QVERIFY(white > 5000);
    QVERIFY(!picture.LoadFromResource(9999));
    QVERIFY(stepper->Finished());
}

QTEST_MAIN(TestCPictureEx)
#include "tst_cpictureex.moc"
