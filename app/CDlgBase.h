#pragma once

#include "CDialogEx.h"
#include "CPageEx.h"
#include "WizardFlow.h"

#include <QPoint>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class CButtonST;
class CStaticText;
class CPageStart;
class CPageStep1;
class CPageCheck;
class CPageStep2;
class CPageStep3;
class CPageStep4;
class CPageFinish;
class FWUpdateInterface;
class QLabel;
namespace dormane {
class UsbBackend;
}

// The wizard's Qt window: its frame, the pages, the worker threads, the progress timer and
// the device check. Every decision is CWizardFlow's, taken on the window thread; the
// workers only post messages.
class CDlgBase : public CDialogEx {
    Q_OBJECT
    class CFlowWindow;
    // First, so that the fields below that name the flow's state can refer to it.
    std::unique_ptr<CFlowWindow> m_pFlowWindow;
    CWizardFlow m_flow;

public:
    enum {
        PAGE_START = CWizardFlow::PAGE_START,
        PAGE_STEP1 = CWizardFlow::PAGE_STEP1,
        PAGE_CHECK = CWizardFlow::PAGE_CHECK,
        PAGE_STEP2 = CWizardFlow::PAGE_STEP2,
        PAGE_STEP3 = CWizardFlow::PAGE_STEP3,
        PAGE_STEP4 = CWizardFlow::PAGE_STEP4,
        PAGE_FINISH = CWizardFlow::PAGE_FINISH,
    };
    static constexpr int IDT_UPDATE_PROGRESS = CWizardFlow::IDT_UPDATE_PROGRESS;
    static constexpr int IDT_CANCEL_DOWNLOAD = CWizardFlow::IDT_CANCEL_DOWNLOAD;
    static constexpr uint16_t kVendorId = 0x0D8C;
    static constexpr uint16_t kDefaultProductId = 0x0082;
    static constexpr uint16_t kStandbyFirmware = CWizardFlow::kStandbyFirmware;
    static constexpr uint16_t kAlwaysOnFirmware = CWizardFlow::kAlwaysOnFirmware;
    static constexpr int kExitBurnFailed = CWizardFlow::kExitBurnFailed;

    explicit CDlgBase(QWidget* parent = nullptr);
    // Waits for a worker thread that is still running, then deletes the pages.
    ~CDlgBase() override;

    // --- window thread -------------------------------------------------------------------
    int SwitchPage(int page);
    void UpdateStepIndicator(int page);
    void SetStepNormal(CButtonST& button);
    void SetStepCurrent(CButtonST& button);
    void HideAll();
    int StartUpdate() { return m_flow.StartUpdate(); }
    void OnBnClickedNext();
    void OnBnClickedBack();
    void OnBnClickedClose();
    // Reacts to a posted message; returns true when it was one of the wizard's.
    bool WindowProc(unsigned message, intptr_t wParam, intptr_t lParam) {
        return m_flow.WindowProc(message, wParam, lParam);
    }
    bool ClassifyCurrentSetting(const std::string& text) {
        return m_flow.ClassifyCurrentSetting(text);
    }
    bool DecideCurrentMode() { return m_flow.DecideCurrentMode(); }
    bool NeedsRepair() const { return m_flow.NeedsRepair(); }
    // The exit status of the program: 0, or 3 when it ended right after a failed burn
    // because a signal asked it to end.
    int ExitCode() const { return m_flow.ExitCode(); }
    void RequestClose() { m_flow.RequestClose(); }

    // --- device-check thread ---------------------------------------------------------------
    int CheckDevice();
    int FindUsbSpeaker(uint16_t& pid, std::string& versionText);
    static unsigned CheckDeviceThreadProc(CDlgBase* dialog);
    // --- download thread -------------------------------------------------------------------
    static unsigned DownloadThreadProc(CDlgBase* dialog);
    // --- power-cycle watch thread ------------------------------------------------------------
    // Runs while the power-cycle page is on show: posts WM_REPLUG_DONE with 1 when the speaker
    // comes back running fwVersion.
    static unsigned ReplugThreadProc(CDlgBase* dialog, std::shared_ptr<dormane::UsbBackend> usb,
                                     uint16_t fwVersion);
    // The watch has posted its message (or was stopped) and its thread is ending.
    bool ReplugWatchDone() const { return m_bReplugDone.load(); }

    std::optional<CtlColor> OnCtlColor(int id) const override;

    // The page object of an index, null before its first visit.
    CDialogEx* Page(int page) const;
    // The wizard has ended: the modal run is over or about to be.
    bool Ended() const { return m_flow.Ended(); }
    // A close is waiting for a worker thread.
    bool ClosePending() const { return m_flow.ClosePending(); }
    FWUpdateInterface* Engine() const { return m_pUpdate.get(); }

    // Fields, bound to the template's controls when the window initialises.
    CButtonST* m_btnClose = nullptr;
    CButtonST* m_btnNext = nullptr;
    CButtonST* m_btnBack = nullptr;
    QLabel* m_stLogo = nullptr;
    CStaticText* m_stTitle = nullptr;
    CStaticText* m_stBottomBar = nullptr;
    QLabel* m_stBrand = nullptr;
    CStaticText* m_stTitleStrip = nullptr;
    CStaticText* m_stStepStrip = nullptr;
    int& m_nCurPage = m_flow.m_nCurPage;
    CPageStart* m_pPageStart = nullptr;
    CPageStep1* m_pPageStep1 = nullptr;
    CPageCheck* m_pPageCheck = nullptr;
    CPageStep2* m_pPageStep2 = nullptr;
    CPageStep3* m_pPageStep3 = nullptr;
    CPageStep4* m_pPageStep4 = nullptr;
    CPageFinish* m_pPageFinish = nullptr;
    std::unique_ptr<CPageEx> m_pStyle;
    std::unique_ptr<FWUpdateInterface> m_pUpdate;
    bool m_bAttached = false;
    std::string& m_strVersionText = m_flow.m_strVersionText;
    std::string& m_strFwVersion = m_flow.m_strFwVersion;
    uint16_t m_wPid = 0xFFFF;
    bool& m_bCurrentMode = m_flow.m_bCurrentMode;
    bool& m_bChosenMode = m_flow.m_bChosenMode;
    // Written by the check thread, read after WM_CHECK_DONE.
    bool& m_bDamaged = m_flow.m_bDamaged;
    bool& m_bUnfinishedBurn = m_flow.m_bUnfinishedBurn;
    uint16_t& m_wRepairFw = m_flow.m_wRepairFw;
    CButtonST* m_btnStep2 = nullptr;
    CButtonST* m_btnStep3 = nullptr;
    CButtonST* m_btnStep4 = nullptr;
    CButtonST* m_btnStep1 = nullptr;

public slots:
    void reject() override;

protected:
    bool OnInitDialog() override;
    void OnTimer(int id) override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void DoDataExchange();
    void InitButtons();
    // Shows one page and hides the others; the flow has set the frame.
    void ShowPage(int page);
    void StartCheckThread();
    void StartDownloadThread();
    void StartReplugWatch();
    void StopReplugWatch();
    void DetachSpeaker();
    void ReportInitFailure();
    void NoteDamage();

    std::thread m_checkThread;
    std::thread m_downloadThread;
    std::thread m_replugThread;
    std::atomic<bool> m_bStopReplug{false};
    std::atomic<bool> m_bReplugDone{true};
    std::atomic<bool> m_bDownloadThreadDone{true}; // set by the download thread at its end
    bool m_bDragging = false;
    QPoint m_ptDragOffset;
};
