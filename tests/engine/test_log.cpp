#include "DebugOutput.h"
#include "FWUpdateInterface.h"
#include "Log.h"
#include "Settings.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <thread>

using testsupport::LogCapture;
using testsupport::ReadText;
using testsupport::TempDir;
using testsupport::WriteText;

namespace {

struct LineCase {
    const char* name;
    int month, day, hour, minute, second;
    const char* expected;
};

class LogLineFormat : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogLineFormat, HasNoLeadingZeros) {
    const LineCase& c = GetParam();
    std::tm t{};
    t.tm_mon = c.month - 1;
    t.tm_mday = c.day;
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    t.tm_sec = c.second;
    EXPECT_EQ(FormatLogLine(t, "msg"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, LogLineFormat,
    ::testing::Values(LineCase{"July", 7, 3, 9, 5, 3, "[7/3 9:5:3] msg\n"},
                      LineCase{"NewYearsEve", 12, 31, 23, 59, 59, "[12/31 23:59:59] msg\n"},
                      LineCase{"Midnight", 1, 1, 0, 0, 0, "[1/1 0:0:0] msg\n"}),
    [](const auto& info) { return info.param.name; });

TEST(LogTruncation, CountsCharactersNotBytes) {
    EXPECT_EQ(TruncateLogMessage(std::string(259, 'a')).size(), 259u);
    EXPECT_EQ(TruncateLogMessage(std::string(300, 'a')).size(), 259u);
    std::string accented;
    for (int i = 0; i < 300; ++i)
        accented += "\xC3\xA9"; // é, two bytes
    const std::string cut = TruncateLogMessage(accented);
    EXPECT_EQ(cut.size(), 2u * 259u) << "a character must never be split";
}

TEST(WriteLog, AppendsTimestampedLinesToTheFile) {
    LogCapture log;
    WriteLog("first %d", 1);
    WriteLog("second 0x%X", 0x40u);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{"first 1", "second 0x40"}));
}

TEST(WriteLog, LongMessageIsCutTo259Characters) {
    LogCapture log;
    WriteLog("%s", std::string(400, 'x').c_str());
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(log.Messages()[0].size(), 259u);
}

TEST(WriteLog, DisabledWritesNothing) {
    TempDir dir;
    const LogSettings previous = GetLogSettings();
    SetLogSettings({false, true, dir / "x.log"});
    WriteLog("nothing");
    SetLogSettings(previous);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.log"));
}

// LogType 0: the debugger output, which a user never sees on the terminal unless asked.
TEST(WriteLog, DebuggerOutputModeWritesTheMessageAloneAndNoFile) {
    TempDir dir;
    const LogSettings previous = GetLogSettings();
    SetLogSettings({true, false, dir / "x.log"});
    ::testing::internal::CaptureStderr();
    WriteLog("UpdateManager::Initialize  return 0x%X", 0u);
    const std::string quiet = ::testing::internal::GetCapturedStderr();
    dormane::SetDebugOutputEcho(true);
    ::testing::internal::CaptureStderr();
    WriteLog("UpdateManager::Initialize  return 0x%X", 0u);
    const std::string echoed = ::testing::internal::GetCapturedStderr();
    dormane::SetDebugOutputEcho(false);
    SetLogSettings(previous);
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(echoed, "UpdateManager::Initialize  return 0x0\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "x.log"));
}

TEST(WriteLog, DoesNotFollowASymbolicLink) {
    TempDir dir;
    WriteText(dir / "victim", "keep");
    ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / "x.log").c_str()), 0);
    const LogSettings previous = GetLogSettings();
    SetLogSettings({true, true, dir / "x.log"});
    WriteLog("redirected?");
    SetLogSettings(previous);
    EXPECT_EQ(ReadText(dir / "victim"), "keep");
}

TEST(WriteLog, RefusesAFileOwnedByAnotherUser) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    TempDir dir;
    WriteText(dir / "x.log", "");
    ASSERT_EQ(chown((dir / "x.log").c_str(), 65534, 65534), 0);
    const LogSettings previous = GetLogSettings();
    SetLogSettings({true, true, dir / "x.log"});
    WriteLog("planted?");
    SetLogSettings(previous);
    EXPECT_EQ(ReadText(dir / "x.log"), "");
}

TEST(WriteLog, LinesFromTwoThreadsStayWhole) {
    LogCapture log;
    auto writer = [](char c) {
        const std::string text(200, c);
        for (int i = 0; i < 200; ++i)
            WriteLog("%s", text.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const auto lines = log.Messages();
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines)
        EXPECT_TRUE(line == std::string(200, 'a') || line == std::string(200, 'b')) << line;
}

// The facade's constructor: settings file, log switches, old log removed.
class FacadeStartup : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = GetLogSettings();
        Remember("XDG_CONFIG_HOME");
        Remember("TMPDIR");
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        std::filesystem::create_directories(dir_ / "tmp");
        setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    }
    void TearDown() override {
        for (auto& [name, value] : env_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        SetLogSettings(saved_);
    }
    void Remember(const char* name) {
        const char* v = std::getenv(name);
        env_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::string ConfFile() const { return dir_ / "config/Voxtrel/FWUpdateTool.conf"; }
    std::string LogFile() const { return dir_ / "tmp/VXFWUpdate.log"; }
    void WriteConf(const std::string& text) {
        std::filesystem::create_directories(dir_ / "config/Voxtrel");
        WriteText(ConfFile(), text);
    }

    TempDir dir_;
    LogSettings saved_;
    std::vector<std::pair<std::string, std::optional<std::string>>> env_;
};

struct SwitchCase {
    const char* name;
    const char* conf; // nullptr: no settings file at all
    bool enabled;
    bool toFile;
};

class FacadeSwitches : public FacadeStartup, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(FacadeSwitches, ReadsTheSwitchesAndStartsAFreshLog) {
    const SwitchCase& c = GetParam();
    if (c.conf)
        WriteConf(c.conf);
    WriteText(LogFile(), "old run\n");

    FWUpdateInterface facade;

    const LogSettings s = GetLogSettings();
    EXPECT_EQ(s.enabled, c.enabled);
    EXPECT_EQ(s.toFile, c.toFile);
    EXPECT_EQ(s.filePath, LogFile());
    EXPECT_TRUE(std::filesystem::exists(ConfFile())) << "the settings file is created when missing";
    EXPECT_FALSE(std::filesystem::exists(LogFile())) << "the previous run's log is deleted";
}

INSTANTIATE_TEST_SUITE_P(
    Settings, FacadeSwitches,
    ::testing::Values(
        SwitchCase{"NoFile", nullptr, false, true}, SwitchCase{"EmptyFile", "", false, true},
        SwitchCase{"EnabledToFile", "[General]\nEnableLog=1\n", true, true},
        SwitchCase{"EnabledToStderr", "[General]\nEnableLog=1\nLogType=0\n", true, false},
        SwitchCase{"Disabled", "[General]\nEnableLog=0\nLogType=0\n", false, false},
        SwitchCase{"HexValue", "[General]\nEnableLog=0x10\n", true, true},
        SwitchCase{"Blanks", "[General]\n  EnableLog = 7 \n", true, true},
        SwitchCase{"NotANumber", "[General]\nEnableLog=yes\nLogType=abc\n", false, true},
        SwitchCase{"TooLarge", "[General]\nEnableLog=99999999999\n", false, true},
        SwitchCase{"OtherSection", "[Other]\nEnableLog=1\n", false, true},
        SwitchCase{"LaterSectionIgnored", "[General]\nLogType=0\n[X]\nLogType=1\n", false, false},
        // README's own example, and comments after values of both kinds.
        SwitchCase{"ReadmeExample",
                   "[General]\nEnableLog=1\nLogType=0     ; 1 = the log file, 0 = standard error\n",
                   true, false},
        SwitchCase{"HashAfterAValue", "[General]\nEnableLog=1 # on\nLogType=0\t# stderr\n", true,
                   false},
        SwitchCase{"CommentLines", "# switches\n; more\n[General]\n# EnableLog=0\nEnableLog=1\n",
                   true, true},
        SwitchCase{"LastValueWins", "[General]\nEnableLog=1\nEnableLog=0\n", false, true}),
    [](const auto& info) { return info.param.name; });

TEST_F(FacadeStartup, ReadsASettingsFileThatIsALink) {
    // A dotfile manager keeps the real file elsewhere and links it in.
    WriteText(dir_ / "dotfiles.conf", "[General]\nEnableLog=1\nLogType=0\n");
    std::filesystem::create_directories(dir_ / "config/Voxtrel");
    ASSERT_EQ(symlink((dir_ / "dotfiles.conf").c_str(), ConfFile().c_str()), 0);
    FWUpdateInterface facade;
    EXPECT_TRUE(GetLogSettings().enabled);
    EXPECT_FALSE(GetLogSettings().toFile);
    EXPECT_TRUE(std::filesystem::is_symlink(ConfFile()));
}

TEST_F(FacadeStartup, LeavesALinkInTheLogsPlaceAlone) {
    WriteText(dir_ / "elsewhere", "precious");
    ASSERT_EQ(symlink((dir_ / "elsewhere").c_str(), LogFile().c_str()), 0);
    FWUpdateInterface facade;
    EXPECT_TRUE(std::filesystem::is_symlink(LogFile()));
    EXPECT_EQ(ReadText(dir_ / "elsewhere"), "precious");
}

TEST_F(FacadeStartup, OperationsBeforeInitFailAndLogNothing) {
    WriteConf("[General]\nEnableLog=1\n");
    FWUpdateInterface facade;
    uint16_t version = 0xBEEF;
    int progress = -1;
    EXPECT_EQ(facade.AttachDevice(0x0D8C, 0x0082), 1);
    EXPECT_EQ(facade.GetFWVersion(&version), 1);
    EXPECT_EQ(facade.UpdateFirmware("/nonexistent.bin"), 1);
    EXPECT_EQ(facade.GteUpdateProgress(&progress), 1);
    EXPECT_EQ(facade.DetachDevice(), 1);
    EXPECT_EQ(version, 0xBEEF);
    EXPECT_EQ(progress, -1);
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(FacadeStartup, EnabledLogGoesToTheTempFolder) {
    WriteConf("[General]\nEnableLog=1\n");
    FWUpdateInterface facade;
    WriteLog("FWUpdateInterface::Init return 0x%X", 0u);
    const std::string text = ReadText(LogFile());
    EXPECT_NE(text.find("] FWUpdateInterface::Init return 0x0\n"), std::string::npos) << text;
    struct stat st {};
    ASSERT_EQ(stat(LogFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
