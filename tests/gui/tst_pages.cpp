// The font set, the dialog-unit rule, the templates and the pages and warning dialog built
// from them, without the engine.
#include "CPageEx.h"
#include "CPageWarning.h"
#include "CStaticText.h"
#include "Controls.h"
#include "DialogTemplates.h"
#include "Modal.h"
#include "Pages.h"
#include "Palette.h"
#include "TemplateBuilder.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QtTest>

#include <set>

using namespace dormane::res;
using dormane::ui::IDCANCEL;
using dormane::ui::IDOK;

namespace {

// How much bluer than red a widget looks, over its pixels that are not white.
int Blueness(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    long long sum = 0, count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 240 && c.green() > 240 && c.blue() > 240)
                continue;
            sum += c.blue() - c.red();
            ++count;
        }
    return count ? int(sum / count) : 0;
}

QString TextOf(const CDialogEx& dialog, int id) {
    const auto* text = dialog.DlgItem<CStaticText>(id);
    return text ? text->text() : QStringLiteral("<missing %1>").arg(id);
}

} // namespace

class TestPages : public QObject {
    Q_OBJECT
private slots:
    void fontHeights_data();
    void fontHeights();
    void fontStyles();
    void fontFallback();
    void dialogUnits_data();
    void dialogUnits();
    void templatesAreConsistent();
    void pageTexts_data();
    void pageTexts();
    void pagesAreBuiltAtTheirPixelRectangles();
    void pinnedControlPixels_data();
    void pinnedControlPixels();
    void singleLinesFitTheirControl();
    void progress();
    void modeSelection();
    void finishHeading();
    void warningTexts_data();
    void warningTexts();
    void warningKeyboard();
    void warningUnknownCode();
    void warningCentredOverOwner();
};

// --- font set ------------------------------------------------------------------------------

void TestPages::fontHeights_data() {
    QTest::addColumn<double>("dpi");
    QTest::addColumn<int>("px11");
    QTest::addColumn<int>("px14");
    QTest::addColumn<int>("px18");
    QTest::newRow("96 dpi") << 96.0 << 15 << 19 << 24;
    QTest::newRow("120 dpi") << 120.0 << 18 << 23 << 30;
    QTest::newRow("144 dpi") << 144.0 << 22 << 28 << 36;
}

void TestPages::fontHeights() {
    QFETCH(double, dpi);
    QFETCH(int, px11);
    QFETCH(int, px14);
    QFETCH(int, px18);
    const CPageEx style(dpi);
    for (const QFont* f : {&style.m_fontTitle, &style.m_fontButton, &style.m_fontBody,
                           &style.m_fontStep, &style.m_fontStepCurrent, &style.m_fontOptionText})
        QCOMPARE(f->pixelSize(), px11);
    QCOMPARE(style.m_fontOption.pixelSize(), px14);
    for (const QFont* f : {&style.m_fontHeading, &style.m_fontResult, &style.m_fontResultText})
        QCOMPARE(f->pixelSize(), px18);
}

void TestPages::fontStyles() {
    const CPageEx style(96.0);
    struct Row {
        const QFont& font;
        int weight;
        bool underline;
    };
    const Row rows[] = {
        {style.m_fontTitle, 400, false},   {style.m_fontButton, 400, false},
        {style.m_fontHeading, 400, false}, {style.m_fontBody, 400, false},
        {style.m_fontStep, 400, false},    {style.m_fontStepCurrent, 700, true},
        {style.m_fontOption, 700, false},  {style.m_fontOptionText, 400, false},
        {style.m_fontResult, 700, false},  {style.m_fontResultText, 400, false},
    };
    for (const Row& row : rows) {
        QCOMPARE(static_cast<int>(row.font.weight()), row.weight);
        QCOMPARE(row.font.underline(), row.underline);
        QVERIFY(!row.font.italic());
        QVERIFY(!row.font.strikeOut());
        QCOMPARE(row.font.families().value(0), QStringLiteral("Segoe UI"));
    }
}

void TestPages::fontFallback() {
    // Where the face is missing, a stand-in of the list is used, never an arbitrary default.
    const CPageEx style(96.0);
    const QString used = QFontInfo(style.m_fontBody).family();
    QVERIFY2(CPageEx::Faces().contains(used), qPrintable(used));
}

// --- dialog units --------------------------------------------------------------------------

void TestPages::dialogUnits_data() {
    QTest::addColumn<double>("dpi");
    QTest::addColumn<QRect>("units");
    QTest::addColumn<QRect>("pixels");
    // 1.5 px per horizontal and 1.625 per vertical unit at 96 dpi, each edge rounded.
    QTest::newRow("main window") << 96.0 << QRect(0, 0, 684, 344) << QRect(0, 0, 1026, 559);
    QTest::newRow("warning dialog") << 96.0 << QRect(0, 0, 240, 151) << QRect(0, 0, 360, 245);
    QTest::newRow("Next button") << 96.0 << QRect(567, 316, 104, 20) << QRect(851, 514, 156, 32);
    QTest::newRow("title strip") << 96.0 << QRect(0, 0, 684, 20) << QRect(0, 0, 1026, 33);
    QTest::newRow("step strip") << 96.0 << QRect(0, 286, 684, 20) << QRect(0, 465, 1026, 32);
    QTest::newRow("percent label") << 96.0 << QRect(448, 156, 24, 8) << QRect(672, 254, 36, 13);
    QTest::newRow("Next at 144 dpi")
        << 144.0 << QRect(567, 316, 104, 20) << QRect(1276, 770, 234, 49);
}

void TestPages::dialogUnits() {
    QFETCH(double, dpi);
    QFETCH(QRect, units);
    QFETCH(QRect, pixels);
    QCOMPARE(
        dormane::ui::DialogRectToPixels(units.x(), units.y(), units.width(), units.height(), dpi),
        pixels);
}

// --- templates -----------------------------------------------------------------------------

void TestPages::templatesAreConsistent() {
    const std::set<int> expected{101, 103, 104, 105, 106, 107, 111, 112, 228};
    std::set<int> seen;
    for (const DialogTemplate& t : AllDialogTemplates()) {
        seen.insert(t.id);
        QCOMPARE(FindDialogTemplate(t.id), &t);
        std::set<int> ids;
        for (const ControlTemplate& c : t.controls) {
            if (c.id != kNoId)
                QVERIFY2(ids.insert(c.id).second, qPrintable(QString::number(c.id)));
            // Every control lies inside its dialog.
            QVERIFY(c.x >= 0 && c.y >= 0 && c.x + c.cx <= t.cx && c.y + c.cy <= t.cy);
        }
    }
    QCOMPARE(seen, expected);
    QVERIFY(FindDialogTemplate(102) == nullptr);
}

void TestPages::pageTexts_data() {
    QTest::addColumn<int>("templateId");
    QTest::addColumn<int>("controlId");
    QTest::addColumn<QString>("text");
    const QString ellipsis = QString(QChar(0x2026));
    QTest::newRow("main title") << IDD_MAIN << IDC_TITLE << "Dormane";
    QTest::newRow("welcome heading") << IDD_PAGE_START << IDC_HEADING << "Welcome to the Dormane";
    QTest::newRow("welcome body")
        << IDD_PAGE_START << IDC_BODY
        << "This tool will guide you how to enable or disable auto-standby for your Tarvik Pelko "
           "Zuro speakers ";
    QTest::newRow("prerequisites heading")
        << IDD_PAGE_STEP1 << IDC_HEADING << "Before proceeding, please make sure the following:";
    QTest::newRow("prerequisites list")
        << IDD_PAGE_STEP1 << IDC_TEXT
        << "1. Speaker is connected to power\n2. Speaker is connected to a computer with a live "
           "internet connection\n3. Speaker is on and in USB mode (LED indicator is solid yellow)";
    QTest::newRow("check heading") << IDD_PAGE_CHECK << IDC_HEADING << "Checking current setting";
    QTest::newRow("mode heading") << IDD_PAGE_STEP2 << IDC_HEADING << "Select auto-standby mode";
    QTest::newRow("enable label") << IDD_PAGE_STEP2 << IDC_ENABLE_LABEL << "Enable Auto-Standby";
    QTest::newRow("disable label") << IDD_PAGE_STEP2 << IDC_DISABLE_LABEL << "Disable Auto-Standby";
    QTest::newRow("enable text") << IDD_PAGE_STEP2 << IDC_ENABLE_TEXT
                                 << "Speaker will go to standby when it is idle for 20 min";
    QTest::newRow("disable text")
        << IDD_PAGE_STEP2 << IDC_DISABLE_TEXT
        << "Speaker will NOT go to standby and need to be powered off manually";
    QTest::newRow("progress heading")
        << IDD_PAGE_STEP3 << IDC_HEADING << "Updating your setting" + ellipsis;
    QTest::newRow("do not turn off")
        << IDD_PAGE_STEP3 << IDC_DO_NOT_TURN_OFF << "DO NOT turn off the speaker";
    QTest::newRow("percent") << IDD_PAGE_STEP3 << IDC_PERCENT << "0%";
    QTest::newRow("power heading")
        << IDD_PAGE_STEP4 << IDC_HEADING << "One more step" + ellipsis + " ";
    QTest::newRow("power text") << IDD_PAGE_STEP4 << IDC_TEXT
                                << "Please power off and on the speaker to apply the new setting";
    QTest::newRow("finish heading")
        << IDD_PAGE_FINISH << IDC_HEADING << "Auto-Standby has been disabled.";
    QTest::newRow("finish text") << IDD_PAGE_FINISH << IDC_BODY << "You may now close the tool.";
}

void TestPages::pageTexts() {
    QFETCH(int, templateId);
    QFETCH(int, controlId);
    QFETCH(QString, text);
    CDialogEx dialog(templateId, nullptr);
    QVERIFY(dialog.Create());
    QCOMPARE(TextOf(dialog, controlId), text);
}

void TestPages::pagesAreBuiltAtTheirPixelRectangles() {
    // Every control of every template sits at its dialog-unit rectangle in pixels (pictures
    // take their bitmap's size at the same corner); a pop-up's controls sit inside its frame.
    const double dpi = dormane::ui::ScreenDpi();
    for (const DialogTemplate& t : AllDialogTemplates()) {
        CDialogEx dialog(t.id, nullptr);
        QVERIFY(dialog.Create());
        const int frame = dialog.FrameWidth();
        QCOMPARE(frame, t.popup ? 1 : 0);
        QCOMPARE(dialog.size(),
                 dormane::ui::DialogUnitsToPixels(t.cx, t.cy, dpi) + QSize(2 * frame, 2 * frame));
        for (const ControlTemplate& c : t.controls) {
            if (c.id == kNoId)
                continue;
            const QRect expected = dormane::ui::DialogRectToPixels(c.x, c.y, c.cx, c.cy, dpi);
            const QRect actual = dialog.ItemRect(c.id);
            QCOMPARE(actual.topLeft(), expected.topLeft());
            if (c.kind != CtlKind::Bitmap)
                QCOMPARE(actual.size(), expected.size());
        }
    }
}

// A few controls of each template at pixel rectangles worked out by hand from the layout's
// dialog units (1.5 px a horizontal unit, 1.625 a vertical one at 96 dpi, each edge rounded
// half up), so that a wrong entry in the template tables shows, not only a wrong conversion.
void TestPages::pinnedControlPixels_data() {
    QTest::addColumn<int>("dialog");
    QTest::addColumn<int>("control");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("main: Back") << 111 << 1076 << QRect(690, 514, 156, 32);
    QTest::newRow("main: step 1") << 111 << 1092 << QRect(929, 473, 13, 19);
    QTest::newRow("main: title text") << 111 << 1072 << QRect(77, 7, 180, 19);
    QTest::newRow("main: close") << 111 << 1070 << QRect(996, 8, 15, 16);
    QTest::newRow("prerequisites: list") << 103 << 1087 << QRect(239, 98, 573, 74);
    QTest::newRow("mode: disable picture") << 104 << 1082 << QRect(564, 127, 180, 180);
    QTest::newRow("mode: disable label") << 104 << 1084 << QRect(564, 314, 252, 32);
    QTest::newRow("mode: enable text") << 104 << 1085 << QRect(236, 353, 217, 78);
    QTest::newRow("progress: alert") << 105 << 1091 << QRect(357, 180, 341, 36);
    QTest::newRow("progress: percent") << 105 << 1090 << QRect(672, 254, 36, 13);
    QTest::newRow("power cycle: text") << 106 << 1087 << QRect(303, 135, 437, 29);
    QTest::newRow("warning: title") << 228 << 1101 << QRect(45, 16, 300, 49);
    QTest::newRow("warning: message") << 228 << 1103 << QRect(15, 72, 330, 117);
    QTest::newRow("warning: Retry") << 228 << 1100 << QRect(216, 189, 120, 32);
    QTest::newRow("warning: Back") << 228 << 1102 << QRect(89, 189, 120, 32);
}

void TestPages::pinnedControlPixels() {
    QFETCH(int, dialog);
    QFETCH(int, control);
    QFETCH(QRect, pixels);
    if (dormane::ui::ScreenDpi() != 96.0)
        QSKIP("the pinned pixels are those of a 96 dpi screen");
    CDialogEx window(dialog, nullptr);
    QVERIFY(window.Create());
    QCOMPARE(window.ItemRect(control), pixels);
}

void TestPages::singleLinesFitTheirControl() {
    // The stand-in faces are wider than the one the layouts were made for; single lines are
    // condensed to fit instead of being cut off.
    CPageStep1 page(nullptr);
    QVERIFY(page.Create());
    auto* heading = page.DlgItem<CStaticText>(IDC_HEADING);
    QVERIFY(heading);
    const QFont font = heading->FittingFont(page.m_pStyle->m_fontHeading);
    QVERIFY(QFontMetrics(font).horizontalAdvance(heading->text()) <= heading->width());
    QVERIFY(font.stretch() == QFont::AnyStretch || font.stretch() >= CStaticText::kMinStretch);
}

// --- page operations -----------------------------------------------------------------------

void TestPages::progress() {
    CPageStep3 page(nullptr);
    QVERIFY(page.Create());
    QVERIFY(page.m_progress && page.m_stPercent);
    QCOMPARE(page.m_progress->minimum(), 0);
    QCOMPARE(page.m_progress->maximum(), 100);
    QCOMPARE(page.m_progress->value(), 0);
    // Going down from 100 to 7 leaves no trace of the third digit.
    for (int percent : {0, 42, 100, 7}) {
        page.SetProgress(percent);
        QCOMPARE(page.m_progress->value(), percent);
        QCOMPARE(page.m_stPercent->text(), QStringLiteral("%1%").arg(percent));
    }
    // The label is not in the page's table: it keeps the template font.
    QVERIFY(!page.OnCtlColor(IDC_PERCENT));
    const auto red = page.OnCtlColor(IDC_DO_NOT_TURN_OFF);
    QVERIFY(red);
    QCOMPARE(red->text, dormane::palette::AlertRed());
}

void TestPages::modeSelection() {
    CPageStep2 page(nullptr);
    QVERIFY(page.Create());
    QCOMPARE(page.GetMode(), false);
    const QColor blue = dormane::palette::AccentBlue();
    const QColor grey = dormane::palette::OptionGrey();
    struct Row {
        bool enable;
        QColor left, right;
    };
    for (const Row& row : {Row{true, blue, grey}, Row{false, grey, blue}}) {
        page.SetMode(row.enable);
        QCOMPARE(page.GetMode(), row.enable);
        QCOMPARE(page.OnCtlColor(IDC_ENABLE_LABEL)->text, row.left);
        QCOMPARE(page.OnCtlColor(IDC_ENABLE_TEXT)->text, row.left);
        QCOMPARE(page.OnCtlColor(IDC_DISABLE_LABEL)->text, row.right);
        QCOMPARE(page.OnCtlColor(IDC_DISABLE_TEXT)->text, row.right);
        QCOMPARE(page.OnCtlColor(IDC_ENABLE_LABEL)->font, &page.m_pStyle->m_fontOption);
        QCOMPARE(page.OnCtlColor(IDC_ENABLE_TEXT)->font, &page.m_pStyle->m_fontOptionText);
    }
    // The selected option shows its blue picture, the other one its grey copy.
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    for (bool enable : {true, false}) {
        page.SetMode(enable);
        CButtonST* blue = enable ? page.m_btnEnable : page.m_btnDisable;
        CButtonST* grey = enable ? page.m_btnDisable : page.m_btnEnable;
        QVERIFY2(Blueness(blue) > 60, qPrintable(QString::number(Blueness(blue))));
        QVERIFY2(qAbs(Blueness(grey)) < 15, qPrintable(QString::number(Blueness(grey))));
    }
    // A click on an option selects it.
    QTest::mouseClick(page.m_btnEnable, Qt::LeftButton);
    QCOMPARE(page.GetMode(), true);
    QTest::mouseClick(page.m_btnDisable, Qt::LeftButton);
    QCOMPARE(page.GetMode(), false);
    QTest::mouseClick(page.m_btnDisable, Qt::LeftButton);
    QCOMPARE(page.GetMode(), false);
}

void TestPages::finishHeading() {
    CPageFinish page(nullptr);
    QVERIFY(page.Create());
    page.ShowResult(false);
    QCOMPARE(page.m_stHeading->text(), QStringLiteral("Auto-Standby has been disabled."));
    page.ShowResult(true);
    QCOMPARE(page.m_stHeading->text(), QStringLiteral("Auto-Standby has been enabled."));
    const auto heading = page.OnCtlColor(IDC_HEADING);
    QCOMPARE(heading->text, dormane::palette::AccentBlue());
    QCOMPARE(heading->font, &page.m_pStyle->m_fontResult);
}

// --- warning dialog ------------------------------------------------------------------------

void TestPages::warningTexts_data() {
    QTest::addColumn<unsigned>("code");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("backShown");
    QTest::addColumn<QString>("backCaption");
    QTest::addColumn<QString>("retryCaption");
    QTest::addColumn<int>("backAnswer");
    QTest::addColumn<int>("retryAnswer");
    QTest::newRow("101") << 101u << "Cannot Find Speaker"
                         << "Please make sure:\n - The speaker is switch ON\n - The USB cable is "
                            "connected\n - The LED status light is Yellow\n(Error Code: 101)"
                         << true << "Back"
                         << "Retry" << IDCANCEL << IDOK;
    QTest::newRow("102") << 102u << "Network Missing"
                         << "Please make sure your computer is connected to the Internet\n(Error "
                            "Code: 102)"
                         << true << "Back"
                         << "Retry" << IDCANCEL << IDOK;
    QTest::newRow("103") << 103u << "Setting Update Failed"
                         << "Please turn off the speaker and retry\n(Error Code : 103)" << false
                         << "Back"
                         << "Back" << IDCANCEL << IDCANCEL;
    QTest::newRow("104") << 104u << "Unsupported Speaker"
                         << "This tool ONLY supports the Tarvik Pelko ZURO.\nPlease make sure you "
                            "have your Tarvik Pelko Zuro connected\n(Error Code : 104)"
                         << true << "Exit Tool"
                         << "Restart" << IDCANCEL << IDOK;
}

void TestPages::warningTexts() {
    QFETCH(unsigned, code);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(bool, backShown);
    QFETCH(QString, backCaption);
    QFETCH(QString, retryCaption);
    QFETCH(int, backAnswer);
    QFETCH(int, retryAnswer);

    struct Click {
        int button;
        int answer;
    };
    QList<Click> clicks{{IDC_WARN_RETRY, retryAnswer}};
    if (backShown)
        clicks.append({IDC_WARN_BACK, backAnswer});
    for (const Click& click : clicks) {
        CPageWarning warning(code);
        int seen = -1;
        const auto previous = dormane::ui::SetModalHook([&](QDialog& d) {
            auto& w = static_cast<CPageWarning&>(d);
            QCOMPARE(w.m_stTitle->text(), title);
            QCOMPARE(w.m_stMessage->text(), message);
            QCOMPARE(w.m_strTitle, title);
            QCOMPARE(w.m_btnBack->isVisible(), backShown);
            QCOMPARE(w.m_btnBack->text(), backCaption);
            QVERIFY(w.m_btnRetry->isVisible());
            QCOMPARE(w.m_btnRetry->text(), retryCaption);
            QCOMPARE(w.FrameColour(), dormane::palette::FrameBlue());
            QTest::mouseClick(w.DlgItem<CButtonST>(click.button), Qt::LeftButton);
            seen = w.result();
        });
        const int answer = warning.DoModal();
        dormane::ui::SetModalHook(previous);
        QCOMPARE(seen, click.answer);
        QCOMPARE(answer, click.answer);
    }
}

void TestPages::warningKeyboard() {
    struct Row {
        unsigned code;
        QList<int> keys;
        int answer;
    };
    const Row rows[] = {
        {101, {Qt::Key_Return}, IDOK},                  // Retry has the focus
        {101, {Qt::Key_Tab, Qt::Key_Return}, IDCANCEL}, // Tab moves to Back
        {103, {Qt::Key_Return}, IDCANCEL},              // the single button answers Back
        {104, {Qt::Key_Escape}, IDCANCEL},              // Escape is "Exit Tool"
    };
    for (const Row& row : rows) {
        CPageWarning warning(row.code);
        const auto previous = dormane::ui::SetModalHook([&](QDialog& d) {
            QApplication::setActiveWindow(&d);
            QVERIFY(QTest::qWaitForWindowActive(&d));
            for (int key : row.keys)
                QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key));
        });
        const int answer = warning.DoModal();
        dormane::ui::SetModalHook(previous);
        QCOMPARE(answer, row.answer);
    }
}

void TestPages::warningUnknownCode() {
    CPageWarning warning(105);
    const auto previous = dormane::ui::SetModalHook([&](QDialog& d) {
        auto& w = static_cast<CPageWarning&>(d);
        QVERIFY(w.m_stTitle->text().isEmpty());
        QVERIFY(w.m_stMessage->text().isEmpty());
        QCOMPARE(w.m_btnRetry->text(), QStringLiteral("Retry"));
        QCOMPARE(w.m_btnBack->text(), QStringLiteral("Back"));
        QVERIFY(w.m_btnBack->isVisible());
        // Retry does nothing for a code it does not know; Back still answers.
        QTest::mouseClick(w.m_btnRetry, Qt::LeftButton);
        QVERIFY(w.isVisible());
        QCOMPARE(w.result(), 0);
        QTest::mouseClick(w.m_btnBack, Qt::LeftButton);
    });
    const int answer = warning.DoModal();
    dormane::ui::SetModalHook(previous);
    QCOMPARE(answer, IDCANCEL);
}

void TestPages::warningCentredOverOwner() {
    QWidget owner(nullptr, Qt::FramelessWindowHint);
    owner.setGeometry(100, 50, 1028, 561);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    CPageWarning warning(101, &owner);
    QRect placed;
    const auto previous = dormane::ui::SetModalHook([&](QDialog& d) {
        placed = d.frameGeometry();
        static_cast<CPageWarning&>(d).m_btnBack->click();
    });
    warning.DoModal();
    dormane::ui::SetModalHook(previous);
    QCOMPARE(placed.size(), QSize(362, 247));
    QCOMPARE(placed.topLeft(), QPoint(100 + (1028 - 362) / 2, 50 + (561 - 247) / 2));
}

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
