#pragma once

#include "WizardMessages.h"

#include <cstdint>
#include <string>

// What the flow asks of the window that shows the wizard. Every call comes on the window
// thread; none of them decides anything.
class IWizardWindow {
public:
    enum Worker {
        WORKER_CHECK,    // the device check; ends with WM_CHECK_DONE
        WORKER_DOWNLOAD, // the image of the chosen mode; ends with WM_DOWNLOAD_DONE
        WORKER_REPLUG,   // the power-cycle watch; may end with WM_REPLUG_DONE
    };
    // The frame's buttons for a page.
    enum class Steps { Hidden, Shown, Unchanged };
    struct Frame {
        Steps steps;      // the four step buttons
        const char* next; // the text of "Next"
        bool nextShown;
        bool backShown; // its text is always "Back"
    };

    virtual ~IWizardWindow() = default;

    // Shows the page and hides the others. The mode page shows CWizardFlow::m_bCurrentMode,
    // the finish page CWizardFlow::m_bChosenMode, the check page its animation.
    virtual void ShowPage(int page) = 0;
    virtual void SetFrame(const Frame& frame) = 0;
    // Marks step button 0 to 3 as the current one and the others as normal.
    virtual void SetStepCurrent(int step) = 0;
    // Hides the step buttons, the pages, "Next" and "Back" (behind a warning).
    virtual void HideAll() = 0;
    // Runs warning 101 to 104 modally; returns CWizardFlow::IDOK or IDCANCEL.
    virtual int ShowWarning(unsigned code) = 0;
    // A message box with an OK button.
    virtual void ShowMessage(const char* text) = 0;
    // The mode the mode page shows now; false while the page was never made.
    virtual bool ReadChosenMode(bool& mode) = 0;
    virtual void StartWorker(Worker worker) = 0;
    // Stops the power-cycle watch if it runs and waits for it; it posts nothing after.
    virtual void StopReplugWatch() = 0;
    // Queues a message for WindowProc.
    virtual void PostMessage(unsigned message, intptr_t wParam) = 0;
    // The network test: dormane::kNetworkAlive or kNetworkDown.
    virtual int TestNetwork() = 0;
    virtual void SetTimer(int id, int milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
    // Asks every running download to stop.
    virtual void CancelDownloads() = 0;
    // Starts the burn of the downloaded image, which must be fwVersion; an engine status.
    virtual int StartBurn(uint16_t fwVersion) = 0;
    // The burn's state (kBurnRunning, kBurnVerified, ...) and its percentage.
    virtual int BurnProgress(int& percent) = 0;
    virtual void SetProgress(int percent) = 0;
    virtual void DetachSpeaker() = 0;
    // A close waits for a worker: show that it was seen and take no more input.
    virtual void ShowClosePending() = 0;
    // The signal that asked the program to end, 0 when none did.
    virtual int ArrivedSignal() = 0;
    // Ends the wizard's window; called once.
    virtual void Close() = 0;
};

// The wizard's decisions, apart from any window: the page sequence and its buttons, the
// routing of the custom messages and their result codes, the progress timer, the answers to
// the warnings, the close while a worker runs and the current-setting check.
class CWizardFlow {
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
    static constexpr int IDOK = 1;
    static constexpr int IDCANCEL = 2;
    static constexpr unsigned WARN_NO_SPEAKER = 101;
    static constexpr unsigned WARN_NO_NETWORK = 102;
    static constexpr unsigned WARN_UPDATE_FAILED = 103;
    static constexpr unsigned WARN_UNSUPPORTED = 104;
    static constexpr int IDT_UPDATE_PROGRESS = 256;
    // While a close waits for a download, the cancel is repeated on this timer, so that a
    // download that had not begun when the close came is cancelled too.
    static constexpr int IDT_CANCEL_DOWNLOAD = 257;
    static constexpr int kProgressPeriodMs = 100;
    static constexpr uint16_t kStandbyFirmware = 0x0813;  // "Enable"
    static constexpr uint16_t kAlwaysOnFirmware = 0x0803; // "Disable"
    static constexpr int kExitBurnFailed = 3;
    static constexpr const char* kBurnRunningText =
        "The setting is being updated. Please wait until it has finished.";

    explicit CWizardFlow(IWizardWindow& window) : m_wnd(window) {}

    // The frame's buttons of a page (a page index out of range gets none).
    static const IWizardWindow::Frame* PageFrame(int page);
    // The step button (0 to 3) that is current on a page.
    static int StepOfPage(int page);

    int SwitchPage(int page);
    void OnBnClickedNext();
    void OnBnClickedBack();
    // A close from the close button, the window manager or Escape: refused with a message
    // while a burn runs, deferred while a worker runs, otherwise the end.
    void RequestClose();
    // Reacts to a posted message; returns true when it was one of the wizard's.
    bool WindowProc(unsigned message, intptr_t wParam, intptr_t lParam);
    void OnTimer(int id);
    int StartUpdate();

    // The fourth character of the discovery's version text "0" means auto-standby is
    // disabled, anything else (none included) that it is enabled.
    bool ClassifyCurrentSetting(const std::string& text);
    // The current mode from the firmware version word when it names one of the two builds,
    // otherwise from the version text. A speaker that needs repair gets the setting of its
    // backup instead, or "Enable" without one.
    bool DecideCurrentMode();
    // The check found a damaged EEPROM or an unfinished burn: the mode page comes next
    // instead of the unsupported-speaker warning.
    bool NeedsRepair() const { return m_bDamaged || m_bUnfinishedBurn; }
    // Clears what the previous check found; the check calls it before it looks.
    void ResetCheck();

    bool Ended() const { return m_bEnded; }
    bool ClosePending() const { return m_bClosePending; }
    bool CheckRunning() const { return m_bCheckRunning; }
    bool DownloadRunning() const { return m_bDownloadRunning; }
    // 0, or kExitBurnFailed when a signal ended the program right after a failed burn.
    int ExitCode() const { return m_nExitCode; }
    // The image of the chosen mode.
    uint16_t ChosenFirmware() const { return m_bChosenMode ? kStandbyFirmware : kAlwaysOnFirmware; }

    int m_nCurPage = PAGE_START;
    bool m_bCurrentMode = false;
    bool m_bChosenMode = false;
    // Written by the check worker before it posts WM_CHECK_DONE, read after.
    std::string m_strVersionText; // from discovery, when the first attach failed
    std::string m_strFwVersion;   // the version word as four hexadecimal digits
    bool m_bDamaged = false;
    bool m_bUnfinishedBurn = false;
    uint16_t m_wRepairFw = 0; // the backup's firmware, 0 when there is none

private:
    void ShowError(unsigned code);
    void ShowUnsupported();
    void EndWizard();
    bool BurnRunning();

    IWizardWindow& m_wnd;
    bool m_bCheckRunning = false;    // from its start until its message arrived
    bool m_bDownloadRunning = false; // likewise
    bool m_bClosePending = false;
    bool m_bEnded = false;
    int m_nExitCode = 0;
};
