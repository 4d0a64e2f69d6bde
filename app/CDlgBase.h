#pragma once

#include "CDialogEx.h"
#include "CPageEx.h"

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

// The wizard: the main window with its frame, the page sequence and its navigation, the
// custom window messages, the worker threads, the progress timer and the device check.
// Every decision is taken on the window thread; the workers only post messages.
class CDlgBase : public CDialogEx {
    Q_OBJECT
public:
    enum {
        PAGE_START = 0,
        PAGE_STEP1 = 1,
        PAGE_CHECK = 2,
        PAGE_STEP2 = 3,
        PAGE_STEP3 = 4,
        PAGE_STEP4 = 5,
        PAGE_FINISH = 6,
    };
    static constexpr int IDT_UPDATE_PROGRESS = 256;
    // While a close waits for a download, the cancel is repeated on this timer, so that a
    // download that had not begun when the close came is cancelled too.
    static constexpr int IDT_CANCEL_DOWNLOAD = 257;
    static constexpr uint16_t kVendorId = 0x0D8C;
    static constexpr uint16_t kDefaultProductId = 0x0082;
    static constexpr uint16_t kStandbyFirmware = 0x0813;  // "Enable"
    static constexpr uint16_t kAlwaysOnFirmware = 0x0803; // "Disable"
    static constexpr int kExitBurnFailed = 3;

    explicit CDlgBase(QWidget* parent = nullptr);
    // Waits for a worker thread that is still running, then deletes the pages.
    ~CDlgBase() override;

    // --- window thread -------------------------------------------------------------------
    int SwitchPage(int page);
    void UpdateStepIndicator(int page);
    void SetStepNormal(CButtonST& button);
    void SetStepCurrent(CButtonST& button);
    void HideAll();
    void ShowError(unsigned code);
    void ShowUnsupported();
    int StartUpdate();
    void OnBnClickedNext();
    void OnBnClickedBack();
    void OnBnClickedClose();
    // Reacts to a posted message; returns true when it was one of the wizard's.
    bool WindowProc(unsigned message, intptr_t wParam, intptr_t lParam);
    // The design's rule on the discovery's version text: the fourth character "0" means
    // auto-standby is disabled, anything else (none included) that it is enabled.
    bool ClassifyCurrentSetting(std::string text);
    // The current mode from the firmware version word when it names one of the two builds,
    // otherwise from the version text. A speaker that needs repair gets the setting of its
    // backup instead, or "Enable" without one.
    bool DecideCurrentMode();
    // The check found a damaged EEPROM or an unfinished burn: the mode page comes next
    // instead of the unsupported-speaker warning, and the burn writes a whole image.
    bool NeedsRepair() const;
    // The exit status of the program: 0, or 3 when it ended right after a failed burn
    // because a signal asked it to end.
    int ExitCode() const { return m_nExitCode; }
    // A close from the close button, the window manager or Escape: refused with a message
    // while a burn runs, deferred while a worker thread runs, otherwise the end.
    void RequestClose();

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
    bool Ended() const { return m_bEnded; }
    // A close is waiting for a worker thread.
    bool ClosePending() const { return m_bClosePending; }
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
    int m_nCurPage = 0;
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
    std::string m_strVersionText;
    std::string m_strFwVersion;
    uint16_t m_wPid = 0xFFFF;
    bool m_bCurrentMode = false;
    bool m_bChosenMode = false;
    // Written by the check thread, read after WM_CHECK_DONE.
    bool m_bDamaged = false;
    bool m_bUnfinishedBurn = false;
    uint16_t m_wRepairFw = 0;
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
    void StartCheckThread();
    void StartDownloadThread();
    void StartReplugWatch();
    void StopReplugWatch();
    void DetachSpeaker();
    void ReportInitFailure();
    void EndWizard();
    bool BurnRunning() const;
    void NoteDamage();

    std::thread m_checkThread;
    std::thread m_downloadThread;
    std::thread m_replugThread;
    std::atomic<bool> m_bStopReplug{false};
    std::atomic<bool> m_bReplugDone{true};
    bool m_bCheckRunning = false;                  // from its start until its message arrived
    bool m_bDownloadRunning = false;               // likewise
    std::atomic<bool> m_bDownloadThreadDone{true}; // set by the download thread at its end
    bool m_bClosePending = false;
    bool m_bEnded = false;
    int m_nExitCode = 0;
    bool m_bDragging = false;
    QPoint m_ptDragOffset;
};
