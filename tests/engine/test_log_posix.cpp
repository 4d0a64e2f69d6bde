// The log on Linux: the file's safety (links, other users' files) and the switches read from
// the settings file at start.
#include "FWUpdateInterface.h"
#include "Log.h"
#include "Settings.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using testsupport::ReadText;
using testsupport::TempDir;
using testsupport::WriteText;

namespace {

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
