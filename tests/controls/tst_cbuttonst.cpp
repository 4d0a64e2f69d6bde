// The flat owner-drawn button: colours per state, outline and pressed shift, images with
// their key colour, and the hover rules, all read from painted pixels.

#include <QtTest>

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>

#include "CButtonST.h"

namespace {

const QColor kAccentBlue(0, 120, 215);
const QColor kButtonGrey(112, 112, 112);
const QColor kWhite(255, 255, 255);
const QColor kPageBack(255, 0, 255); // a page colour no button colour uses

void Move(QWidget* w, QPoint pos, Qt::MouseButtons buttons = Qt::NoButton) {
    const QPointF local(pos);
    QMouseEvent e(QEvent::MouseMove, local, w->mapToGlobal(local), Qt::NoButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Leave(QWidget* w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

QImage Grab(QWidget* w) {
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// What the page shows over the button's rectangle, with the button drawn on it.
QImage GrabOnPage(QWidget* page, QWidget* button) {
    return page->grab(button->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
}

QPixmap Solid(int w, int h, const QColor& c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return QPixmap::fromImage(img);
}

// A page with a known background and one button on it.
struct Page {
    QWidget widget;
    CButtonST* button;
    Page() {
        QPalette pal = widget.palette();
        pal.setColor(QPalette::Window, kPageBack);
        widget.setPalette(pal);
        widget.setAutoFillBackground(true);
        widget.resize(300, 220);
        button = new CButtonST(&widget);
    }
};

void StyleLikeNavigation(CButtonST& b) {
    b.SetButtonColor(CLR_BK_HOT, kAccentBlue);
    b.SetButtonColor(CLR_BK_NORMAL, kButtonGrey);
    b.SetButtonColor(CLR_BK_FOCUS, kButtonGrey);
    b.SetButtonColor(CLR_FG_HOT, kWhite);
    b.SetButtonColor(CLR_FG_NORMAL, kWhite);
    b.SetButtonColor(CLR_FG_FOCUS, kWhite);
}

} // namespace

class TestCButtonST : public QObject {
    Q_OBJECT
private slots:
    void navigationButtonThroughHoverPressAndLeave();
    void backgroundPerState_data();
    void backgroundPerState();
    void pressedCaptionMovesOneDownAndRight();
    void dragOntoButtonDoesNotLightIt();
    void hotStateEnds_data();
    void hotStateEnds();
    void blackIsTheKeyColour();
    void imageCentredOnPageAndShiftedWhilePressed();
    void normalImageAtRestHotImageOtherwise();
    void newImagesReplaceOldOnes();
    void systemColourChangeResetsColours();
    void enterAndSpacePressTheFocusedButton();
    void handCursorPointsWithItsFingerTip();
};

void TestCButtonST::navigationButtonThroughHoverPressAndLeave() {
    Page page;
    CButtonST& b = *page.button;
    b.setGeometry(20, 20, 156, 30);
    b.setText(QStringLiteral("Next"));
    StyleLikeNavigation(b);
    page.widget.show();
    const QColor light(b.palette().color(QPalette::Light).rgb());
    const QColor dark(b.palette().color(QPalette::Dark).rgb());
    const int w = b.width();
    const int h = b.height();

    QImage img = Grab(&b);
    QCOMPARE(img.pixelColor(0, 0), kButtonGrey); // no outline at rest
    QCOMPARE(img.pixelColor(w - 1, h - 1), kButtonGrey);
    QCOMPARE(img.pixelColor(3, 3), kButtonGrey);

    Move(&b, QPoint(10, 10));
    QVERIFY(b.IsHot());
    img = Grab(&b);
    QCOMPARE(img.pixelColor(3, 3), kAccentBlue);
    // Raised: highlight on top and left, shadow on bottom and right (corners included).
    QCOMPARE(img.pixelColor(0, 0), light);
    QCOMPARE(img.pixelColor(w / 2, 0), light);
    QCOMPARE(img.pixelColor(0, h / 2), light);
    QCOMPARE(img.pixelColor(w - 1, 0), dark);
    QCOMPARE(img.pixelColor(w - 1, h / 2), dark);
    QCOMPARE(img.pixelColor(w / 2, h - 1), dark);

    b.setDown(true);
    img = Grab(&b);
    QCOMPARE(img.pixelColor(3, 3), kAccentBlue);
    // Sunken: the colours change sides.
    QCOMPARE(img.pixelColor(w / 2, 0), dark);
    QCOMPARE(img.pixelColor(0, h / 2), dark);
    QCOMPARE(img.pixelColor(w - 1, h / 2), light);
    QCOMPARE(img.pixelColor(w / 2, h - 1), light);
    b.setDown(false);

    Leave(&b);
    QVERIFY(!b.IsHot());
    img = Grab(&b);
    QCOMPARE(img.pixelColor(3, 3), kButtonGrey);
    QCOMPARE(img.pixelColor(0, 0), kButtonGrey);
}

void TestCButtonST::backgroundPerState_data() {
    QTest::addColumn<bool>("hot");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<int>("slot");
    QTest::newRow("rest") << false << false << false << int(CLR_BK_NORMAL);
    QTest::newRow("focused") << false << false << true << int(CLR_BK_FOCUS);
    QTest::newRow("hot") << true << false << false << int(CLR_BK_HOT);
    QTest::newRow("hot and focused") << true << false << true << int(CLR_BK_HOT);
    QTest::newRow("pressed") << false << true << false << int(CLR_BK_HOT);
    QTest::newRow("pressed and focused") << false << true << true << int(CLR_BK_HOT);
}

// Each slot gets a colour of its own so the state that was chosen shows in the pixels.
void TestCButtonST::backgroundPerState() {
    QFETCH(bool, hot);
    QFETCH(bool, pressed);
    QFETCH(bool, focused);
    QFETCH(int, slot);
    Page page;
    CButtonST& b = *page.button;
    b.setGeometry(10, 10, 80, 24);
    b.SetBorder(false);
    const QColor colours[CLR_MAX_COLORS] = {QColor(10, 20, 30),    QColor(40, 50, 60),
                                            QColor(70, 80, 90),    QColor(100, 110, 120),
                                            QColor(130, 140, 150), QColor(160, 170, 180)};
    for (int i = 0; i < CLR_MAX_COLORS; ++i) {
        b.SetButtonColor(i, colours[i]);
    }
    page.widget.show();
    if (focused) {
        page.widget.activateWindow();
        b.setFocus();
        QTRY_VERIFY(b.hasFocus());
    }
    if (hot) {
        Move(&b, QPoint(5, 5));
    }
    b.setDown(pressed);
    QCOMPARE(Grab(&b).pixelColor(1, 1), colours[slot]);
}

void TestCButtonST::pressedCaptionMovesOneDownAndRight() {
    Page page;
    CButtonST& b = *page.button;
    b.setGeometry(10, 10, 120, 40);
    b.setText(QStringLiteral("Back"));
    StyleLikeNavigation(b);
    b.SetBorder(false); // only the caption differs between the two pictures
    page.widget.show();
    Move(&b, QPoint(5, 5));
    const QImage hot = Grab(&b);
    b.setDown(true);
    const QImage pressed = Grab(&b);
    b.setDown(false);

    int captionPixels = 0;
    for (int y = 0; y + 1 < hot.height(); ++y) {
        for (int x = 0; x + 1 < hot.width(); ++x) {
            captionPixels += hot.pixelColor(x, y) != kAccentBlue ? 1 : 0;
            if (hot.pixel(x, y) != pressed.pixel(x + 1, y + 1)) {
                QFAIL(qPrintable(QStringLiteral("caption differs at %1,%2").arg(x).arg(y)));
            }
        }
    }
    QVERIFY2(captionPixels > 20, "the caption was not drawn");
    QVERIFY(hot != pressed);
}

void TestCButtonST::dragOntoButtonDoesNotLightIt() {
    Page page;
    CButtonST& b = *page.button;
    b.setGeometry(10, 10, 80, 24);
    StyleLikeNavigation(b);
    page.widget.show();
    Move(&b, QPoint(5, 5), Qt::LeftButton);
    QVERIFY(!b.IsHot());
    QCOMPARE(Grab(&b).pixelColor(3, 3), kButtonGrey);
    // Once released, the next movement lights it.
    Move(&b, QPoint(6, 5));
    QVERIFY(b.IsHot());
    // A hot button dragged over stays hot while the pointer is on it...
    Move(&b, QPoint(7, 5), Qt::LeftButton);
    QVERIFY(b.IsHot());
    // ...and goes out when the pointer leaves it with the button still held.
    Move(&b, QPoint(200, 5), Qt::LeftButton);
    QVERIFY(!b.IsHot());
}

void TestCButtonST::hotStateEnds_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("pointer leaves") << 0;
    QTest::newRow("focus lost") << 1;
    QTest::newRow("disabled") << 2;
    QTest::newRow("hidden") << 3;
    QTest::newRow("window deactivated") << 4;
}

void TestCButtonST::hotStateEnds() {
    QFETCH(int, how);
    Page page;
    CButtonST& b = *page.button;
    b.setGeometry(10, 10, 80, 24);
    StyleLikeNavigation(b);
    page.widget.show();
    Move(&b, QPoint(5, 5));
    QVERIFY(b.IsHot());
    switch (how) {
    case 0:
        Leave(&b);
        break;
    case 1: {
        QFocusEvent e(QEvent::FocusOut, Qt::OtherFocusReason);
        QApplication::sendEvent(&b, &e);
        break;
    }
    case 2:
        b.setEnabled(false);
        break;
    case 3:
        b.hide();
        break;
    default: {
        QVERIFY(!b.isActiveWindow());
        QEvent e(QEvent::ActivationChange);
        QApplication::sendEvent(&b, &e);
        break;
    }
    }
    QVERIFY(!b.IsHot());
}

void TestCButtonST::blackIsTheKeyColour() {
    Page page;
    CButtonST& b = *page.button;
    b.setGeometry(10, 10, 40, 40);
    // Left half pure black, right half near-black: only the pure black is the key.
    QImage img(20, 20, QImage::Format_RGB32);
    img.fill(qRgb(1, 1, 1));
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 10; ++x) {
            img.setPixel(x, y, qRgb(0, 0, 0));
        }
    }
    QCOMPARE(b.SetImages(QPixmap::fromImage(img), QPixmap::fromImage(img)), 0);
    b.SetTransparent();
    b.SetBorder(false);
    page.widget.show();
    const QImage shot = GrabOnPage(&page.widget, &b);
    QCOMPARE(shot.pixelColor(2, 2), kPageBack);   // outside the image
    QCOMPARE(shot.pixelColor(12, 20), kPageBack); // pure black
    QCOMPARE(shot.pixelColor(25, 20), QColor(1, 1, 1));
}

// The mode buttons: a 177 x 177 image in a larger transparent button without border on a
// white page shows white around the image, and moves one pixel while pressed.
void TestCButtonST::imageCentredOnPageAndShiftedWhilePressed() {
    Page page;
    QPalette pal = page.widget.palette();
    pal.setColor(QPalette::Window, kWhite);
    page.widget.setPalette(pal);
    CButtonST& b = *page.button;
    b.setGeometry(20, 10, 181, 185);
    QImage img(177, 177, QImage::Format_RGB32);
    img.fill(kAccentBlue);
    img.setPixel(0, 0, qRgb(200, 10, 10)); // marks the image's corner
    b.SetImages(QPixmap::fromImage(img), QPixmap::fromImage(img));
    b.SetTransparent();
    b.SetBorder(false);
    b.SetButtonColor(CLR_BK_HOT, kButtonGrey);
    b.SetButtonColor(CLR_BK_NORMAL, kButtonGrey);
    page.widget.show();
    Move(&b, QPoint(1, 1));
    QVERIFY(b.IsHot());

    const int left = (181 - 177) / 2;
    const int top = (185 - 177) / 2;
    QImage shot = GrabOnPage(&page.widget, &b);
    QCOMPARE(shot.pixelColor(left, top), QColor(200, 10, 10));
    QCOMPARE(shot.pixelColor(left - 1, top), kWhite);
    QCOMPARE(shot.pixelColor(0, 0), kWhite);
    QCOMPARE(shot.pixelColor(180, 184), kWhite);

    b.setDown(true);
    shot = GrabOnPage(&page.widget, &b);
    QCOMPARE(shot.pixelColor(left + 1, top + 1), QColor(200, 10, 10));
    QCOMPARE(shot.pixelColor(left, top), kWhite);
}

void TestCButtonST::normalImageAtRestHotImageOtherwise() {
    Page page;
    CButtonST& b = *page.button;
    b.setGeometry(10, 10, 30, 30);
    b.SetImages(Solid(30, 30, Qt::red), Solid(30, 30, Qt::green));
    b.SetTransparent();
    b.SetBorder(false);
    page.widget.show();
    QCOMPARE(Grab(&b).pixelColor(15, 15), QColor(Qt::green));
    Move(&b, QPoint(15, 15));
    QCOMPARE(Grab(&b).pixelColor(15, 15), QColor(Qt::red));
    Leave(&b);
    b.setDown(true);
    QCOMPARE(Grab(&b).pixelColor(15, 15), QColor(Qt::red));
}

void TestCButtonST::newImagesReplaceOldOnes() {
    Page page;
    CButtonST& b = *page.button;
    b.setGeometry(10, 10, 30, 30);
    b.SetTransparent();
    b.SetBorder(false);
    page.widget.show();
    b.SetImages(Solid(30, 30, Qt::red), Solid(30, 30, Qt::red));
    b.SetImages(Solid(10, 10, Qt::blue), Solid(10, 10, Qt::blue));
    const QImage shot = GrabOnPage(&page.widget, &b);
    QCOMPARE(shot.pixelColor(15, 15), QColor(Qt::blue));
    QCOMPARE(shot.pixelColor(2, 2), kPageBack); // nothing of the larger red image is left
    b.SetImages(QPixmap(), QPixmap());
    QCOMPARE(GrabOnPage(&page.widget, &b).pixelColor(15, 15), kPageBack);
}

void TestCButtonST::systemColourChangeResetsColours() {
    const QPalette before = QApplication::palette();
    Page page;
    CButtonST& b = *page.button;
    StyleLikeNavigation(b);
    QPalette changed = before;
    changed.setColor(QPalette::Button, QColor(1, 2, 3));
    changed.setColor(QPalette::ButtonText, QColor(4, 5, 6));
    QApplication::setPalette(changed);
    QCoreApplication::processEvents();
    const QColor face = b.ButtonColor(CLR_BK_NORMAL);
    const QColor text = b.ButtonColor(CLR_FG_HOT);
    QApplication::setPalette(before);
    QCOMPARE(face, QColor(1, 2, 3));
    QCOMPARE(text, QColor(4, 5, 6));
    // The owner can set its colours again afterwards.
    b.SetButtonColor(CLR_BK_NORMAL, kButtonGrey);
    QCOMPARE(b.ButtonColor(CLR_BK_NORMAL), kButtonGrey);
}

void TestCButtonST::enterAndSpacePressTheFocusedButton() {
    Page page;
    CButtonST& b = *page.button;
    b.setGeometry(10, 10, 80, 24);
    page.widget.show();
    page.widget.activateWindow();
    b.setFocus();
    QTRY_VERIFY(b.hasFocus());
    QSignalSpy clicks(&b, &QPushButton::clicked);
    QTest::keyClick(&b, Qt::Key_Return);
    QTest::keyClick(&b, Qt::Key_Enter);
    QTest::keyClick(&b, Qt::Key_Space);
    QTRY_COMPARE(clicks.count(), 3);
}

void TestCButtonST::handCursorPointsWithItsFingerTip() {
    CButtonST b;
    b.SetHoverCursor(3001);
    QCOMPARE(b.cursor().hotSpot(), QPoint(5, 0));
    QCOMPARE(b.cursor().bitmap().size(), QSize(32, 32));
    QVERIFY(b.testAttribute(Qt::WA_SetCursor));
}

QTEST_MAIN(TestCButtonST)
#include "tst_cbuttonst.moc"
