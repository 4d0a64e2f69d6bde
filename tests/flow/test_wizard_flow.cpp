// Whole walks through the wizard's flow with a fake window: what the user does and what the
// workers post, in order, and what the flow asked the window to do.
#include "WizardFlow.h"

#include "Download.h"
#include "Network.h"
#include "Status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

namespace status = dormane::status;

namespace {

// What the device check finds, written into the flow when the check worker starts, as the
// real worker does before it posts WM_CHECK_DONE.
struct Speaker {
    std::string fwVersion = "0803";
    std::string versionText;
    bool damaged = false;
    bool unfinishedBurn = false;
    uint16_t repairFw = 0;
};

// Records every request as a short line; answers warnings from a script.
class FakeWindow : public IWizardWindow {
public:
    CWizardFlow* flow = nullptr;
    Speaker speaker;
    int network = dormane::kNetworkAlive;
    int burnStart = status::kSuccess;
    int burnState = status::kBurnIdle;
    int burnPercent = 0;
    int signal = 0;
    std::deque<int> answers;
    std::vector<std::string> log;
    std::deque<std::pair<unsigned, intptr_t>> posted;
    std::vector<unsigned> warnings;
    const Frame* frame = nullptr;
    int currentStep = -1;
    bool modePageMade = false;
    bool modeOnPage = false;
    int closes = 0;

    void Note(const std::string& line) { log.push_back(line); }

    void ShowPage(int page) override {
        if (page == CWizardFlow::PAGE_STEP2) {
            modePageMade = true;
            modeOnPage = flow->m_bCurrentMode; // the page shows the current setting
        }
        Note("page " + std::to_string(page));
    }
    void SetFrame(const Frame& f) override { frame = &f; }
    void SetStepCurrent(int step) override { currentStep = step; }
    void HideAll() override { Note("hide"); }
    int ShowWarning(unsigned code) override {
        Note("warning " + std::to_string(code));
        warnings.push_back(code);
        if (answers.empty()) {
            ADD_FAILURE() << "warning " << code << " has no scripted answer";
            return CWizardFlow::IDCANCEL;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowMessage(const char* text) override { Note(std::string("message ") + text); }
    bool ReadChosenMode(bool& mode) override {
        if (!modePageMade)
            return false;
        mode = modeOnPage;
        return true;
    }
    void StartWorker(Worker worker) override {
        switch (worker) {
        case WORKER_CHECK:
            flow->ResetCheck();
            flow->m_strFwVersion = speaker.fwVersion;
            flow->m_strVersionText = speaker.versionText;
            flow->m_bDamaged = speaker.damaged;
            flow->m_bUnfinishedBurn = speaker.unfinishedBurn;
            flow->m_wRepairFw = speaker.repairFw;
            Note("worker check");
            break;
        case WORKER_DOWNLOAD:
            Note("worker download");
            break;
        case WORKER_REPLUG:
            Note("worker replug");
            break;
        }
    }
    void StopReplugWatch() override {}
    void PostMessage(unsigned message, intptr_t wParam) override {
        Note("post " + std::to_string(message) + " " + std::to_string(wParam));
        posted.emplace_back(message, wParam);
    }
    int TestNetwork() override { return network; }
    void SetTimer(int id, int milliseconds) override {
        Note("timer+" + std::to_string(id) + " " + std::to_string(milliseconds));
    }
    void KillTimer(int id) override { Note("timer-" + std::to_string(id)); }
    void CancelDownloads() override { Note("cancel"); }
    int StartBurn(uint16_t fwVersion) override {
        char text[16];
        std::snprintf(text, sizeof text, "burn %04X", static_cast<unsigned>(fwVersion));
        Note(text);
        if (burnStart == status::kSuccess) {
            burnState = status::kBurnRunning;
            burnPercent = 0;
        }
        return burnStart;
    }
    int BurnProgress(int& percent) override {
        percent = burnPercent;
        return burnState;
    }
    void SetProgress(int percent) override { Note("progress " + std::to_string(percent)); }
    void DetachSpeaker() override { Note("detach"); }
    void ShowClosePending() override { Note("pending"); }
    int ArrivedSignal() override { return signal; }
    void Close() override {
        ++closes;
        Note("close");
    }
};

// One thing that happens to the wizard.
struct Step {
    enum Kind { Next, Back, Close, Toggle, Message, Tick, CancelTick, Pump } kind;
    unsigned message = 0;
    intptr_t value = 0; // the message's wParam, or the burn's state for Tick
    int percent = 0;
};
Step Next() {
    return {Step::Next};
}
Step Back() {
    return {Step::Back};
}
Step CloseClick() {
    return {Step::Close};
}
// The user picks the other setting on the mode page.
Step Toggle() {
    return {Step::Toggle};
}
Step Msg(unsigned message, intptr_t value) {
    return {Step::Message, message, value};
}
// The progress timer fires while the engine reports this state.
Step Tick(int state, int percent) {
    return {Step::Tick, 0, state, percent};
}
Step CancelTick() {
    return {Step::CancelTick};
}
// The window's queue delivers what was posted, the flow's own posts included.
Step Pump() {
    return {Step::Pump};
}

void RunSteps(CWizardFlow& flow, FakeWindow& window, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        switch (step.kind) {
        case Step::Next:
            flow.OnBnClickedNext();
            break;
        case Step::Back:
            flow.OnBnClickedBack();
            break;
        case Step::Close:
            flow.RequestClose();
            break;
        case Step::Toggle:
            window.modeOnPage = !window.modeOnPage;
            break;
        case Step::Message:
            EXPECT_TRUE(flow.WindowProc(step.message, step.value, 0));
            break;
        case Step::Tick:
            window.burnState = static_cast<int>(step.value);
            window.burnPercent = step.percent;
            flow.OnTimer(CWizardFlow::IDT_UPDATE_PROGRESS);
            break;
        case Step::CancelTick:
            flow.OnTimer(CWizardFlow::IDT_CANCEL_DOWNLOAD);
            break;
        case Step::Pump:
            while (!window.posted.empty()) {
                const auto [message, value] = window.posted.front();
                window.posted.pop_front();
                EXPECT_TRUE(flow.WindowProc(message, value, 0));
            }
            break;
        }
    }
}

// Whether every line of wanted appears in log, in that order (others may come between).
::testing::AssertionResult InOrder(const std::vector<std::string>& log,
                                   const std::vector<std::string>& wanted) {
    auto at = log.begin();
    for (const std::string& line : wanted) {
        at = std::find(at, log.end(), line);
        if (at == log.end()) {
            std::string all;
            for (const std::string& l : log)
                all += "\n  " + l;
            return ::testing::AssertionFailure()
                   << "\"" << line << "\" missing or out of order in:" << all;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

constexpr int OK = CWizardFlow::IDOK;
constexpr int CANCEL = CWizardFlow::IDCANCEL;
constexpr int kStart = CWizardFlow::PAGE_START;
constexpr int kStep1 = CWizardFlow::PAGE_STEP1;
constexpr int kCheck = CWizardFlow::PAGE_CHECK;
constexpr int kMode = CWizardFlow::PAGE_STEP2;
constexpr int kBurn = CWizardFlow::PAGE_STEP3;
constexpr int kPower = CWizardFlow::PAGE_STEP4;
constexpr int kFinish = CWizardFlow::PAGE_FINISH;

const std::string kPostNetAlive =
    "post " + std::to_string(WM_NETTEST_DONE) + " " + std::to_string(dormane::kNetworkAlive);
const std::string kPostVerified =
    "post " + std::to_string(WM_UPDATE_DONE) + " " + std::to_string(status::kBurnVerified);
const std::string kPostBurnFailed =
    "post " + std::to_string(WM_UPDATE_DONE) + " " + std::to_string(status::kBurnFailed);
const std::string kProgressOn = "timer+256 100";
const std::string kCancelOn = "timer+257 100";
const std::string kBusyText = std::string("message ") + CWizardFlow::kBurnRunningText;

// Start, the power-supply page and the check page.
const std::vector<Step> kToCheck = {Next(), Next()};
// ... the check finds the speaker, the network is up: the mode page.
const std::vector<Step> kToMode = {Next(), Next(), Msg(WM_CHECK_DONE, status::kSuccess), Pump()};
// ... the other setting is chosen and the download begins.
const std::vector<Step> kToDownload = {Next(), Next(),   Msg(WM_CHECK_DONE, status::kSuccess),
                                       Pump(), Toggle(), Next()};
// ... the download ends and the burn runs.
const std::vector<Step> kToBurn = {
    Next(),   Next(), Msg(WM_CHECK_DONE, status::kSuccess),       Pump(),
    Toggle(), Next(), Msg(WM_DOWNLOAD_DONE, dormane::kDownloadOk)};

std::vector<Step> Then(std::vector<Step> first, const std::vector<Step>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

struct Walk {
    const char* name;
    Speaker speaker;
    int network;
    int signal;
    std::vector<int> answers;
    std::vector<Step> steps;
    // What must be seen afterwards.
    int page;
    bool ended;
    int exitCode;
    std::vector<unsigned> warnings;
    std::vector<std::string> inOrder;
    std::vector<std::string> never;
    int burnStart = status::kSuccess; // what the engine answers when the burn is started
};

void PrintTo(const Walk& walk, std::ostream* os) {
    *os << walk.name;
}

const Speaker k0803{"0803", "", false, false, 0};
const Speaker k0813{"0813", "", false, false, 0};
const Speaker kForeign{"0A01", "V8.1.3", false, false, 0};
const Speaker kDamagedAlwaysOn{"FFFF", "", true, false, 0x0803};
const Speaker kUnfinishedNoBackup{"0803", "", false, true, 0};

const Walk kWalks[] = {
    {"switch_to_standby_and_back_on_power_cycle",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToBurn, {Tick(status::kBurnRunning, 40), Tick(status::kBurnVerified, 100), Pump(),
                    Msg(WM_REPLUG_DONE, 1), Next()}),
     kFinish,
     true,
     0,
     {},
     {"page 1", "page 2", "worker check", kPostNetAlive, "page 3", "page 4", "worker download",
      "burn 0813", kProgressOn, "progress 40", kPostVerified, "timer-256", "page 5",
      "worker replug", "page 6", "close"},
     {"hide"}},
    {"switch_to_always_on_without_replug_message",
     k0813,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToBurn,
          {Tick(status::kBurnVerified, 100), Pump(), Msg(WM_REPLUG_DONE, 0), Next(), Next()}),
     kFinish,
     true,
     0,
     {},
     {"page 3", "burn 0803", kPostVerified, "page 5", "page 6", "close"},
     {"progress 0"}},
    {"mode_kept_burns_the_current_image",
     k0813,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToMode, {Next(), Msg(WM_DOWNLOAD_DONE, dormane::kDownloadOk)}),
     kBurn,
     false,
     0,
     {},
     {"burn 0813", kProgressOn},
     {"burn 0803"}},
    {"replug_message_off_the_power_page_is_ignored",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToMode, {Msg(WM_REPLUG_DONE, 1)}),
     kMode,
     false,
     0,
     {},
     {"page 3"},
     {"page 6"}},
    {"back_skips_the_check_page",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToMode, {Back(), Back(), Back()}),
     kStart,
     false,
     0,
     {},
     {"page 3", "page 1", "page 0"},
     {"close"}},
    {"no_speaker_retry_then_back",
     k0803,
     dormane::kNetworkAlive,
     0,
     {OK, CANCEL},
     Then(kToCheck, {Msg(WM_CHECK_DONE, status::kNoDevice), Msg(WM_CHECK_DONE, status::kFailure)}),
     kStep1,
     false,
     0,
     {101, 101},
     {"worker check", "hide", "warning 101", "detach", "page 2", "worker check", "warning 101",
      "detach", "page 1"},
     {kPostNetAlive}},
    {"busy_speaker_is_an_update_failure",
     k0803,
     dormane::kNetworkAlive,
     0,
     {CANCEL},
     Then(kToCheck, {Msg(WM_CHECK_DONE, status::kSpeakerBusy)}),
     kStep1,
     false,
     0,
     {103},
     {"warning 103", "detach", "page 1"},
     {kPostNetAlive}},
    {"no_network_retry_checks_again",
     k0803,
     dormane::kNetworkDown,
     0,
     {OK, CANCEL},
     Then(kToCheck, {Msg(WM_CHECK_DONE, status::kSuccess), Pump(),
                     Msg(WM_CHECK_DONE, status::kSuccess), Pump()}),
     kStep1,
     false,
     0,
     {102, 102},
     {"warning 102", "page 2", "worker check", "warning 102", "page 1"},
     {"page 3"}},
    {"download_file_failed",
     k0803,
     dormane::kNetworkAlive,
     0,
     {OK},
     Then(kToDownload, {Msg(WM_DOWNLOAD_DONE, dormane::kDownloadFileFailed)}),
     kCheck,
     false,
     0,
     {103},
     {"worker download", "warning 103", "detach", "page 2", "worker check"},
     {"burn 0813", "burn 0803"}},
    {"download_no_internet",
     k0803,
     dormane::kNetworkAlive,
     0,
     {CANCEL},
     Then(kToDownload, {Msg(WM_DOWNLOAD_DONE, dormane::kDownloadNoInternet)}),
     kStep1,
     false,
     0,
     {103},
     {"warning 103", "page 1"},
     {"burn 0813"}},
    {"download_open_url_failed",
     k0803,
     dormane::kNetworkAlive,
     0,
     {CANCEL},
     Then(kToDownload, {Msg(WM_DOWNLOAD_DONE, dormane::kDownloadOpenUrlFailed)}),
     kStep1,
     false,
     0,
     {103},
     {"warning 103", "page 1"},
     {"burn 0813"}},
    {"download_read_failed",
     k0803,
     dormane::kNetworkAlive,
     0,
     {CANCEL},
     Then(kToDownload, {Msg(WM_DOWNLOAD_DONE, dormane::kDownloadReadFailed)}),
     kStep1,
     false,
     0,
     {103},
     {"warning 103", "page 1"},
     {"burn 0813"}},
    {"burn_refused_at_start",
     k0803,
     dormane::kNetworkAlive,
     0,
     {CANCEL},
     Then(kToDownload, {Msg(WM_DOWNLOAD_DONE, dormane::kDownloadOk)}),
     kStep1,
     false,
     0,
     {103},
     {"burn 0813", "warning 103", "page 1"},
     {kProgressOn},
     status::kFileOpenFailed},
    {"burn_failed",
     k0803,
     dormane::kNetworkAlive,
     0,
     {OK},
     Then(kToBurn, {Tick(status::kBurnRunning, 70), Tick(status::kBurnFailed, 70), Pump()}),
     kCheck,
     false,
     0,
     {103},
     {"progress 70", kPostBurnFailed, "timer-256", "warning 103", "page 2"},
     {"page 5"}},
    {"burn_verified_short_of_100_counts_as_failed",
     k0803,
     dormane::kNetworkAlive,
     0,
     {CANCEL},
     Then(kToBurn, {Tick(status::kBurnVerified, 99), Pump()}),
     kStep1,
     false,
     0,
     {103},
     {kPostBurnFailed, "warning 103", "page 1"},
     {"page 5"}},
    {"unsupported_speaker_back",
     kForeign,
     dormane::kNetworkAlive,
     0,
     {OK},
     kToMode,
     kStep1,
     false,
     0,
     {104},
     {kPostNetAlive, "page 3", "hide", "warning 104", "detach", "page 1"},
     {"close"}},
    {"unsupported_speaker_cancel_ends",
     kForeign,
     dormane::kNetworkAlive,
     0,
     {CANCEL},
     kToMode,
     kMode,
     true,
     0,
     {104},
     {"page 3", "warning 104", "detach", "close"},
     {}},
    {"damaged_speaker_is_repaired_with_its_backup",
     kDamagedAlwaysOn,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToMode, {Next(), Msg(WM_DOWNLOAD_DONE, dormane::kDownloadOk)}),
     kBurn,
     false,
     0,
     {},
     {"page 3", "page 4", "burn 0803"},
     {"warning 104"}},
    {"unfinished_burn_without_backup_offers_enable",
     kUnfinishedNoBackup,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToMode, {Next(), Msg(WM_DOWNLOAD_DONE, dormane::kDownloadOk)}),
     kBurn,
     false,
     0,
     {},
     {"page 3", "page 4", "burn 0813"},
     {"warning 104"}},
    {"close_during_check_waits_for_it",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToCheck, {CloseClick(), CloseClick(), Msg(WM_CHECK_DONE, status::kSuccess), Pump()}),
     kCheck,
     true,
     0,
     {},
     {"worker check", "pending", "close"},
     {kPostNetAlive, "cancel", "page 3"}},
    {"close_during_check_that_failed_shows_no_warning",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToCheck, {CloseClick(), Msg(WM_CHECK_DONE, status::kNoDevice)}),
     kCheck,
     true,
     0,
     {},
     {"pending", "close"},
     {"warning 101"}},
    {"close_during_download_cancels_it",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToDownload,
          {CloseClick(), CancelTick(), Msg(WM_DOWNLOAD_DONE, dormane::kDownloadReadFailed)}),
     kBurn,
     true,
     0,
     {},
     {"worker download", "pending", "cancel", kCancelOn, "cancel", "timer-257", "close"},
     {"warning 103", "burn 0813"}},
    {"close_during_download_that_finished_does_not_burn",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToDownload, {CloseClick(), Msg(WM_DOWNLOAD_DONE, dormane::kDownloadOk)}),
     kBurn,
     true,
     0,
     {},
     {"pending", "close"},
     {"burn 0813"}},
    {"close_during_burn_is_refused",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToBurn, {CloseClick(), Msg(WM_CLOSE, 0), Tick(status::kBurnVerified, 100), Pump()}),
     kPower,
     false,
     0,
     {},
     {"burn 0813", kBusyText, kBusyText, kPostVerified, "page 5"},
     {"close", "pending"}},
    {"close_after_burn_on_power_page",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     Then(kToBurn, {Tick(status::kBurnVerified, 100), Pump(), CloseClick()}),
     kPower,
     true,
     0,
     {},
     {"page 5", "close"},
     {kBusyText}},
    {"signal_during_failed_burn_exits_3",
     k0803,
     dormane::kNetworkAlive,
     15,
     {},
     Then(kToBurn, {Tick(status::kBurnFailed, 30), Pump()}),
     kBurn,
     true,
     CWizardFlow::kExitBurnFailed,
     {},
     {kPostBurnFailed, "close"},
     {"warning 103"}},
    {"signal_during_verified_burn_exits_0",
     k0803,
     dormane::kNetworkAlive,
     15,
     {},
     Then(kToBurn, {Tick(status::kBurnVerified, 100), Pump()}),
     kBurn,
     true,
     0,
     {},
     {kPostVerified, "close"},
     {"page 5"}},
    {"window_close_message_on_start_page",
     k0803,
     dormane::kNetworkAlive,
     0,
     {},
     {Msg(WM_CLOSE, 0), Msg(WM_CHECK_DONE, status::kNoDevice), Msg(WM_CLOSE, 0)},
     kStart,
     true,
     0,
     {},
     {"close"},
     {"warning 101"}},
};

class WizardWalk : public ::testing::TestWithParam<Walk> {};

TEST_P(WizardWalk, EndsWhereExpected) {
    const Walk& walk = GetParam();
    FakeWindow window;
    CWizardFlow flow(window);
    window.flow = &flow;
    window.speaker = walk.speaker;
    window.network = walk.network;
    window.signal = walk.signal;
    window.burnStart = walk.burnStart;
    window.answers.assign(walk.answers.begin(), walk.answers.end());

    flow.SwitchPage(CWizardFlow::PAGE_START);
    RunSteps(flow, window, walk.steps);

    EXPECT_EQ(flow.m_nCurPage, walk.page);
    EXPECT_EQ(flow.Ended(), walk.ended);
    EXPECT_EQ(window.closes, walk.ended ? 1 : 0);
    EXPECT_EQ(flow.ExitCode(), walk.exitCode);
    EXPECT_EQ(window.warnings, walk.warnings);
    EXPECT_TRUE(window.answers.empty()) << "answers left unasked";
    EXPECT_TRUE(InOrder(window.log, walk.inOrder));
    for (const std::string& line : walk.never)
        EXPECT_EQ(std::count(window.log.begin(), window.log.end(), line), 0) << line;
    if (walk.ended) {
        // Nothing is left running after the end.
        EXPECT_TRUE(InOrder(window.log, {"timer-256", "timer-257", "close"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Walks, WizardWalk, ::testing::ValuesIn(kWalks),
                         [](const auto& info) { return std::string(info.param.name); });

using Steps = IWizardWindow::Steps;

// The frame and the step indicator of each page, and the worker it starts.
struct PageCase {
    int page;
    Steps steps;
    const char* next;
    bool nextShown;
    bool backShown;
    int step;
    const char* worker; // the line StartWorker logs, or null
};

const PageCase kPages[] = {
    {kStart, Steps::Hidden, "Start", true, false, 0, nullptr},
    {kStep1, Steps::Shown, "Next", true, true, 0, nullptr},
    {kCheck, Steps::Shown, "Next", false, false, 1, "worker check"},
    {kMode, Steps::Unchanged, "Next", true, true, 1, nullptr},
    {kBurn, Steps::Shown, "Next", false, false, 2, "worker download"},
    {kPower, Steps::Shown, "Next", true, false, 3, "worker replug"},
    {kFinish, Steps::Hidden, "Finish", true, false, 3, nullptr},
};

TEST(WizardFlowPages, EachPageSetsItsFrameStepAndWorker) {
    for (const PageCase& c : kPages) {
        SCOPED_TRACE(c.page);
        FakeWindow window;
        CWizardFlow flow(window);
        window.flow = &flow;
        ASSERT_EQ(flow.SwitchPage(c.page), 1);
        EXPECT_EQ(flow.m_nCurPage, c.page);
        ASSERT_NE(window.frame, nullptr);
        EXPECT_EQ(window.frame->steps, c.steps);
        EXPECT_STREQ(window.frame->next, c.next);
        EXPECT_EQ(window.frame->nextShown, c.nextShown);
        EXPECT_EQ(window.frame->backShown, c.backShown);
        EXPECT_EQ(window.currentStep, c.step);
        EXPECT_EQ(CWizardFlow::StepOfPage(c.page), c.step);
        const auto workers = std::count_if(window.log.begin(), window.log.end(), [](const auto& l) {
            return l.rfind("worker ", 0) == 0;
        });
        EXPECT_EQ(workers, c.worker ? 1 : 0);
        if (c.worker) {
            EXPECT_TRUE(InOrder(window.log, {"page " + std::to_string(c.page), c.worker}));
        }
    }
}

TEST(WizardFlowPages, OutOfRangeIsRefusedAndChangesNothing) {
    for (int page : {-1, CWizardFlow::PAGE_FINISH + 1}) {
        FakeWindow window;
        CWizardFlow flow(window);
        window.flow = &flow;
        flow.SwitchPage(kMode);
        window.log.clear();
        EXPECT_EQ(flow.SwitchPage(page), 0);
        EXPECT_EQ(flow.m_nCurPage, kMode);
        EXPECT_TRUE(window.log.empty());
        EXPECT_EQ(CWizardFlow::PageFrame(page), nullptr);
    }
}

TEST(WizardFlowMessages, OthersAreNotTheWizards) {
    FakeWindow window;
    CWizardFlow flow(window);
    window.flow = &flow;
    for (unsigned message : {WM_USER, WM_USER + 2u, WM_USER + 7u, 0u})
        EXPECT_FALSE(flow.WindowProc(message, 0, 0)) << message;
    EXPECT_TRUE(window.log.empty());
}

// The current setting from the check's findings.
struct ModeCase {
    const char* fwVersion;
    const char* versionText;
    bool damaged;
    bool unfinished;
    uint16_t repairFw;
    bool mode;
};
const ModeCase kModes[] = {
    {"0803", "", false, false, 0, false},
    {"0813", "", false, false, 0, true},
    {"0803", "V8.1.3", false, false, 0, false}, // the word wins over the text
    {"0813", "V800", false, false, 0, true},
    {"", "V800", false, false, 0, false}, // fourth character "0"
    {"", "V8.1", false, false, 0, true},
    {"0A01", "V8.0.3", false, false, 0, false}, // fourth character "0"
    {"0A01", "123", false, false, 0, true},     // no fourth character
    {"", "", false, false, 0, true},
    {"0813", "", true, false, 0x0803, false}, // repair follows the backup
    {"0803", "", false, true, 0x0813, true},
    {"0803", "", true, true, 0, true}, // no backup: "Enable"
};

TEST(WizardFlowMode, DecidedFromWordTextOrBackup) {
    for (const ModeCase& c : kModes) {
        SCOPED_TRACE(std::string(c.fwVersion) + "/" + c.versionText);
        FakeWindow window;
        CWizardFlow flow(window);
        flow.m_strFwVersion = c.fwVersion;
        flow.m_strVersionText = c.versionText;
        flow.m_bDamaged = c.damaged;
        flow.m_bUnfinishedBurn = c.unfinished;
        flow.m_wRepairFw = c.repairFw;
        flow.m_bCurrentMode = !c.mode;
        EXPECT_EQ(flow.NeedsRepair(), c.damaged || c.unfinished);
        EXPECT_EQ(flow.DecideCurrentMode(), c.mode);
        EXPECT_EQ(flow.m_bCurrentMode, c.mode);
    }
}

TEST(WizardFlowMode, ResetCheckForgetsTheRepair) {
    FakeWindow window;
    CWizardFlow flow(window);
    flow.m_bDamaged = true;
    flow.m_bUnfinishedBurn = true;
    flow.m_wRepairFw = 0x0803;
    flow.ResetCheck();
    EXPECT_FALSE(flow.NeedsRepair());
    EXPECT_EQ(flow.m_wRepairFw, 0);
}

} // namespace
