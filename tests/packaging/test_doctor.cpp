// dormane-cli doctor on the simulated speaker: each check's verdict for the machine state it
// is about, the JSON and text reports, and that the speaker is never written to.
#include "FakeLogind.h"
#include "ShellRunner.h"

#include "ImageBuilder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

using testsupport::FakeLogind;
using testsupport::PrivateBus;

namespace {

namespace fs = std::filesystem;

const std::string kStandbyPath = "/pm/pm_firmware/pelko_zuro/pelko_z_standby_V8.13_000E6094h.bin";
const std::string kNonStandbyPath =
    "/pm/pm_firmware/pelko_zuro/pelko_z_non_standby_V8.03_000E4712h.bin";
const std::vector<std::string> kCheckIds = {
    "usb",         "speaker",       "access",  "firmware",        "udev-rule",      "settings",
    "temp-folder", "backup-folder", "network", "firmware-server", "sleep-inhibitor"};

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct DoctorRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    nlohmann::json json;
    // The check with the given id; a null JSON when it is missing.
    nlohmann::json Check(const std::string& id) const {
        if (json.is_object() && json.contains("checks"))
            for (const auto& c : json["checks"])
                if (c["id"] == id)
                    return c;
        return nullptr;
    }
    std::string Verdict(const std::string& id) const {
        const auto c = Check(id);
        return c.is_null() ? "(missing)" : c["verdict"].get<std::string>();
    }
    std::string Message(const std::string& id) const {
        const auto c = Check(id);
        return c.is_null() ? "(missing)" : c["message"].get<std::string>();
    }
};

// A private home for one run: XDG folders, TMPDIR and a firmware mirror with the two sample
// images, all below one scratch folder; no logind unless a test asks for one.
class DoctorTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dormane-doctor-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        fs::create_directories(m_dir + "/tmp");
        m_env = {{"XDG_CONFIG_HOME", m_dir + "/config"},
                 {"XDG_STATE_HOME", m_dir + "/state"},
                 {"XDG_DATA_HOME", m_dir + "/data"},
                 {"TMPDIR", m_dir + "/tmp"},
                 {"DORMANE_LOGIND_BUS_ADDRESS", "none"}};
        m_mirror = m_dir + "/mirror";
        ResetMirror();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // The mirror with both good images.
    void ResetMirror() {
        std::error_code ec;
        fs::remove_all(m_mirror, ec);
        WriteMirrorImage(kStandbyPath, dormane::imagebuilder::BuildSampleImage(0x0813));
        WriteMirrorImage(kNonStandbyPath, dormane::imagebuilder::BuildSampleImage(0x0803));
    }
    void WriteMirrorImage(const std::string& path, const std::vector<uint8_t>& bytes) {
        fs::create_directories(fs::path(m_mirror + path).parent_path());
        ASSERT_TRUE(dormane::imagebuilder::WriteFile(m_mirror + path, bytes));
    }
    void WriteSettings(const std::string& text) {
        fs::create_directories(m_dir + "/config/Voxtrel");
        std::ofstream(m_dir + "/config/Voxtrel/FWUpdateTool.conf") << text;
    }

    // Runs "doctor --json" (or plain with json false) with the scenario and extra arguments.
    DoctorRun Run(const std::string& scenario, const std::string& extra = "",
                  bool json = true) const {
        std::string command = "env";
        for (const auto& [name, value] : m_env)
            command += " " + name + "=" + Quote(value);
        command += " " + Quote(DORMANE_CLI_PATH) + " doctor" + (json ? " --json" : "") +
                   " --simulate=" + Quote(scenario) + " --firmware-base-url " +
                   Quote("file://" + m_mirror) + " " + extra + " 2>" + Quote(m_dir + "/stderr");
        DoctorRun run;
        const testsupport::CliResult result = testsupport::RunShell(command);
        run.out = result.out;
        run.exitCode = result.exitCode;
        run.err = ReadAll(m_dir + "/stderr");
        if (json)
            run.json = nlohmann::json::parse(run.out, nullptr, false);
        return run;
    }

    std::string m_dir;
    std::string m_mirror;
    std::map<std::string, std::string> m_env;
};

TEST_F(DoctorTest, ReportIsOneObjectWithEveryCheckInOrderAndAStatusThatFollowsTheFailures) {
    const DoctorRun run = Run("clock=virtual");
    ASSERT_TRUE(run.json.is_object()) << run.out;
    ASSERT_EQ(run.json["checks"].size(), kCheckIds.size()) << run.out;
    int failed = 0, warned = 0;
    for (size_t i = 0; i < kCheckIds.size(); ++i) {
        const auto& c = run.json["checks"][i];
        EXPECT_EQ(c["id"], kCheckIds[i]);
        ASSERT_TRUE(c["title"].is_string() && c["message"].is_string()) << c;
        EXPECT_FALSE(c["message"].get<std::string>().empty()) << c;
        const std::string verdict = c["verdict"];
        EXPECT_TRUE(verdict == "ok" || verdict == "warn" || verdict == "fail" || verdict == "skip")
            << c;
        // A problem always comes with what to do about it.
        if (verdict == "fail" || verdict == "warn") {
            EXPECT_TRUE(c["advice"].is_string() && !c["advice"].get<std::string>().empty()) << c;
        }
        failed += verdict == "fail";
        warned += verdict == "warn";
    }
    EXPECT_EQ(run.json["failed"], failed);
    EXPECT_EQ(run.json["warnings"], warned);
    EXPECT_EQ(run.json["status"], failed ? 1 : 0);
    EXPECT_EQ(run.exitCode, failed ? 1 : 0);
}

// The checks that depend on the simulated speaker and the private folders alone: the
// network and the udev rule depend on the machine and are left out.
struct MachineCase {
    const char* name;
    const char* scenario;
    std::map<std::string, std::string> verdicts;
    std::map<std::string, std::string> messageParts; // id -> text its message contains
};

void PrintTo(const MachineCase& c, std::ostream* os) {
    *os << c.name;
}

class DoctorVerdicts : public DoctorTest, public ::testing::WithParamInterface<MachineCase> {};

TEST_P(DoctorVerdicts, EachCheckJudgesItsPart) {
    const MachineCase& c = GetParam();
    const DoctorRun run = Run(c.scenario);
    ASSERT_TRUE(run.json.is_object()) << run.out << run.err;
    for (const auto& [id, verdict] : c.verdicts)
        EXPECT_EQ(run.Verdict(id), verdict) << id << ": " << run.Message(id);
    for (const auto& [id, part] : c.messageParts)
        EXPECT_NE(run.Message(id).find(part), std::string::npos) << id << ": " << run.Message(id);
    for (const auto& [id, verdict] : c.verdicts)
        if (verdict == "fail") {
            EXPECT_EQ(run.exitCode, 1) << "a failed check must fail the run: " << id;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Speakers, DoctorVerdicts,
    ::testing::Values(
        MachineCase{"SpeakerReady",
                    "clock=virtual",
                    {{"usb", "ok"},
                     {"speaker", "ok"},
                     {"access", "ok"},
                     {"firmware", "ok"},
                     {"settings", "ok"},
                     {"temp-folder", "ok"},
                     {"backup-folder", "ok"},
                     {"firmware-server", "ok"},
                     {"sleep-inhibitor", "warn"}},
                    {{"usb", "simulated backend"},
                     {"speaker", "USB 0D8C:0082, release v8.13"},
                     {"firmware", "firmware 0813: auto-standby enabled"},
                     {"settings", "the diagnostic log is off"},
                     {"firmware-server", "answers with both images (firmware 0813 and 0803)"},
                     {"sleep-inhibitor", "DORMANE_LOGIND_BUS_ADDRESS is \"none\""}}},
        MachineCase{"OtherProductAndRelease",
                    "pid=0x0083,fw=0x0803,clock=virtual",
                    {{"usb", "ok"}, {"speaker", "ok"}, {"access", "ok"}},
                    {{"speaker", "USB 0D8C:0083, release v8.03"}}},
        // A burn that was cut off leaves no valid image: a failed check, not "ok".
        MachineCase{"DamagedFirmware",
                    "broken,clock=virtual",
                    {{"access", "ok"}, {"firmware", "fail"}},
                    {{"firmware", "firmware is damaged"}}},
        MachineCase{"NoSpeaker",
                    "absent",
                    {{"usb", "ok"}, {"speaker", "fail"}, {"access", "skip"}, {"firmware", "skip"}},
                    {{"speaker", "no device of vendor 0D8C"}}},
        MachineCase{"NoUsb",
                    "no-driver",
                    {{"usb", "fail"}, {"speaker", "skip"}, {"access", "skip"}},
                    {{"usb", "no USB subsystem"}}}),
    [](const auto& info) { return info.param.name; });

TEST_F(DoctorTest, FirmwareServerMustHoldBothValidImagesOfTheRightVersions) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* messagePart;
    } cases[] = {
        {"standby image missing", [&] { fs::remove(m_mirror + kStandbyPath); },
         "cannot be fetched"},
        {"answer is no image",
         [&] {
             WriteMirrorImage(kNonStandbyPath, {'<', 'h', 't', 'm', 'l', '>'});
         },
         "answers, but not with a valid firmware image"},
        {"images swapped",
         [&] {
             WriteMirrorImage(kStandbyPath, dormane::imagebuilder::BuildSampleImage(0x0803));
             WriteMirrorImage(kNonStandbyPath, dormane::imagebuilder::BuildSampleImage(0x0813));
         },
         "holds firmware 0803, not 0813"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetMirror();
        c.arrange();
        const DoctorRun run = Run("clock=virtual");
        EXPECT_EQ(run.Verdict("firmware-server"), "fail");
        EXPECT_NE(run.Message("firmware-server").find(c.messagePart), std::string::npos)
            << run.Message("firmware-server");
        EXPECT_EQ(run.exitCode, 1);
    }
}

TEST_F(DoctorTest, TheDownloadedImageABurnReadsIsLeftAlone) {
    const std::string image = m_dir + "/data/Temp/VanteqUpdate.bin";
    fs::create_directories(m_dir + "/data/Temp");
    std::ofstream(image) << "kept";
    const DoctorRun run = Run("clock=virtual");
    EXPECT_EQ(run.Verdict("firmware-server"), "ok") << run.Message("firmware-server");
    EXPECT_EQ(ReadAll(image), "kept");
}

TEST_F(DoctorTest, FoldersThatCannotBeCreatedFail) {
    // A regular file where a folder has to be: no folder can be made below it, even by root.
    std::ofstream(m_dir + "/blocker") << "x";
    m_env["XDG_STATE_HOME"] = m_dir + "/blocker";
    m_env["XDG_DATA_HOME"] = m_dir + "/blocker";
    const DoctorRun run = Run("clock=virtual");
    EXPECT_EQ(run.Verdict("backup-folder"), "fail");
    EXPECT_NE(run.Message("backup-folder").find(m_dir + "/blocker/dormane/backups"),
              std::string::npos)
        << run.Message("backup-folder");
    EXPECT_EQ(run.Verdict("temp-folder"), "fail");
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(DoctorTest, SettingsReportTheLogSwitches) {
    struct Case {
        const char* name;
        const char* settings;
        bool logIsALink;
        const char* verdict;
        std::string messagePart;
    } cases[] = {
        {"log off", "[General]\nEnableLog=0\n", false, "ok", "the diagnostic log is off"},
        {"log to file", "[General]\nEnableLog=1\nLogType=1\n", false, "ok",
         "the diagnostic log is on, written to " + m_dir + "/tmp/VXFWUpdate.log"},
        {"log to the journal", "[General]\nEnableLog=1\nLogType=0\n", false, "ok",
         "to the systemd journal at debug priority"},
        {"log file is a link", "[General]\nEnableLog=1\nLogType=1\n", true, "warn",
         "is not a regular file of this user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSettings(c.settings);
        const std::string log = m_dir + "/tmp/VXFWUpdate.log";
        fs::remove(log);
        if (c.logIsALink)
            fs::create_symlink(m_dir + "/elsewhere", log);
        const DoctorRun run = Run("clock=virtual");
        EXPECT_EQ(run.Verdict("settings"), c.verdict) << run.Message("settings");
        EXPECT_NE(run.Message("settings").find(c.messagePart), std::string::npos)
            << run.Message("settings");
    }
}

TEST_F(DoctorTest, SleepInhibitorIsOkWhenLogindGrantsTheLockAndTheLockIsGivenBack) {
    PrivateBus bus;
    ASSERT_FALSE(bus.Address().empty()) << "dbus-daemon did not start";
    FakeLogind logind(bus.Address(), FakeLogind::Answer::Grant);
    ASSERT_TRUE(logind.Ready());
    m_env["DORMANE_LOGIND_BUS_ADDRESS"] = bus.Address();
    const DoctorRun run = Run("clock=virtual");
    EXPECT_EQ(run.Verdict("sleep-inhibitor"), "ok") << run.Message("sleep-inhibitor");
    const auto calls = logind.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].what, "sleep:shutdown:idle");
    EXPECT_EQ(calls[0].mode, "block");
    EXPECT_TRUE(logind.WaitUntilAllReleased());
}

TEST_F(DoctorTest, NothingIsWrittenToTheSpeaker) {
    const std::string eeprom = m_dir + "/speaker.eeprom";
    const DoctorRun first = Run("clock=virtual,eeprom-file=" + eeprom, "--trace");
    ASSERT_EQ(first.Verdict("access"), "ok") << first.err;
    const std::string before = ReadAll(eeprom);
    ASSERT_FALSE(before.empty());
    const DoctorRun run = Run("clock=virtual,eeprom-file=" + eeprom, "--trace");
    EXPECT_EQ(run.Verdict("access"), "ok");
    EXPECT_EQ(run.err.find("i2c write"), std::string::npos) << run.err;
    EXPECT_EQ(ReadAll(eeprom), before);
}

TEST_F(DoctorTest, TextReportGivesEveryProblemWhatToDo) {
    const DoctorRun run = Run("absent", "", false);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("[FAIL] Speaker: no device of vendor 0D8C on the USB bus\n"
                           "       what to do: Connect the speaker by USB"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("[skip] Speaker access: not tried: no speaker found\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("[ ok ] Firmware server: file://"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" problem(s), "), std::string::npos) << run.out;
}

} // namespace
