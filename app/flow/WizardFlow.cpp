#include "WizardFlow.h"

#include "Download.h"
#include "Network.h"
#include "Status.h"

namespace status = dormane::status;

namespace {

using Steps = IWizardWindow::Steps;
constexpr IWizardWindow::Frame kPageFrames[] = {
    {Steps::Hidden, "Start", true, false},  // PAGE_START
    {Steps::Shown, "Next", true, true},     // PAGE_STEP1
    {Steps::Shown, "Next", false, false},   // PAGE_CHECK
    {Steps::Unchanged, "Next", true, true}, // PAGE_STEP2
    {Steps::Shown, "Next", false, false},   // PAGE_STEP3
    {Steps::Shown, "Next", true, false},    // PAGE_STEP4
    {Steps::Hidden, "Finish", true, false}, // PAGE_FINISH
};

} // namespace

const IWizardWindow::Frame* CWizardFlow::PageFrame(int page) {
    if (page < PAGE_START || page > PAGE_FINISH)
        return nullptr;
    return &kPageFrames[page];
}

int CWizardFlow::StepOfPage(int page) {
    switch (page) {
    case PAGE_CHECK:
    case PAGE_STEP2:
        return 1;
    case PAGE_STEP3:
        return 2;
    case PAGE_STEP4:
    case PAGE_FINISH:
        return 3;
    default:
        return 0;
    }
}

// --- pages ---------------------------------------------------------------------------------

int CWizardFlow::SwitchPage(int page) {
    const IWizardWindow::Frame* frame = PageFrame(page);
    if (!frame)
        return 0;
    m_wnd.SetFrame(*frame);
    // The mode chosen on the mode page is the mode that is downloaded and written.
    if (page == PAGE_STEP3) {
        bool mode = false;
        if (m_wnd.ReadChosenMode(mode))
            m_bChosenMode = mode;
    }
    if (page != PAGE_STEP4)
        m_wnd.StopReplugWatch();
    m_wnd.ShowPage(page);
    switch (page) {
    case PAGE_CHECK:
        m_bCheckRunning = true;
        m_wnd.StartWorker(IWizardWindow::WORKER_CHECK);
        break;
    case PAGE_STEP3:
        m_bDownloadRunning = true;
        m_wnd.StartWorker(IWizardWindow::WORKER_DOWNLOAD);
        break;
    case PAGE_STEP4:
        m_wnd.StartWorker(IWizardWindow::WORKER_REPLUG);
        break;
    default:
        break;
    }
    m_nCurPage = page;
    m_wnd.SetStepCurrent(StepOfPage(page));
    return 1;
}

void CWizardFlow::ShowError(unsigned code) {
    m_wnd.HideAll();
    const int answer = m_wnd.ShowWarning(code);
    m_wnd.DetachSpeaker();
    SwitchPage(answer == IDOK ? PAGE_CHECK : PAGE_STEP1);
}

void CWizardFlow::ShowUnsupported() {
    m_wnd.HideAll();
    const int answer = m_wnd.ShowWarning(WARN_UNSUPPORTED);
    m_wnd.DetachSpeaker();
    if (answer == IDOK)
        SwitchPage(PAGE_STEP1);
    else
        EndWizard();
}

// --- navigation ----------------------------------------------------------------------------

void CWizardFlow::OnBnClickedNext() {
    if (m_nCurPage >= PAGE_START && m_nCurPage < PAGE_FINISH)
        SwitchPage(m_nCurPage + 1);
    else
        EndWizard();
}

void CWizardFlow::OnBnClickedBack() {
    if (m_nCurPage == PAGE_STEP2)
        SwitchPage(PAGE_STEP1); // the check page is skipped
    else if (m_nCurPage > PAGE_START)
        SwitchPage(m_nCurPage - 1);
}

bool CWizardFlow::BurnRunning() {
    int percent = 0;
    return m_wnd.BurnProgress(percent) == status::kBurnRunning;
}

void CWizardFlow::RequestClose() {
    if (m_bEnded || m_bClosePending)
        return;
    // Closing now would leave a half-written EEPROM.
    if (BurnRunning()) {
        m_wnd.ShowMessage(kBurnRunningText);
        return;
    }
    // A worker uses the window until its message arrives: close then.
    if (m_bCheckRunning || m_bDownloadRunning) {
        m_bClosePending = true;
        m_wnd.ShowClosePending();
        if (m_bDownloadRunning) {
            m_wnd.CancelDownloads();
            m_wnd.SetTimer(IDT_CANCEL_DOWNLOAD, kProgressPeriodMs);
        }
        return;
    }
    EndWizard();
}

void CWizardFlow::EndWizard() {
    if (m_bEnded)
        return;
    m_bEnded = true;
    m_wnd.KillTimer(IDT_UPDATE_PROGRESS);
    m_wnd.KillTimer(IDT_CANCEL_DOWNLOAD);
    m_wnd.Close();
}

// --- messages and the progress timer -------------------------------------------------------

bool CWizardFlow::WindowProc(unsigned message, intptr_t wParam, intptr_t) {
    switch (message) {
    case WM_CHECK_DONE:
        m_bCheckRunning = false;
        break;
    case WM_DOWNLOAD_DONE:
        m_bDownloadRunning = false;
        m_wnd.KillTimer(IDT_CANCEL_DOWNLOAD);
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
            m_wnd.PostMessage(WM_NETTEST_DONE, m_wnd.TestNetwork() == dormane::kNetworkAlive
                                                   ? dormane::kNetworkAlive
                                                   : dormane::kNetworkDown);
        else if (wParam == status::kFailure || wParam == status::kNoDevice)
            ShowError(WARN_NO_SPEAKER);
        break;
    case WM_DOWNLOAD_DONE:
        if (wParam != dormane::kDownloadOk || StartUpdate() != status::kSuccess)
            ShowError(WARN_UPDATE_FAILED);
        break;
    case WM_UPDATE_DONE:
        // Asked to end while the burn ran (a logout, a polite kill): it has ended now.
        if (m_wnd.ArrivedSignal() != 0) {
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

int CWizardFlow::StartUpdate() {
    // Only the image of the chosen mode may be written, whatever the server sent.
    const int result = m_wnd.StartBurn(ChosenFirmware());
    if (result == status::kSuccess)
        m_wnd.SetTimer(IDT_UPDATE_PROGRESS, kProgressPeriodMs);
    return result;
}

void CWizardFlow::OnTimer(int id) {
    if (id == IDT_CANCEL_DOWNLOAD) {
        m_wnd.CancelDownloads();
        return;
    }
    if (id != IDT_UPDATE_PROGRESS)
        return;
    int percent = 0;
    const int state = m_wnd.BurnProgress(percent);
    if (state == status::kBurnRunning) {
        m_wnd.SetProgress(percent);
        return;
    }
    // A burn that reports success short of 100 percent counts as failed.
    const bool done = state == status::kBurnVerified && percent == 100;
    m_wnd.PostMessage(WM_UPDATE_DONE, done ? status::kBurnVerified : status::kBurnFailed);
    m_wnd.KillTimer(IDT_UPDATE_PROGRESS);
}

// --- the current setting -------------------------------------------------------------------

void CWizardFlow::ResetCheck() {
    m_bDamaged = false;
    m_bUnfinishedBurn = false;
    m_wRepairFw = 0;
}

bool CWizardFlow::ClassifyCurrentSetting(const std::string& text) {
    m_bCurrentMode = !(text.size() > 3 && text[3] == '0');
    return m_bCurrentMode;
}

bool CWizardFlow::DecideCurrentMode() {
    if (NeedsRepair()) {
        // "Enable" unless a backup says the speaker ran with auto-standby off.
        m_bCurrentMode = m_wRepairFw != kAlwaysOnFirmware;
        return m_bCurrentMode;
    }
    // The version text stays empty when the first attach succeeds (discovery does not run),
    // so the firmware version word decides whenever it names one of the two builds.
    if (m_strFwVersion == "0803")
        m_bCurrentMode = false;
    else if (m_strFwVersion == "0813")
        m_bCurrentMode = true;
    else
        ClassifyCurrentSetting(m_strVersionText);
    return m_bCurrentMode;
}
