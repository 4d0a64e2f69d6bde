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

static_assert(CWizardFlow::IDOK == dormane::ui::IDOK &&
              CWizardFlow::IDCANCEL == dormane::ui::IDCANCEL);
static_assert(CWizardFlow::WARN_NO_SPEAKER == WARN_NO_SPEAKER &&
              CWizardFlow::WARN_NO_NETWORK == WARN_NO_NETWORK &&
              CWizardFlow::WARN_UPDATE_FAILED == WARN_UPDATE_FAILED &&
              CWizardFlow::WARN_UNSUPPORTED == WARN_UNSUPPORTED);

// What the flow asks of this window, done with the window's widgets, threads and engine.
class CDlgBase::CFlowWindow : public IWizardWindow {
public:
    explicit CFlowWindow(CDlgBase& dialog) : d(dialog) {}

    void ShowPage(int page) override { d.ShowPage(page); }
    void SetFrame(const Frame& frame) override {
        if (frame.steps != Steps::Unchanged)
            for (CButtonST* b : {d.m_btnStep1, d.m_btnStep2, d.m_btnStep3, d.m_btnStep4})
                b->setVisible(frame.steps == Steps::Shown);
        d.m_btnNext->setText(QString::fromUtf8(frame.next));
        d.m_btnNext->setVisible(frame.nextShown);
        d.m_btnBack->setText(QStringLiteral("Back"));
        d.m_btnBack->setVisible(frame.backShown);
    }
    void SetStepCurrent(int step) override {
        CButtonST* const buttons[] = {d.m_btnStep1, d.m_btnStep2, d.m_btnStep3, d.m_btnStep4};
        for (int i = 0; i < 4; ++i) {
            if (i == step)
                d.SetStepCurrent(*buttons[i]);
            else
                d.SetStepNormal(*buttons[i]);
        }
    }
    void HideAll() override { d.HideAll(); }
    int ShowWarning(unsigned code) override {
        CPageWarning warning(code, &d);
        return warning.DoModal();
    }
    void ShowMessage(const char* text) override {
        dormane::ui::MessageBox(&d, QString::fromUtf8(text));
    }
    bool ReadChosenMode(bool& mode) override {
        if (!d.m_pPageStep2)
            return false;
        mode = d.m_pPageStep2->GetMode();
        return true;
    }
    void StartWorker(Worker worker) override {
        switch (worker) {
        case WORKER_CHECK:
            d.StartCheckThread();
            break;
        case WORKER_DOWNLOAD:
            d.StartDownloadThread();
            break;
        case WORKER_REPLUG:
            d.StartReplugWatch();
            break;
        }
    }
    void StopReplugWatch() override { d.StopReplugWatch(); }
    void PostMessage(unsigned message, intptr_t wParam) override {
        ::PostMessage(&d, message, wParam, 0);
    }
    int TestNetwork() override { return dormane::IsNetworkAlive(); }
    void SetTimer(int id, int milliseconds) override { d.SetTimer(id, milliseconds); }
    void KillTimer(int id) override { d.KillTimer(id); }
    void CancelDownloads() override { dormane::CancelDownloads(); }
    int StartBurn(uint16_t fwVersion) override {
        if (!d.m_pUpdate)
            return status::kFailure;
        const std::string path = dormane::g_strFirmwarePath;
        return d.m_pUpdate->UpdateFirmware(path.c_str(), fwVersion);
    }
    int BurnProgress(int& percent) override {
        if (!d.m_pUpdate)
            return status::kBurnIdle;
        return d.m_pUpdate->GteUpdateProgress(&percent);
    }
    void SetProgress(int percent) override {
        if (d.m_pPageStep3)
            d.m_pPageStep3->SetProgress(percent);
    }
    void DetachSpeaker() override { d.DetachSpeaker(); }
    void ShowClosePending() override {
        d.setCursor(Qt::BusyCursor);
        d.setEnabled(false);
    }
    int ArrivedSignal() override { return dormane::ArrivedSignal(); }
    void Close() override {
        d.m_bStopReplug = true; // joined by the destructor
        d.done(dormane::ui::IDCANCEL);
    }

private:
    CDlgBase& d;
};

CDlgBase::CDlgBase(QWidget* parent)
    : CDialogEx(IDD_MAIN, parent), m_pFlowWindow(std::make_unique<CFlowWindow>(*this)),
      m_flow(*m_pFlowWindow) {
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
    return m_flow.SwitchPage(page);
}

void CDlgBase::ShowPage(int page) {
    // The pages fill the band between the title strip and the step strip.
    const QRect title = ItemRect(IDC_TITLE_STRIP);
    const QRect steps = ItemRect(IDC_STEP_STRIP);
    const int top = title.height();
    const QRect place(ClientRect().topLeft() + QPoint(0, top),
                      QSize(steps.x() + steps.width(), steps.y() - top));

    for (int other = PAGE_START; other <= PAGE_FINISH; ++other)
        if (other != page)
            if (CDialogEx* p = Page(other))
                p->hide();

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
        break;
    case PAGE_STEP4:
        EnsurePage(m_pPageStep4, this, place)->show();
        break;
    case PAGE_FINISH: {
        CPageFinish* finish = EnsurePage(m_pPageFinish, this, place);
        finish->show();
        finish->ShowResult(m_bChosenMode);
        break;
    }
    }
}

void CDlgBase::UpdateStepIndicator(int page) {
    m_pFlowWindow->SetStepCurrent(CWizardFlow::StepOfPage(page));
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

// --- navigation ----------------------------------------------------------------------------

void CDlgBase::OnBnClickedNext() {
    m_flow.OnBnClickedNext();
}

void CDlgBase::OnBnClickedBack() {
    m_flow.OnBnClickedBack();
}

void CDlgBase::OnBnClickedClose() {
    RequestClose();
}

void CDlgBase::reject() {
    RequestClose();
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

void CDlgBase::OnTimer(int id) {
    m_flow.OnTimer(id);
}

// --- worker threads ------------------------------------------------------------------------

void CDlgBase::StartCheckThread() {
    if (m_checkThread.joinable())
        m_checkThread.join(); // the previous check has posted its message and is ending
    m_checkThread = std::thread(CheckDeviceThreadProc, this);
}

void CDlgBase::StartDownloadThread() {
    if (m_downloadThread.joinable())
        m_downloadThread.join();
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
    m_replugThread =
        std::thread(ReplugThreadProc, this, rmSharedBackend(), m_flow.ChosenFirmware());
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
