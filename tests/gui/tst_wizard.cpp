// The wizard's state table walked through the real window, against the simulated speaker and
// a local firmware base: every page, every warning and where each answer leads, the device
// check's classification, and closing while a worker or the burn runs.
#include "CDlgBase.h"
#include "CPageWarning.h"
#include "CPelkoFWUpdateApp.h"
#include "CStaticText.h"
#include "Controls.h"
#include "DialogTemplates.h"
#include "Modal.h"
#include "Options.h"
#include "Pages.h"
#include "Palette.h"

#include "BurnShield.h"
#include "Download.h"
#include "FWUpdateInterface.h"
#include "ImageBuilder.h"
#include "Journal.h"
#include "Network.h"
#include "SimBackend.h"
#include "SpeakerLock.h"
#include "Status.h"

#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

using namespace dormane::res;
namespace sim = dormane::sim;
namespace status = dormane::status;

namespace {

constexpr int kWait = 30000; // ms; generous for the sanitizer builds

const QString kStandbyImage =
    QStringLiteral(FIRMWARE_DIR) + QString::fromUtf8(dormane::kStandbyFirmwarePath);
const QString kNonStandbyImage =
    QStringLiteral(FIRMWARE_DIR) + QString::fromUtf8(dormane::kNonStandbyFirmwarePath);
const QString kBurnRunningText =
    QStringLiteral("The setting is being updated. Please wait until it has finished.");

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Holds back the simulated speaker's control transfers on worker threads (the check and
// the burn), so that a test can act while one is under way. Transfers of the window thread
// always pass: the test itself runs there.
class TransferGate {
public:
    void Install(sim::SimSpeaker& speaker) {
        const std::thread::id window = std::this_thread::get_id();
        std::shared_ptr<State> state = m_state;
        speaker.SetInterceptor(
            [state, window](const sim::ControlRecord&) -> std::optional<dormane::UsbResult> {
                if (std::this_thread::get_id() == window)
                    return std::nullopt;
                std::unique_lock<std::mutex> lock(state->mutex);
                ++state->waiting;
                state->changed.notify_all();
                state->changed.wait(lock, [&] { return state->budget != 0; });
                --state->waiting;
                if (state->budget > 0)
                    --state->budget;
                return std::nullopt;
            });
    }
    // From now on a worker's transfer waits until Allow or Open.
    void Close() { Set(0); }
    void Open() { Set(-1); }
    // Lets that many more transfers through, then closes again.
    void Allow(long n) {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->budget = (m_state->budget < 0 ? 0 : m_state->budget) + n;
        m_state->changed.notify_all();
    }
    // A worker is held at the gate.
    bool Holding() const {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->waiting > 0 && m_state->budget == 0;
    }

private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        long budget = -1; // -1: open
        int waiting = 0;
    };
    void Set(long budget) {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->budget = budget;
        m_state->changed.notify_all();
    }
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// A server that takes connections and never answers: a download from it waits until it is
// cancelled.
class SilentServer {
public:
    SilentServer() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_fd, 8) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~SilentServer() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// One dialog the wizard ran modally.
struct Shown {
    unsigned code; // the warning code, 0 for a message box
    QString title; // the warning title or the message box text
    // A warning: the pages, the step indicator and the buttons were hidden. A message box:
    // the start page stood behind it.
    bool backdrop;
};

} // namespace

class TestWizard : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void walk_data();
    void walk();
    void progressRises();
    void powerCycleConfirms_data();
    void powerCycleConfirms();
    void currentSetting_data();
    void currentSetting();
    void classifyVersionText_data();
    void classifyVersionText();
    void backFromModeRunsNewCheck();
    void warnings_data();
    void warnings();
    void closeOnQuietPages_data();
    void closeOnQuietPages();
    void closeDuringCheck();
    void closeDuringDownload();
    void destroyDuringDownload();
    void closeDuringBurn_data();
    void closeDuringBurn();
    void signalDuringBurn_data();
    void signalDuringBurn();
    void busySpeaker();
    void repairDamaged_data();
    void repairDamaged();
    void initFailure();
    void frameLook();
    void dragByOwnSurface();

private:
    bool Start(const QString& scenario, const QString& base = {});
    void Click(CButtonST* button);
    void ToModePage();
    void StartEnableBurnHeld();
    void AnswerModal(QDialog& dialog);
    void CheckFrame(int page);
    CPageStep3* ProgressPage() const { return m_wizard->m_pPageStep3; }

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<CDlgBase> m_wizard;
    std::shared_ptr<sim::SimSpeaker> m_speaker;
    TransferGate m_gate;
    QString m_strEeprom;
    std::deque<int> m_answers; // the button each coming warning is answered with
    QList<Shown> m_shown;
    int m_nNetDown = 0; // coming network tests that find no network
    int m_nNetTests = 0;
};

// --- fixture -------------------------------------------------------------------------------

void TestWizard::init() {
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    for (const char* name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "TMPDIR"})
        qputenv(name, m_home->filePath(QString::fromUtf8(name)).toUtf8());
    m_strEeprom = m_home->filePath(QStringLiteral("speaker.eeprom"));
    QVERIFY(QDir().mkpath(m_home->filePath(QStringLiteral("locks"))));
    qputenv(dormane::kLockFolderVariable, m_home->filePath(QStringLiteral("locks")).toUtf8());
    dormane::ClearArrivedSignal();
    m_answers.clear();
    m_shown.clear();
    m_nNetDown = 0;
    m_nNetTests = 0;
    // The network test asks this instead of the machine.
    dormane::SetNetInterfaceSource([this](std::vector<dormane::NetInterface>& out) {
        ++m_nNetTests;
        if (m_nNetDown > 0) {
            --m_nNetDown;
            out.push_back({"lo", IFF_UP | IFF_RUNNING | IFF_LOOPBACK, AF_INET});
            return 1;
        }
        out.push_back({"eth0", IFF_UP | IFF_RUNNING, AF_INET});
        return 1;
    });
    dormane::ui::SetModalHook([this](QDialog& dialog) { AnswerModal(dialog); });
}

void TestWizard::cleanup() {
    m_gate.Open();
    m_wizard.reset(); // waits for a worker that still runs
    m_speaker.reset();
    dormane::ui::SetModalHook({});
    dormane::SetNetInterfaceSource({});
    qunsetenv(dormane::kLockFolderVariable);
    dormane::ClearArrivedSignal();
    m_home.reset();
}

bool TestWizard::Start(const QString& scenario, const QString& base) {
    WizardOptions options;
    options.scenario = (QStringLiteral("clock=virtual,eeprom-file=") + m_strEeprom +
                        (scenario.isEmpty() ? QString() : "," + scenario))
                           .toStdString();
    options.firmwareBaseUrl =
        (base.isEmpty() ? "file://" + QStringLiteral(FIRMWARE_DIR) : base).toStdString();
    std::string error;
    if (!ApplyWizardOptions(options, error)) {
        qWarning("%s", error.c_str());
        return false;
    }
    const auto backend = sim::InstalledSimBackend();
    m_speaker = backend && backend->SpeakerCount() > 0 ? backend->Speaker(0) : nullptr;
    if (m_speaker)
        m_gate.Install(*m_speaker);
    m_wizard = std::make_unique<CDlgBase>();
    if (!m_wizard->Create())
        return false;
    m_wizard->show();
    return QTest::qWaitForWindowExposed(m_wizard.get());
}

void TestWizard::Click(CButtonST* button) {
    QVERIFY(button);
    QVERIFY2(button->isVisible(), qPrintable(button->text()));
    QTest::mouseClick(button, Qt::LeftButton);
}

void TestWizard::ToModePage() {
    Click(m_wizard->m_btnNext); // Start
    QCOMPARE(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP1));
    Click(m_wizard->m_btnNext);
    QCOMPARE(m_wizard->m_nCurPage, int(CDlgBase::PAGE_CHECK));
    QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP2), kWait);
}

// A speaker with firmware 8.03, "Enable" chosen, and the burn held at its first transfer.
void TestWizard::StartEnableBurnHeld() {
    QVERIFY(Start(QStringLiteral("fw=0803")));
    ToModePage();
    Click(m_wizard->m_pPageStep2->m_btnEnable);
    m_gate.Close();
    Click(m_wizard->m_btnNext);
    QTRY_VERIFY_WITH_TIMEOUT(m_gate.Holding(), kWait);
}

void TestWizard::AnswerModal(QDialog& dialog) {
    if (auto* wizard = dynamic_cast<CDlgBase*>(&dialog)) {
        // The whole program's modal run: let it go on until it ends by itself.
        QTRY_VERIFY_WITH_TIMEOUT(wizard->Ended(), kWait);
        return;
    }
    bool empty = false;
    if (m_wizard) {
        empty = !m_wizard->m_btnNext->isVisible() && !m_wizard->m_btnBack->isVisible();
        for (CButtonST* step : {m_wizard->m_btnStep1, m_wizard->m_btnStep2, m_wizard->m_btnStep3,
                                m_wizard->m_btnStep4})
            empty = empty && !step->isVisible();
        for (int page = CDlgBase::PAGE_START; page <= CDlgBase::PAGE_FINISH; ++page)
            if (CDialogEx* p = m_wizard->Page(page))
                empty = empty && !p->isVisible();
    }
    if (auto* warning = dynamic_cast<CPageWarning*>(&dialog); warning && warning->m_nCode == 0) {
        // The program's own message box, in the warning dialog's look.
        const bool overStart = m_wizard && m_wizard->isVisible() && m_wizard->m_pPageStart &&
                               m_wizard->m_pPageStart->isVisible();
        m_shown.append({0, warning->m_stMessage->text(), overStart});
        QTest::mouseClick(warning->m_btnRetry, Qt::LeftButton);
        return;
    }
    if (auto* warning = dynamic_cast<CPageWarning*>(&dialog)) {
        m_shown.append({warning->m_nCode, warning->m_stTitle->text(), empty});
        int button = IDC_WARN_BACK;
        if (!m_answers.empty()) {
            button = m_answers.front();
            m_answers.pop_front();
        }
        if (!warning->DlgItem<CButtonST>(button)->isVisible())
            button = IDC_WARN_RETRY; // 103 carries its Back on the right-hand button
        QTest::mouseClick(warning->DlgItem<CButtonST>(button), Qt::LeftButton);
        return;
    }
    QFAIL("an unexpected modal dialog");
}

// The frame's buttons and the step indicator on each page.
void TestWizard::CheckFrame(int page) {
    struct Row {
        const char* next;
        bool nextShown, backShown, stepsShown;
        int current; // the step number drawn as current
    };
    static const Row rows[] = {
        {"Start", true, false, false, 1},  {"Next", true, true, true, 1},
        {"Next", false, false, true, 2},   {"Next", true, true, true, 2},
        {"Next", false, false, true, 3},   {"Next", true, false, true, 4},
        {"Finish", true, false, false, 4},
    };
    const Row& row = rows[page];
    QCOMPARE(m_wizard->m_nCurPage, page);
    QVERIFY(m_wizard->Page(page) && m_wizard->Page(page)->isVisible());
    for (int other = CDlgBase::PAGE_START; other <= CDlgBase::PAGE_FINISH; ++other)
        if (other != page && m_wizard->Page(other))
            QVERIFY(!m_wizard->Page(other)->isVisible());
    QCOMPARE(m_wizard->m_btnNext->text(), QString::fromUtf8(row.next));
    QCOMPARE(m_wizard->m_btnNext->isVisible(), row.nextShown);
    QCOMPARE(m_wizard->m_btnBack->isVisible(), row.backShown);
    CButtonST* steps[] = {m_wizard->m_btnStep1, m_wizard->m_btnStep2, m_wizard->m_btnStep3,
                          m_wizard->m_btnStep4};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(steps[i]->isVisible(), row.stepsShown);
        const bool current = i + 1 == row.current;
        QCOMPARE(steps[i]->font().underline(), current);
        QCOMPARE(steps[i]->font().weight(), current ? QFont::Bold : QFont::Normal);
    }
    // The page fills the band between the title strip and the step strip.
    const QRect title = m_wizard->ItemRect(IDC_TITLE_STRIP);
    const QRect strip = m_wizard->ItemRect(IDC_STEP_STRIP);
    const QRect band = m_wizard->Page(page)->geometry().translated(-m_wizard->FrameWidth(),
                                                                   -m_wizard->FrameWidth());
    QCOMPARE(band, QRect(0, title.height(), strip.x() + strip.width(), strip.y() - title.height()));
}

// --- the walk ------------------------------------------------------------------------------

void TestWizard::walk_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("preselected");
    QTest::addColumn<int>("click"); // the option clicked on the mode page, 0 for none
    QTest::addColumn<bool>("written");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("result");
    QTest::newRow("8.03, enable") << "fw=0803" << false << IDC_ENABLE << true << kStandbyImage
                                  << "Auto-Standby has been enabled.";
    QTest::newRow("8.13, disable") << "fw=0813" << true << IDC_DISABLE << false << kNonStandbyImage
                                   << "Auto-Standby has been disabled.";
    // Next without a click writes the preselected mode again.
    QTest::newRow("8.03, kept") << "fw=0803" << false << 0 << false << kNonStandbyImage
                                << "Auto-Standby has been disabled.";
}

void TestWizard::walk() {
    QFETCH(QString, scenario);
    QFETCH(bool, preselected);
    QFETCH(int, click);
    QFETCH(bool, written);
    QFETCH(QString, image);
    QFETCH(QString, result);
    const QByteArray expected = ReadAll(image);
    QVERIFY2(!expected.isEmpty(), qPrintable(image));

    QVERIFY(Start(scenario));
    CheckFrame(CDlgBase::PAGE_START);
    Click(m_wizard->m_btnNext);
    CheckFrame(CDlgBase::PAGE_STEP1);
    Click(m_wizard->m_btnNext);
    CheckFrame(CDlgBase::PAGE_CHECK);
    QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP2), kWait);
    CheckFrame(CDlgBase::PAGE_STEP2);
    QCOMPARE(m_wizard->m_pPageStep2->GetMode(), preselected);
    if (click)
        Click(m_wizard->m_pPageStep2->DlgItem<CButtonST>(click));
    QCOMPARE(m_wizard->m_pPageStep2->GetMode(), written);

    Click(m_wizard->m_btnNext);
    CheckFrame(CDlgBase::PAGE_STEP3);
    QCOMPARE(m_wizard->m_bChosenMode, written);
    QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP4), kWait);
    CheckFrame(CDlgBase::PAGE_STEP4);
    Click(m_wizard->m_btnNext);
    CheckFrame(CDlgBase::PAGE_FINISH);
    QCOMPARE(m_wizard->m_pPageFinish->m_stHeading->text(), result);
    QVERIFY(m_shown.isEmpty());

    // The image came through the hidden temp file under the local application-data folder.
    const QString temp = m_home->filePath(QStringLiteral("XDG_DATA_HOME/Temp/VanteqUpdate.bin"));
    QCOMPARE(ReadAll(temp), expected);
    // The speaker holds the image written, and so does its file for the next run.
    const std::vector<uint8_t> eeprom = m_speaker->Eeprom();
    QVERIFY(eeprom.size() >= size_t(expected.size()));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(eeprom.data()), expected.size()), expected);
    QCOMPARE(ReadAll(m_strEeprom).left(expected.size()), expected);

    Click(m_wizard->m_btnNext); // Finish
    QVERIFY(m_wizard->Ended());
    QVERIFY(!m_wizard->isVisible());

    // The next run, on the same EEPROM file, finds the setting this one wrote.
    m_wizard.reset();
    QVERIFY(Start(scenario));
    ToModePage();
    QCOMPARE(m_wizard->m_pPageStep2->GetMode(), written);
}

// The power-cycle page moves on to the finish page by itself only when the speaker comes back
// running the firmware just written; otherwise "Next" stays the way on.
void TestWizard::powerCycleConfirms_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("movesOn");
    QTest::newRow("back with the new firmware") << "fw=0803,replug-after-ms=500" << true;
    // rev= pins the release number: the speaker comes back still running 8.03.
    QTest::newRow("back with the old firmware") << "fw=0803,rev=0803,replug-after-ms=500" << false;
    QTest::newRow("never switched off") << "fw=0803" << false;
}

void TestWizard::powerCycleConfirms() {
    QFETCH(QString, scenario);
    QFETCH(bool, movesOn);
    QVERIFY(Start(scenario));
    ToModePage();
    Click(m_wizard->m_pPageStep2->m_btnEnable);
    Click(m_wizard->m_btnNext);
    if (movesOn) {
        // Through the power-cycle page (it was created) to the finish page, with no click.
        QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_FINISH), kWait);
        QVERIFY(m_wizard->m_pPageStep4);
        CheckFrame(CDlgBase::PAGE_FINISH);
        QCOMPARE(m_wizard->m_pPageFinish->m_stHeading->text(),
                 QStringLiteral("Auto-Standby has been enabled."));
        QCOMPARE(m_speaker->BcdDevice(), uint16_t(0x0813));
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP4), kWait);
        // The watch gives up after its wait (on the virtual clock), and its message is handled.
        QTRY_VERIFY_WITH_TIMEOUT(m_wizard->ReplugWatchDone(), kWait);
        QTest::qWait(50);
        CheckFrame(CDlgBase::PAGE_STEP4);
        Click(m_wizard->m_btnNext);
        CheckFrame(CDlgBase::PAGE_FINISH);
    }
    QVERIFY(m_shown.isEmpty());
}

void TestWizard::progressRises() {
    QVERIFY(Start(QStringLiteral("fw=0813")));
    ToModePage();
    m_gate.Close();
    Click(m_wizard->m_btnNext);
    // The burn thread is held at its first transfer; then it is let through in steps, and
    // each step shows a higher percentage on the bar and the label.
    QTRY_VERIFY_WITH_TIMEOUT(m_gate.Holding(), kWait);
    QList<int> seen;
    for (int step = 0; step < 400 && m_wizard->m_nCurPage == CDlgBase::PAGE_STEP3; ++step) {
        int percent = 0;
        if (m_wizard->Engine()->GteUpdateProgress(&percent) != status::kBurnRunning)
            break;
        QTRY_COMPARE_WITH_TIMEOUT(ProgressPage()->m_stPercent->text(),
                                  QStringLiteral("%1%").arg(percent), kWait);
        QCOMPARE(ProgressPage()->m_progress->value(), percent);
        if (seen.isEmpty() || seen.last() != percent)
            seen.append(percent);
        m_gate.Allow(150);
        QTRY_VERIFY_WITH_TIMEOUT(m_gate.Holding() || m_wizard->m_nCurPage != CDlgBase::PAGE_STEP3,
                                 kWait);
    }
    m_gate.Open();
    QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP4), kWait);
    QVERIFY2(seen.size() >= 3, qPrintable(QString::number(seen.size())));
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen[i] > seen[i - 1]);
}

// --- the current setting -------------------------------------------------------------------

void TestWizard::currentSetting_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("fwVersion");
    QTest::addColumn<QString>("versionText");
    QTest::addColumn<int>("pid");
    QTest::addColumn<bool>("mode");
    // Found at the first attach: discovery does not run and the version text stays empty,
    // so only the firmware word can tell 8.03 from 8.13.
    QTest::newRow("0x0082, 8.03") << "fw=0803"
                                  << "0803"
                                  << "" << 0xFFFF << false;
    QTest::newRow("0x0082, 8.13") << "fw=0813"
                                  << "0813"
                                  << "" << 0xFFFF << true;
    // Another product ID: found by discovery and attached with the ID it read.
    QTest::newRow("0x00A1, 8.03") << "pid=00A1,fw=0803"
                                  << "0803"
                                  << "v8.03" << 0x00A1 << false;
    // The firmware word outranks a release number that says otherwise.
    QTest::newRow("word over text") << "pid=00A1,fw=0813,rev=0803"
                                    << "0813"
                                    << "v8.03" << 0x00A1 << true;
}

void TestWizard::currentSetting() {
    QFETCH(QString, scenario);
    QFETCH(QString, fwVersion);
    QFETCH(QString, versionText);
    QFETCH(int, pid);
    QFETCH(bool, mode);
    QVERIFY(Start(scenario));
    ToModePage();
    QCOMPARE(QString::fromStdString(m_wizard->m_strFwVersion), fwVersion);
    QCOMPARE(QString::fromStdString(m_wizard->m_strVersionText), versionText);
    QCOMPARE(int(m_wizard->m_wPid), pid);
    QVERIFY(m_wizard->m_bAttached);
    QCOMPARE(m_wizard->m_bCurrentMode, mode);
    QCOMPARE(m_wizard->m_pPageStep2->GetMode(), mode);
    QVERIFY(m_shown.isEmpty());
}

void TestWizard::classifyVersionText_data() {
    QTest::addColumn<QString>("fwVersion");
    QTest::addColumn<QString>("versionText");
    QTest::addColumn<bool>("byText");
    QTest::addColumn<bool>("decided");
    QTest::newRow("v8.03") << ""
                           << "v8.03" << false << false;
    QTest::newRow("v8.13") << ""
                           << "v8.13" << true << true;
    QTest::newRow("empty") << ""
                           << "" << true << true;
    QTest::newRow("v12.1") << ""
                           << "v12.1" << true << true;
    QTest::newRow("0803 over v8.13") << "0803"
                                     << "v8.13" << true << false;
    QTest::newRow("0813 over v8.03") << "0813"
                                     << "v8.03" << false << true;
    // An unknown word leaves the decision to the text (the wizard then rejects the speaker).
    QTest::newRow("0800 with v8.0") << "0800"
                                    << "v8.0" << false << false;
    QTest::newRow("lower-case word") << "080a"
                                     << "v8.03" << false << false;
}

void TestWizard::classifyVersionText() {
    QFETCH(QString, fwVersion);
    QFETCH(QString, versionText);
    QFETCH(bool, byText);
    QFETCH(bool, decided);
    CDlgBase dialog; // not created: no engine, no window
    QCOMPARE(dialog.ClassifyCurrentSetting(versionText.toStdString()), byText);
    QCOMPARE(dialog.m_bCurrentMode, byText);
    dialog.m_strFwVersion = fwVersion.toStdString();
    dialog.m_strVersionText = versionText.toStdString();
    QCOMPARE(dialog.DecideCurrentMode(), decided);
    QCOMPARE(dialog.m_bCurrentMode, decided);
}

void TestWizard::backFromModeRunsNewCheck() {
    QVERIFY(Start(QStringLiteral("fw=0803")));
    ToModePage();
    QCOMPARE(m_nNetTests, 1);
    Click(m_wizard->m_btnBack);
    CheckFrame(CDlgBase::PAGE_STEP1); // the check page is skipped
    QVERIFY(m_wizard->m_bAttached);
    Click(m_wizard->m_btnNext);
    CheckFrame(CDlgBase::PAGE_CHECK);
    QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP2), kWait);
    QCOMPARE(m_nNetTests, 2);
    QCOMPARE(m_wizard->m_pPageStep2->GetMode(), false);
    Click(m_wizard->m_btnBack);
    Click(m_wizard->m_btnBack);
    CheckFrame(CDlgBase::PAGE_START);
    QVERIFY(m_shown.isEmpty());
}

// --- warnings ------------------------------------------------------------------------------

void TestWizard::warnings_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("base");       // "" the samples, "missing", "junk", "silent"
    QTest::addColumn<int>("netDown");        // network tests that fail
    QTest::addColumn<bool>("burn");          // go on from the mode page
    QTest::addColumn<bool>("unplug");        // unplug the speaker once the burn runs
    QTest::addColumn<QList<int>>("answers"); // buttons clicked, in order
    QTest::addColumn<QList<int>>("codes");   // warnings expected, in order
    QTest::addColumn<int>("page");           // where the wizard ends up, -1 ended
    const int retry = IDC_WARN_RETRY, back = IDC_WARN_BACK;
    using L = QList<int>;
    QTest::newRow("101 retry, then back")
        << "absent"
        << "" << 0 << false << false << L{retry, back} << L{101, 101} << 1;
    QTest::newRow("101 back") << "absent"
                              << "" << 0 << false << false << L{back} << L{101} << 1;
    QTest::newRow("102 retry") << "fw=0803"
                               << "" << 1 << false << false << L{retry} << L{102} << 3;
    QTest::newRow("102 back") << "fw=0803"
                              << "" << 1 << false << false << L{back} << L{102} << 1;
    QTest::newRow("103 download") << "fw=0803"
                                  << "missing" << 0 << true << false << L{back} << L{103} << 1;
    QTest::newRow("103 refused image") << "fw=0803"
                                       << "junk" << 0 << true << false << L{back} << L{103} << 1;
    QTest::newRow("103 image of the other setting")
        << "fw=0803"
        << "swapped" << 0 << true << false << L{back} << L{103} << 1;
    QTest::newRow("103 unplugged burn") << "fw=0803"
                                        << "" << 0 << true << true << L{back} << L{103} << 1;
    QTest::newRow("104 restart") << "fw=0800"
                                 << "" << 0 << false << false << L{retry} << L{104} << 1;
    QTest::newRow("104 exit") << "fw=0800"
                              << "" << 0 << false << false << L{back} << L{104} << -1;
}

void TestWizard::warnings() {
    QFETCH(QString, scenario);
    QFETCH(QString, base);
    QFETCH(int, netDown);
    QFETCH(bool, burn);
    QFETCH(bool, unplug);
    QFETCH(QList<int>, answers);
    QFETCH(QList<int>, codes);
    QFETCH(int, page);

    QString url;
    if (base == "missing") {
        url = "file://" + m_home->filePath(QStringLiteral("no-such-mirror"));
    } else if (base == "swapped") {
        // A mirror whose standby path serves the always-on image: valid, but not the one asked.
        const QString path = m_home->filePath(QStringLiteral("swapped")) +
                             QString::fromUtf8(dormane::kStandbyFirmwarePath);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(QFile::copy(kNonStandbyImage, path));
        url = "file://" + m_home->filePath(QStringLiteral("swapped"));
    } else if (base == "junk") {
        // A mirror that serves something that is not a firmware image.
        const QString path = m_home->filePath(QStringLiteral("junk")) +
                             QString::fromUtf8(dormane::kStandbyFirmwarePath);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<html>Not here</html>\n");
        file.close();
        url = "file://" + m_home->filePath(QStringLiteral("junk"));
    }
    m_nNetDown = netDown;
    m_answers.assign(answers.begin(), answers.end());
    QVERIFY(Start(scenario, url));
    Click(m_wizard->m_btnNext);
    Click(m_wizard->m_btnNext);
    if (burn) {
        QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP2), kWait);
        Click(m_wizard->m_pPageStep2->m_btnEnable);
        if (unplug)
            m_gate.Close();
        Click(m_wizard->m_btnNext);
        if (unplug) {
            QTRY_VERIFY_WITH_TIMEOUT(m_gate.Holding(), kWait);
            m_speaker->Unplug();
            m_gate.Open();
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_shown.size(), codes.size(), kWait);
    for (int i = 0; i < codes.size(); ++i) {
        QCOMPARE(m_shown[i].code, unsigned(codes[i]));
        QVERIFY2(m_shown[i].backdrop, "the warning stands over an empty frame");
    }
    if (page < 0) {
        QVERIFY(m_wizard->Ended());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, page, kWait);
        CheckFrame(page);
        QVERIFY(!m_wizard->Ended());
    }
    // A warning leaves the speaker detached.
    if (page == CDlgBase::PAGE_STEP1 || page < 0)
        QVERIFY(!m_wizard->m_bAttached);
    QCOMPARE(m_shown.size(), codes.size());
}

// --- closing -------------------------------------------------------------------------------

void TestWizard::closeOnQuietPages_data() {
    QTest::addColumn<int>("page");
    for (int page :
         {int(CDlgBase::PAGE_START), int(CDlgBase::PAGE_STEP1), int(CDlgBase::PAGE_STEP2),
          int(CDlgBase::PAGE_STEP4), int(CDlgBase::PAGE_FINISH)})
        QTest::newRow(qPrintable(QString::number(page))) << page;
}

void TestWizard::closeOnQuietPages() {
    QFETCH(int, page);
    QVERIFY(Start(QStringLiteral("fw=0803")));
    while (m_wizard->m_nCurPage != page) {
        const int before = m_wizard->m_nCurPage;
        if (before == CDlgBase::PAGE_CHECK || before == CDlgBase::PAGE_STEP3) {
            // These pages go on by themselves.
            QTRY_VERIFY_WITH_TIMEOUT(m_wizard->m_nCurPage != before, kWait);
            continue;
        }
        Click(m_wizard->m_btnNext);
        if (QTest::currentTestFailed())
            return;
    }
    Click(m_wizard->m_btnClose);
    QVERIFY(m_wizard->Ended());
    QVERIFY(!m_wizard->isVisible());
    QVERIFY(m_shown.isEmpty());
}

void TestWizard::closeDuringCheck() {
    QVERIFY(Start(QStringLiteral("fw=0803")));
    m_gate.Close();
    Click(m_wizard->m_btnNext);
    Click(m_wizard->m_btnNext);
    QTRY_VERIFY_WITH_TIMEOUT(m_gate.Holding(), kWait);
    // The check thread is in the middle of the attach: the close waits for it, and shows at
    // once that it was seen: a busy cursor, and no more input taken.
    Click(m_wizard->m_btnClose);
    QVERIFY(m_wizard->ClosePending());
    QVERIFY(!m_wizard->Ended());
    QVERIFY(m_wizard->isVisible());
    QCOMPARE(m_wizard->cursor().shape(), Qt::BusyCursor);
    QVERIFY(!m_wizard->isEnabled());
    QTest::mouseClick(m_wizard->m_btnClose, Qt::LeftButton);
    QVERIFY(m_shown.isEmpty());
    m_gate.Open();
    QTRY_VERIFY_WITH_TIMEOUT(m_wizard->Ended(), kWait);
    QVERIFY(!m_wizard->isVisible());
    // Nothing the finished check would have led to happens: no network test, no warning.
    QTest::qWait(50);
    QCOMPARE(m_nNetTests, 0);
    QVERIFY(m_shown.isEmpty());
    QCOMPARE(m_wizard->m_nCurPage, int(CDlgBase::PAGE_CHECK));
}

void TestWizard::closeDuringDownload() {
    SilentServer server;
    QVERIFY(server.Port() > 0);
    QVERIFY(
        Start(QStringLiteral("fw=0803"), QStringLiteral("http://127.0.0.1:%1").arg(server.Port())));
    ToModePage();
    Click(m_wizard->m_btnNext);
    CheckFrame(CDlgBase::PAGE_STEP3);
    // The download waits for an answer that never comes; the close cancels it.
    Click(m_wizard->m_btnClose);
    QVERIFY(m_wizard->ClosePending());
    QTRY_VERIFY_WITH_TIMEOUT(m_wizard->Ended(), kWait);
    QVERIFY(m_shown.isEmpty());
    int percent = 0;
    QCOMPARE(m_wizard->Engine()->GteUpdateProgress(&percent), status::kBurnIdle);
}

void TestWizard::destroyDuringDownload() {
    // Even without a close first, the window outlives its download thread: the destructor
    // cancels the download and waits for the thread.
    SilentServer server;
    QVERIFY(server.Port() > 0);
    QVERIFY(
        Start(QStringLiteral("fw=0803"), QStringLiteral("http://127.0.0.1:%1").arg(server.Port())));
    ToModePage();
    Click(m_wizard->m_btnNext);
    CheckFrame(CDlgBase::PAGE_STEP3);
    m_wizard.reset();
    QVERIFY(m_shown.isEmpty());
}

void TestWizard::closeDuringBurn_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("close button") << "button";
    QTest::newRow("window manager") << "window";
    QTest::newRow("Escape") << "escape";
}

void TestWizard::closeDuringBurn() {
    QFETCH(QString, how);
    StartEnableBurnHeld();
    if (QTest::currentTestFailed())
        return;
    int percent = 0;
    QCOMPARE(m_wizard->Engine()->GteUpdateProgress(&percent), status::kBurnRunning);

    if (how == "button")
        Click(m_wizard->m_btnClose);
    else if (how == "window")
        m_wizard->close();
    else
        QTest::keyClick(m_wizard.get(), Qt::Key_Escape);
    // Refused with a message: the burn must not be left half done.
    QCOMPARE(m_shown.size(), 1);
    QCOMPARE(m_shown[0].code, 0u);
    QCOMPARE(m_shown[0].title, kBurnRunningText);
    QVERIFY(!m_wizard->Ended());
    QVERIFY(!m_wizard->ClosePending());
    QVERIFY(m_wizard->isVisible());

    m_gate.Open();
    QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP4), kWait);
    const QByteArray expected = ReadAll(kStandbyImage);
    QCOMPARE(ReadAll(m_strEeprom).left(expected.size()), expected);
    // Once the burn has ended, closing ends the wizard.
    Click(m_wizard->m_btnClose);
    QVERIFY(m_wizard->Ended());
}

void TestWizard::signalDuringBurn_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("terminate") << SIGTERM;
    QTest::newRow("logout") << SIGHUP;
}

void TestWizard::signalDuringBurn() {
    QFETCH(int, signal);
    StartEnableBurnHeld();
    if (QTest::currentTestFailed())
        return;
    // Would end the process by default; during the burn it is only noted.
    QCOMPARE(::kill(::getpid(), signal), 0);
    m_gate.Open();
    // The burn ends with its read-back, then the wizard ends instead of waiting for the user.
    QTRY_VERIFY_WITH_TIMEOUT(m_wizard->Ended(), kWait);
    QCOMPARE(m_wizard->ExitCode(), 0);
    QVERIFY(m_shown.isEmpty());
    const QByteArray expected = ReadAll(kStandbyImage);
    QCOMPARE(ReadAll(m_strEeprom).left(expected.size()), expected);
}

void TestWizard::busySpeaker() {
    // Another program is burning this speaker: the check waits for it, then gives up.
    QVERIFY(Start(QStringLiteral("fw=0803")));
    char* real = ::realpath(m_strEeprom.toUtf8().constData(), nullptr);
    QVERIFY(real);
    const std::string key = std::string("sim-eeprom:") + real;
    std::free(real);
    std::unique_ptr<dormane::SpeakerLock> other;
    dormane::SpeakerLockHolder holder;
    std::string reason;
    QCOMPARE(int(dormane::TakeSpeakerLock(key, 0, other, holder, reason)),
             int(dormane::LockResult::Taken));
    const QByteArray before = ReadAll(m_strEeprom);
    Click(m_wizard->m_btnNext);
    Click(m_wizard->m_btnNext);
    QTRY_COMPARE_WITH_TIMEOUT(m_shown.size(), 1, kWait);
    QCOMPARE(m_shown[0].code, 103u);
    QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP1), kWait);
    QCOMPARE(ReadAll(m_strEeprom), before);
    // Once it has let go, the check goes through.
    other.reset();
    Click(m_wizard->m_btnNext);
    QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP2), kWait);
}

void TestWizard::repairDamaged_data() {
    QTest::addColumn<bool>("damaged");      // the EEPROM holds no valid image
    QTest::addColumn<QString>("backupFw");  // a backup of this speaker with this firmware
    QTest::addColumn<QString>("journalFw"); // an unfinished burn whose backup holds this
    QTest::addColumn<bool>("preselected");  // the mode page's choice
    QTest::newRow("damaged, no backup") << true << ""
                                        << "" << true;
    QTest::newRow("damaged, backup 8.03") << true << "0803"
                                          << "" << false;
    QTest::newRow("damaged, backup 8.13") << true << "0813"
                                          << "" << true;
    QTest::newRow("unfinished burn from 8.03") << true << "0813"
                                               << "0803" << false;
    // The burn was cut off where the image still reads valid: the setting it had comes back.
    QTest::newRow("unfinished, image valid") << false << ""
                                             << "0803" << false;
}

void TestWizard::repairDamaged() {
    QFETCH(bool, damaged);
    QFETCH(QString, backupFw);
    QFETCH(QString, journalFw);
    QFETCH(bool, preselected);
    if (damaged) {
        // What a cut-off burn leaves: the start of an image, the rest erased.
        std::vector<uint8_t> content(16384, 0xFF);
        const QByteArray start = ReadAll(kStandbyImage).left(300);
        std::copy(start.begin(), start.end(), content.begin());
        QVERIFY(dormane::imagebuilder::WriteFile(m_strEeprom.toStdString(), content));
    }
    const QString backups = m_home->filePath(QStringLiteral("XDG_STATE_HOME/dormane/backups"));
    QVERIFY(QDir().mkpath(backups));
    if (!backupFw.isEmpty())
        QVERIFY(QFile::copy(backupFw == "0803" ? kNonStandbyImage : kStandbyImage,
                            backups + "/backup-20261201-120000-VID0D8C-PID0082-FW" + backupFw +
                                ".bin"));
    QVERIFY(Start(damaged ? QString() : QStringLiteral("fw=0813")));
    if (!journalFw.isEmpty()) {
        char* real = ::realpath(m_strEeprom.toUtf8().constData(), nullptr);
        QVERIFY(real);
        dormane::journal::Entry left;
        left.speaker = std::string("sim-eeprom:") + real;
        std::free(real);
        left.vid = 0x0D8C;
        left.pid = 0x0082;
        left.image = "elsewhere.bin";
        left.imageFw = 0x0813;
        left.imageDigest = "none";
        left.backup = (backups + "/backup-20261209-120000-VID0D8C-PID0082-FW" + journalFw + ".bin")
                          .toStdString();
        left.backupFw = journalFw == "0803" ? 0x0803 : 0x0813;
        left.started = "2026-12-09 12:00:00";
        std::string reason;
        QVERIFY2(dormane::journal::Write(left, reason), reason.c_str());
    }
    ToModePage();
    // The mode page, not the unsupported-speaker warning.
    QVERIFY(m_shown.isEmpty());
    QVERIFY(m_wizard->NeedsRepair());
    QCOMPARE(m_wizard->m_pPageStep2->GetMode(), preselected);
    Click(m_wizard->m_btnNext);
    QTRY_COMPARE_WITH_TIMEOUT(m_wizard->m_nCurPage, int(CDlgBase::PAGE_STEP4), kWait);
    const QByteArray expected = ReadAll(preselected ? kStandbyImage : kNonStandbyImage);
    QCOMPARE(ReadAll(m_strEeprom).left(expected.size()), expected);
    QVERIFY(m_shown.isEmpty());
}

void TestWizard::initFailure() {
    WizardOptions options;
    options.scenario = "no-driver";
    std::string error;
    QVERIFY(ApplyWizardOptions(options, error));
    // The whole modal run: the start page shows, the box stands over it, OK ends the run.
    CDlgBase* running = nullptr;
    dormane::ui::SetModalHook([&](QDialog& dialog) {
        if (auto* wizard = dynamic_cast<CDlgBase*>(&dialog)) {
            running = wizard;
            QTRY_VERIFY_WITH_TIMEOUT(wizard->Ended(), kWait);
            return;
        }
        // Not the toolkit's stock box: the warning dialog's frame, fonts and flat button.
        auto* box = dynamic_cast<CPageWarning*>(&dialog);
        QVERIFY(box && running);
        m_shown.append(
            {0, box->m_stMessage->text(),
             running->isVisible() && running->m_pPageStart && running->m_pPageStart->isVisible()});
        QCOMPARE(box->windowTitle(), QStringLiteral("Dormane"));
        QCOMPARE(box->m_stTitle->text(), QStringLiteral("Dormane"));
        QCOMPARE(box->FrameWidth(), 1);
        QVERIFY(!box->m_btnBack->isVisible());
        QCOMPARE(box->m_btnRetry->text(), QStringLiteral("OK"));
        QCOMPARE(box->m_btnRetry->font(), box->m_pStyle->m_fontButton);
        QTest::mouseClick(box->m_btnRetry, Qt::LeftButton);
    });
    RunWizard();
    QCOMPARE(m_shown.size(), 1);
    QCOMPARE(m_shown[0].title, QStringLiteral("Initialization failed."));
    QVERIFY2(m_shown[0].backdrop, "the start page stands behind the message");
}

void TestWizard::frameLook() {
    QVERIFY(Start(QStringLiteral("fw=0803")));
    const QImage image = m_wizard->grab().toImage();
    const int f = m_wizard->FrameWidth();
    QCOMPARE(f, 1);
    QCOMPARE(image.size(), QSize(1026 + 2, 559 + 2) * image.devicePixelRatio());
    QCOMPARE(image.pixelColor(0, 0), dormane::palette::WindowFrame());
    QCOMPARE(image.pixelColor(image.width() - 1, image.height() - 1),
             dormane::palette::WindowFrame());
    // White window and pages, light grey bottom bar.
    const QRect bar = m_wizard->ItemRect(IDC_BOTTOM_BAR);
    QCOMPARE(image.pixelColor(f + 5, f + bar.y() + 5), dormane::palette::BarGrey());
    QCOMPARE(image.pixelColor(f + 5, f + 5), dormane::palette::PageWhite());
    QCOMPARE(image.pixelColor(f + 5, f + 200), dormane::palette::PageWhite());
    // The title text is drawn in black.
    const QRect title = m_wizard->ItemRect(IDC_TITLE);
    bool black = false;
    for (int x = title.left(); x <= title.right() && !black; ++x)
        for (int y = title.top(); y <= title.bottom() && !black; ++y)
            black = image.pixelColor(f + x, f + y) == QColor(0, 0, 0);
    QVERIFY(black);
}

void TestWizard::dragByOwnSurface() {
    QVERIFY(Start(QStringLiteral("fw=0803")));
    const QPoint start = m_wizard->pos();
    // A press on the title strip moves the window with the mouse.
    const QPoint grip = m_wizard->ItemRect(IDC_TITLE_STRIP).center() + QPoint(1, 1);
    QTest::mousePress(m_wizard.get(), Qt::LeftButton, {}, grip);
    QTest::mouseMove(m_wizard.get(), grip + QPoint(40, 30));
    QTest::mouseRelease(m_wizard.get(), Qt::LeftButton, {}, grip + QPoint(40, 30));
    QTRY_COMPARE(m_wizard->pos(), start + QPoint(40, 30));
    // A press on a page does not.
    CDialogEx* page = m_wizard->Page(CDlgBase::PAGE_START);
    const QPoint inside(20, 20);
    QTest::mousePress(page, Qt::LeftButton, {}, inside);
    QTest::mouseMove(page, inside + QPoint(40, 30));
    QTest::mouseRelease(page, Qt::LeftButton, {}, inside + QPoint(40, 30));
    QTest::qWait(20);
    QCOMPARE(m_wizard->pos(), start + QPoint(40, 30));
}

QTEST_MAIN(TestWizard)
#include "tst_wizard.moc"
