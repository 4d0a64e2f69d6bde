#include "CDlgBase.h"

#include "CPageWarning.h"
#include "CStaticText.h"
#include "Controls.h"
#include "DialogTemplates.h"
#include "Modal.h"
#include "Pages.h"
#include "Palette.h"
#include "WindowMessages.h"

#include "BurnShield.h"
#include "Download.h"
#include "FWUpdateInterface.h"
#include "Network.h"
#include "Paths.h"
#include "Replug.h"
#include "Status.h"
#include "ThreadChecker.h"
#include "Transport.h"

#include <QMouseEvent>
#include <QWindow>

#include <chrono>

using namespace dormane::res;
namespace palette = dormane::palette;
namespace status = dormane::status;

namespace {

// What SwitchPage does with the frame's buttons for each page.
enum class Steps { Hidden, Shown, Unchanged };
struct PageFrame {
    Steps steps;
    const char* next;
    bool nextShown;
    bool backShown;
};
constexpr PageFrame kPageFrames[] = {
    {Steps::Hidden, "Start", true, false},  // PAGE_START
    {Steps::Shown, "Next", true, true},     // PAGE_STEP1
    {Steps::Shown, "Next", false, false},   // PAGE_CHECK
    {Steps::Unchanged, "Next", true, true}, // PAGE_STEP2
    {Steps::Shown, "Next", false, false},   // PAGE_STEP3
    {Steps::Shown, "Next", true, false},    // PAGE_STEP4
    {Steps::Hidden, "Finish", true, false}, // PAGE_FINISH
};

const QString kBurnRunningText =
    QStringLiteral("The setting is being updated. Please wait until it has finished.");

} // namespace

CDlgBase::CDlgBase(QWidget* parent) : CDialogEx(IDD_MAIN, parent) {
    // The local application-data folder and the firmware temp path below it; the Temp
    // folder is created here when missing. A failure shows later, as a download failure.
    dormane::InitLocalAppPaths();
}

CDlgBase::~CDlgBase() {
    // A worker still running uses this window to the last: let it end first. A download
    // that has not begun listening for the cancel yet is cancelled again until it ends.
    if (m_checkThread.joinable())
        m_checkThread.join();
    StopReplugWatch();
    while (m_downloadThread.joinable() && !m_bDownloadThreadDone.load()) {
        dormane::CancelDownloads();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (m_downloadThread.joinable())
        m_downloadThread.join();
    delete m_pPageStart;
    m_pPageStart = nullptr;
    delete m_pPageStep1;
    m_pPageStep1 = nullptr;
    delete m_pPageCheck;
    m_pPageCheck = nullptr;
    delete m_pPageStep2;
    m_pPageStep2 = nullptr;
    delete m_pPageStep3;
    m_pPageStep3 = nullptr;
    delete m_pPageStep4;
    m_pPageStep4 = nullptr;
    delete m_pPageFinish;
    m_pPageFinish = nullptr;
}

// --- start-up ------------------------------------------------------------------------------

bool CDlgBase::OnInitDialog() {
    DoDataExchange();
    SetBackgroundColor(palette::PageWhite(), true);
    setWindowTitle(dormane::ui::AppName());
    m_pStyle = std::make_unique<CPageEx>();
    InitButtons();
    SwitchPage(PAGE_START);
    m_bAttached = false;

    m_pUpdate = std::make_unique<FWUpdateInterface>();
    if (m_pUpdate->Init() != status::kSuccess) {
        // Shown once the window is on screen, so that the start page stands behind the box.
        QMetaObject::invokeMethod(this, &CDlgBase::ReportInitFailure, Qt::QueuedConnection);
    }
    return true;
}

void CDlgBase::ReportInitFailure() {
    dormane::ui::MessageBox(this, QStringLiteral("Initialization failed."));
    PostMessage(this, WM_CLOSE, 0, 0);
}

void CDlgBase::DoDataExchange() {
    m_btnClose = DlgItem<CButtonST>(IDC_CLOSE);
    m_btnNext = DlgItem<CButtonST>(IDC_NEXT);
    m_btnBack = DlgItem<CButtonST>(IDC_BACK);
    m_stLogo = DlgItem<QLabel>(IDC_LOGO);
    m_stTitle = DlgItem<CStaticText>(IDC_TITLE);
    m_stBottomBar = DlgItem<CStaticText>(IDC_BOTTOM_BAR);
    m_stBrand = DlgItem<QLabel>(IDC_BRAND);
    m_stTitleStrip = DlgItem<CStaticText>(IDC_TITLE_STRIP);
    m_stStepStrip = DlgItem<CStaticText>(IDC_STEP_STRIP);
    m_btnStep2 = DlgItem<CButtonST>(IDC_STEP2);
    m_btnStep3 = DlgItem<CButtonST>(IDC_STEP3);
    m_btnStep4 = DlgItem<CButtonST>(IDC_STEP4);
    m_btnStep1 = DlgItem<CButtonST>(IDC_STEP1);
    connect(m_btnClose, &QAbstractButton::clicked, this, &CDlgBase::OnBnClickedClose);
    connect(m_btnNext, &QAbstractButton::clicked, this, &CDlgBase::OnBnClickedNext);
    connect(m_btnBack, &QAbstractButton::clicked, this, &CDlgBase::OnBnClickedBack);
}

void CDlgBase::InitButtons() {
    const QPixmap cross = LoadBitmap(IDB_CLOSE);
    m_btnClose->SetImages(cross, LoadBitmap(IDB_CLOSE));
    m_btnClose->SetTransparent();
    m_btnClose->SetBorder(false, true);
    m_btnClose->SetHoverCursor(IDR_HAND_CURSOR, true);
    StyleGreyButton(*m_btnNext, m_pStyle->m_fontButton);
    StyleGreyButton(*m_btnBack, m_pStyle->m_fontButton);
}

std::optional<CDialogEx::CtlColor> CDlgBase::OnCtlColor(int id) const {
    switch (id) {
    case IDC_TITLE_STRIP:
    case IDC_STEP_STRIP:
        return CtlColor{palette::TextBlack(), nullptr, std::nullopt};
    case IDC_BOTTOM_BAR:
        return CtlColor{palette::TextBlack(), nullptr, palette::BarGrey()};
    case IDC_TITLE:
        return CtlColor{palette::TextBlack(), m_pStyle ? &m_pStyle->m_fontTitle : nullptr,
                        std::nullopt};
    default:
        return std::nullopt;
    }
}

// --- pages ---------------------------------------------------------------------------------

CDialogEx* CDlgBase::Page(int page) const {
    switch (page) {
    case PAGE_START:
        return m_pPageStart;
    case PAGE_STEP1:
        return m_pPageStep1;
    case PAGE_CHECK:
        return m_pPageCheck;
    case PAGE_STEP2:
        return m_pPageStep2;
    case PAGE_STEP3:
        return m_pPageStep3;
    case PAGE_STEP4:
        return m_pPageStep4;
    case PAGE_FINISH:
        return m_pPageFinish;
    default:
        return nullptr;
    }
}

namespace {

template <class Page> Page* EnsurePage(Page*& pointer, CDlgBase* owner, const QRect& place) {
    if (!pointer) {
        auto* page = new Page(owner);
        page->Create();
        page->setGeometry(place);
        pointer = page;
    }
    return pointer;
}

} // namespace

int CDlgBase::SwitchPage(int page) {
    if (page < PAGE_START || page > PAGE_FINISH)
        return 0;
    // The pages fill the band between the title strip and the step strip.
    const QRect title = ItemRect(IDC_TITLE_STRIP);
    const QRect steps = ItemRect(IDC_STEP_STRIP);
    const int top = title.height();
    const QRect place(ClientRect().topLeft() + QPoint(0, top),
                      QSize(steps.x() + steps.width(), steps.y() - top));

    const PageFrame& frame = kPageFrames[page];
    if (frame.steps != Steps::Unchanged)
        for (CButtonST* b : {m_btnStep1, m_btnStep2, m_btnStep3, m_btnStep4})
            b->setVisible(frame.steps == Steps::Shown);
    m_btnNext->setText(QString::fromUtf8(frame.next));
    m_btnNext->setVisible(frame.nextShown);
    m_btnBack->setText(QStringLiteral("Back"));
    m_btnBack->setVisible(frame.backShown);

    // The mode chosen on the mode page is the mode that is downloaded and written.
    if (page == PAGE_STEP3 && m_pPageStep2)
        m_bChosenMode = m_pPageStep2->GetMode();
    for (int other = PAGE_START; other <= PAGE_FINISH; ++other)
        if (other != page)
            if (CDialogEx* p = Page(other))
                p->hide();
    if (page != PAGE_STEP4)
        StopReplugWatch();

    switch (page) {
    case PAGE_START:
        EnsurePage(m_pPageStart, this, place)->show();
        break;
    case PAGE_STEP1:
        EnsurePage(m_pPageStep1, this, place)->show();
        break;
    case PAGE_CHECK: {
        CPageCheck* check = EnsurePage(m_pPageCheck, this, place);
        check->show();
        if (check->m_picture && check->m_picture->LoadFromResource(IDR_BUSY_GIF, "GIF"))
            check->m_picture->Show();
        StartCheckThread();
        break;
    }
    case PAGE_STEP2: {
        CPageStep2* mode = EnsurePage(m_pPageStep2, this, place);
        mode->show();
        mode->SetMode(m_bCurrentMode);
        break;
    }
    case PAGE_STEP3:
        EnsurePage(m_pPageStep3, this, place)->show();
        StartDownloadThread();
        break;
    case PAGE_STEP4:
        EnsurePage(m_pPageStep4, this, place)->show();
        StartReplugWatch();
        break;
    case PAGE_FINISH: {
        CPageFinish* finish = EnsurePage(m_pPageFinish, this, place);
        finish->show();
        finish->ShowResult(m_bChosenMode);
        break;
    }
    }
    m_nCurPage = page;
    UpdateStepIndicator(page);
    return 1;
}

void CDlgBase::UpdateStepIndicator(int page) {
    CButtonST* current = m_btnStep1;
    if (page == PAGE_CHECK || page == PAGE_STEP2)
        current = m_btnStep2;
    else if (page == PAGE_STEP3)
        current = m_btnStep3;
    else if (page == PAGE_STEP4 || page == PAGE_FINISH)
        current = m_btnStep4;
    for (CButtonST* b : {m_btnStep1, m_btnStep2, m_btnStep3, m_btnStep4}) {
        if (b == current)
            SetStepCurrent(*b);
        else
            SetStepNormal(*b);
    }
}

namespace {

void StyleStep(CDialogEx& window, CButtonST& button, const QColor& colour, const QFont& font) {
    button.SetTransparent();
    button.SetBorder(false, true);
    for (int slot : {CLR_FG_HOT, CLR_FG_NORMAL, CLR_FG_FOCUS})
        button.SetButtonColor(slot, colour, true);
    button.setFont(font);
    // The button is transparent: the window repaints behind it.
    window.InvalidateItem(button.property("controlId").toInt());
}

} // namespace

void CDlgBase::SetStepNormal(CButtonST& button) {
    StyleStep(*this, button, palette::TextBlack(), m_pStyle->m_fontStep);
}

void CDlgBase::SetStepCurrent(CButtonST& button) {
    StyleStep(*this, button, palette::AccentBlue(), m_pStyle->m_fontStepCurrent);
}

void CDlgBase::HideAll() {
    for (CButtonST* b : {m_btnStep1, m_btnStep2, m_btnStep3, m_btnStep4})
        b->hide();
    for (int page = PAGE_START; page <= PAGE_FINISH; ++page)
        if (CDialogEx* p = Page(page))
            p->hide();
    m_btnNext->hide();
    m_btnBack->hide();
}

void CDlgBase::DetachSpeaker() {
    if (m_bAttached && m_pUpdate) {
        m_pUpdate->DetachDevice();
        m_bAttached = false;
    }
}

void CDlgBase::ShowError(unsigned code) {
    HideAll();
    CPageWarning warning(code, this);
    const int result = warning.DoModal();
    DetachSpeaker();
    SwitchPage(result == dormane::ui::IDOK ? PAGE_CHECK : PAGE_STEP1);
}

void CDlgBase::ShowUnsupported() {
    HideAll();
    CPageWarning warning(WARN_UNSUPPORTED, this);
    const int result = warning.DoModal();
    DetachSpeaker();
    if (result == dormane::ui::IDOK)
        SwitchPage(PAGE_STEP1);
    else
        EndWizard();
}

// --- navigation ----------------------------------------------------------------------------

void CDlgBase::OnBnClickedNext() {
    if (m_nCurPage >= PAGE_START && m_nCurPage < PAGE_FINISH)
        SwitchPage(m_nCurPage + 1);
    else
        EndWizard();
}

void CDlgBase::OnBnClickedBack() {
    if (m_nCurPage == PAGE_STEP2)
        SwitchPage(PAGE_STEP1); // the check page is skipped
    else if (m_nCurPage > PAGE_START)
        SwitchPage(m_nCurPage - 1);
}

void CDlgBase::OnBnClickedClose() {
    RequestClose();
}

void CDlgBase::reject() {
    RequestClose();
}

bool CDlgBase::BurnRunning() const {
    if (!m_pUpdate)
        return false;
    int percent = 0;
    return m_pUpdate->GteUpdateProgress(&percent) == status::kBurnRunning;
}

void CDlgBase::RequestClose() {
    if (m_bEnded || m_bClosePending)
        return;
    // Closing now would leave a half-written EEPROM.
    if (BurnRunning()) {
        dormane::ui::MessageBox(this, kBurnRunningText);
        return;
    }
    // A worker uses this window until its message arrives: close then. Until then the
    // window shows that the close was seen, and takes no more input.
    if (m_bCheckRunning || m_bDownloadRunning) {
        m_bClosePending = true;
        setCursor(Qt::BusyCursor);
        setEnabled(false);
        if (m_bDownloadRunning) {
            dormane::CancelDownloads();
            SetTimer(IDT_CANCEL_DOWNLOAD, 100);
        }
        return;
    }
    EndWizard();
}

void CDlgBase::EndWizard() {
    if (m_bEnded)
        return;
    m_bEnded = true;
    m_bStopReplug = true; // joined by the destructor
    KillTimer(IDT_UPDATE_PROGRESS);
    KillTimer(IDT_CANCEL_DOWNLOAD);
    done(dormane::ui::IDCANCEL);
}

// --- messages and the progress timer -------------------------------------------------------

bool CDlgBase::event(QEvent* e) {
    dormane::TakeOver(e); // any event may be a message a worker thread made
    if (e->type() == CWindowMessage::Type()) {
        const auto* m = static_cast<CWindowMessage*>(e);
        WindowProc(m->Message(), m->WParam(), m->LParam());
        return true;
    }
    return CDialogEx::event(e);
}

bool CDlgBase::WindowProc(unsigned message, intptr_t wParam, intptr_t) {
    switch (message) {
    case WM_CHECK_DONE:
        m_bCheckRunning = false;
        break;
    case WM_DOWNLOAD_DONE:
        m_bDownloadRunning = false;
        KillTimer(IDT_CANCEL_DOWNLOAD);
        break;
    case WM_UPDATE_DONE:
    case WM_NETTEST_DONE:
    case WM_REPLUG_DONE:
    case WM_CLOSE:
        break;
    default:
        return false;
    }
    if (m_bEnded)
        return true;
    if (m_bClosePending) {
        // The close waited for this worker; the wizard goes no further.
        if (!m_bCheckRunning && !m_bDownloadRunning)
            EndWizard();
        return true;
    }

    switch (message) {
    case WM_CHECK_DONE:
        if (wParam == status::kSpeakerBusy)
            ShowError(WARN_UPDATE_FAILED); // another program is burning it
        else if (wParam == status::kSuccess)
            PostMessage(this, WM_NETTEST_DONE,
                        dormane::IsNetworkAlive() == dormane::kNetworkAlive ? dormane::kNetworkAlive
                                                                            : dormane::kNetworkDown,
                        0);
        else if (wParam == status::kFailure || wParam == status::kNoDevice)
            ShowError(WARN_NO_SPEAKER);
        break;
    case WM_DOWNLOAD_DONE:
        if (wParam != dormane::kDownloadOk || StartUpdate() != status::kSuccess)
            ShowError(WARN_UPDATE_FAILED);
        break;
    case WM_UPDATE_DONE:
        // Asked to end while the burn ran (a logout, a polite kill): it has ended now.
        if (dormane::ArrivedSignal() != 0) {
            m_nExitCode = wParam == status::kBurnVerified ? 0 : kExitBurnFailed;
            EndWizard();
        } else if (wParam == status::kBurnVerified)
            SwitchPage(PAGE_STEP4);
        else
            ShowError(WARN_UPDATE_FAILED);
        break;
    case WM_NETTEST_DONE:
        if (wParam == dormane::kNetworkAlive) {
            DecideCurrentMode();
            SwitchPage(PAGE_STEP2);
            if (!NeedsRepair() && m_strFwVersion != "0803" && m_strFwVersion != "0813")
                ShowUnsupported();
        } else {
            ShowError(WARN_NO_NETWORK);
        }
        break;
    case WM_REPLUG_DONE:
        // The speaker is back with the firmware just written: the switch took effect, so
        // the finish page follows without "Next". Otherwise "Next" stays the way on.
        if (wParam == 1 && m_nCurPage == PAGE_STEP4)
            SwitchPage(PAGE_FINISH);
        break;
    case WM_CLOSE:
        RequestClose();
        break;
    }
    return true;
}

int CDlgBase::StartUpdate() {
    if (!m_pUpdate)
        return status::kFailure;
    const std::string path = dormane::g_strFirmwarePath;
    // Only the image of the chosen mode may be written, whatever the server sent.
    const int result = m_pUpdate->UpdateFirmware(path.c_str(), m_bChosenMode ? kStandbyFirmware
                                                                             : kAlwaysOnFirmware);
    if (result == status::kSuccess)
        SetTimer(IDT_UPDATE_PROGRESS, 100);
    return result;
}

void CDlgBase::OnTimer(int id) {
    if (id == IDT_CANCEL_DOWNLOAD) {
        dormane::CancelDownloads();
        return;
    }
    if (id != IDT_UPDATE_PROGRESS || !m_pUpdate)
        return;
    int percent = 0;
    const int state = m_pUpdate->GteUpdateProgress(&percent);
    if (state == status::kBurnRunning) {
        if (m_pPageStep3)
            m_pPageStep3->SetProgress(percent);
        return;
    }
    // A burn that reports success short of 100 percent counts as failed.
    const bool done = state == status::kBurnVerified && percent == 100;
    PostMessage(this, WM_UPDATE_DONE, done ? status::kBurnVerified : status::kBurnFailed, 0);
    KillTimer(IDT_UPDATE_PROGRESS);
}

// --- worker threads ------------------------------------------------------------------------

void CDlgBase::StartCheckThread() {
    if (m_checkThread.joinable())
        m_checkThread.join(); // the previous check has posted its message and is ending
    m_bCheckRunning = true;
    m_checkThread = std::thread(CheckDeviceThreadProc, this);
}

void CDlgBase::StartDownloadThread() {
    if (m_downloadThread.joinable())
        m_downloadThread.join();
    m_bDownloadRunning = true;
    m_bDownloadThreadDone = false;
    m_downloadThread = std::thread(DownloadThreadProc, this);
}

unsigned CDlgBase::DownloadThreadProc(CDlgBase* dialog) {
    const std::string url =
        dormane::FirmwareUrl(dialog->m_bChosenMode, dormane::GetDownloadOptions().baseUrl);
    const int result = dormane::DownloadFile(url);
    PostMessage(dialog, WM_DOWNLOAD_DONE, result, 0);
    dialog->m_bDownloadThreadDone = true;
    return 0;
}

void CDlgBase::StartReplugWatch() {
    StopReplugWatch();
    m_bStopReplug = false;
    m_bReplugDone = false;
    m_replugThread = std::thread(ReplugThreadProc, this, rmSharedBackend(),
                                 m_bChosenMode ? kStandbyFirmware : kAlwaysOnFirmware);
}

void CDlgBase::StopReplugWatch() {
    m_bStopReplug = true;
    if (m_replugThread.joinable())
        m_replugThread.join(); // it looks at the flag between polls
}

unsigned CDlgBase::ReplugThreadProc(CDlgBase* dialog, std::shared_ptr<dormane::UsbBackend> usb,
                                    uint16_t fwVersion) {
    const dormane::ReplugOutcome outcome =
        dormane::WaitForReplug(*usb, kVendorId, dormane::kDefaultReplugWait,
                               [dialog] { return dialog->m_bStopReplug.load(); });
    if (!dialog->m_bStopReplug)
        PostMessage(dialog, WM_REPLUG_DONE, dormane::ReplugRuns(outcome, fwVersion) ? 1 : 0, 0);
    dialog->m_bReplugDone = true;
    return 0;
}

// --- window drag ---------------------------------------------------------------------------

void CDlgBase::mousePressEvent(QMouseEvent* e) {
    // A press on the window's own surface moves the window: it has no caption bar.
    if (e->button() == Qt::LeftButton) {
        if (windowHandle() && windowHandle()->startSystemMove()) {
            e->accept();
            return;
        }
        // Without a window manager that moves windows, follow the mouse here.
        m_bDragging = true;
        m_ptDragOffset = e->globalPosition().toPoint() - frameGeometry().topLeft();
        e->accept();
        return;
    }
    CDialogEx::mousePressEvent(e);
}

void CDlgBase::mouseMoveEvent(QMouseEvent* e) {
    if (m_bDragging && (e->buttons() & Qt::LeftButton)) {
        move(e->globalPosition().toPoint() - m_ptDragOffset);
        e->accept();
        return;
    }
    CDialogEx::mouseMoveEvent(e);
}

void CDlgBase::mouseReleaseEvent(QMouseEvent* e) {
    if (m_bDragging && e->button() == Qt::LeftButton) {
        m_bDragging = false;
        e->accept();
        return;
    }
    CDialogEx::mouseReleaseEvent(e);
}
