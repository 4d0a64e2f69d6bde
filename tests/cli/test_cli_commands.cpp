// dormane-cli status, flash, backup and set against the simulated speaker.
#include "CliFixture.h"

using namespace clitest;

namespace {

struct StatusCase {
    const char* name;
    const char* scenario;
    int exitCode;
    nlohmann::json expected; // keys that must have these values
};

class CliStatus : public CliOnSimulator, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(CliStatus, ReportsTheSpeaker) {
    const auto r = RunWithEnv("status --json", GetParam().scenario);
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.out << Stderr();
    const auto j = nlohmann::json::parse(r.out);
    for (const char* key : {"status", "attached", "fwVersion", "autoStandby", "eepromSize",
                            "chipVer", "eepromValid", "vid", "pid", "versionText"})
        EXPECT_TRUE(j.contains(key)) << key;
    for (auto& [key, value] : GetParam().expected.items())
        EXPECT_EQ(j[key], value) << key << " in " << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Speakers, CliStatus,
    ::testing::Values(
        StatusCase{"Enabled",
                   "fw=0813",
                   0,
                   {{"status", 0},
                    {"attached", true},
                    {"fwVersion", "0813"},
                    {"autoStandby", "enabled"},
                    {"eepromSize", 16384},
                    {"chipVer", 0},
                    {"eepromValid", true},
                    {"vid", 0x0D8C},
                    {"pid", 0x0082},
                    {"versionText", nullptr}}},
        StatusCase{"Disabled", "fw=0803", 0, {{"fwVersion", "0803"}, {"autoStandby", "disabled"}}},
        StatusCase{
            "Unsupported", "fw=0800", 0, {{"fwVersion", "0800"}, {"autoStandby", "unsupported"}}},
        StatusCase{
            "OtherProductFoundByDiscovery",
            "pid=00A1,fw=0803",
            0,
            {{"attached", true}, {"pid", 0x00A1}, {"versionText", "v8.03"}, {"fwVersion", "0803"}}},
        StatusCase{"Absent",
                   "absent",
                   16,
                   {{"status", 16},
                    {"attached", false},
                    {"fwVersion", nullptr},
                    {"autoStandby", nullptr}}},
        StatusCase{"UnknownRevision", "string50=XYZ", 16, {{"attached", false}, {"chipVer", 2}}},
        // No valid image: the firmware is damaged, and there is no version to show.
        StatusCase{"BrokenContent",
                   "broken",
                   128,
                   {{"status", 128},
                    {"attached", true},
                    {"eepromValid", false},
                    {"damaged", true},
                    {"fwVersion", nullptr}}}),
    [](const auto& info) { return info.param.name; });

TEST_F(CliOnSimulator, FlashWritesTheImageAndShowsRisingProgress) {
    RunWithEnv("status", "fw=0813"); // the EEPROM file, with the sample image
    // A small image on the real clock: a burn of a second or two, long enough for the
    // progress display to see it under way (on the virtual clock it may be over at once).
    dormane::imagebuilder::ImageSpec layout;
    layout.descriptors = {dormane::imagebuilder::Descriptor::Image(0x40, 0x140)};
    layout.fwVer = 0x0803;
    const auto image = dormane::imagebuilder::Build(layout);
    const std::string file = testsupport::WriteImage(dir_, "small.bin", image);
    const auto r = RunWithEnv("flash " + Quote(file), "clock=real");
    ASSERT_EQ(r.exitCode, 0) << r.out << Stderr();
    const auto eeprom = Bytes(eeprom_);
    ASSERT_EQ(eeprom.size(), 16384u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), eeprom.begin()));
    // Not a terminal: one plain line per new percentage, ending at 100.
    int last = -1;
    std::istringstream in(r.out);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        int p = 0;
        if (std::sscanf(line.c_str(), "progress %d%%", &p) == 1) {
            EXPECT_GT(p, last);
            last = p;
            ++lines;
        }
    }
    EXPECT_EQ(last, 100);
    EXPECT_GT(lines, 1);
    EXPECT_NE(r.out.find("Switch the speaker off and on again"), std::string::npos);
}

TEST_F(CliOnSimulator, FlashJsonLinesEndWithTheResult) {
    const auto r = RunWithEnv("--json flash " + Quote(kNonStandby), "fw=0813");
    ASSERT_EQ(r.exitCode, 0) << r.out << Stderr();
    const auto lines = JsonLines(r.out);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front()["event"], "started");
    const std::string backup = lines.front()["backup"].get<std::string>();
    EXPECT_EQ(backup.rfind(DataFile("backups"), 0), 0u) << backup;
    EXPECT_EQ(dormane::files::BaseName(backup).rfind("backup-", 0), 0u) << backup;
    EXPECT_EQ(lines.back()["event"], "result");
    EXPECT_EQ(lines.back()["state"], 1024);
    EXPECT_EQ(lines.back()["status"], 0);
}

struct RefusalCase {
    const char* name;
    std::function<std::string(const TempDir&)> file;
    int exitCode;
};

class CliFlashRefusal : public CliOnSimulator, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CliFlashRefusal, WritesNothingAndExitsWithTheStatus) {
    RunWithEnv("status"); // creates the EEPROM file with its default content
    const auto before = Bytes(eeprom_);
    const auto r = RunWithEnv("flash " + Quote(GetParam().file(dir_)));
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.out << Stderr();
    EXPECT_EQ(Bytes(eeprom_), before);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CliFlashRefusal,
    ::testing::Values(RefusalCase{"Missing", [](const TempDir& d) { return d / "none.bin"; }, 32},
                      RefusalCase{"Invalid",
                                  [](const TempDir& d) {
                                      return testsupport::WriteImage(
                                          d, "bad.bin",
                                          dormane::imagebuilder::BuildSampleImageBroken(0x0803));
                                  },
                                  128},
                      RefusalCase{"Foreign",
                                  [](const TempDir& d) {
                                      auto spec = dormane::imagebuilder::SampleSpec(0x0803);
                                      spec.pid = 0x00A1;
                                      return testsupport::WriteImage(
                                          d, "other.bin", dormane::imagebuilder::Build(spec));
                                  },
                                  64}),
    [](const auto& info) { return info.param.name; });

TEST_F(CliOnSimulator, FlashWithAnUnplugEndsWithThree) {
    const auto r = RunWithEnv("flash " + Quote(kNonStandby), "unplug-after=10000");
    EXPECT_EQ(r.exitCode, 3) << r.out << Stderr();
}

TEST_F(CliOnSimulator, NoSpeakerIsSixteen) {
    const auto r = RunWithEnv("flash " + Quote(kNonStandby), "absent");
    EXPECT_EQ(r.exitCode, 16);
    EXPECT_NE(Stderr().find("No speaker found"), std::string::npos) << Stderr();
}

TEST_F(CliOnSimulator, BackupSavesTheImageAndNeverReplacesAFile) {
    const std::string out = dir_ / "saved.bin";
    auto r = RunWithEnv("backup " + Quote(out), "fw=0803");
    ASSERT_EQ(r.exitCode, 0) << r.out << Stderr();
    const auto saved = Bytes(out);
    const auto expected = dormane::imagebuilder::BuildSampleImage(0x0803);
    EXPECT_EQ(saved, expected);

    r = RunWithEnv("backup " + Quote(out), "fw=0803");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Bytes(out), saved);

    const std::string full = dir_ / "full.bin";
    r = RunWithEnv("backup --full " + Quote(full));
    ASSERT_EQ(r.exitCode, 0) << Stderr();
    EXPECT_EQ(Bytes(full), Bytes(eeprom_));
}

TEST_F(CliOnSimulator, BackupOfInvalidContentNeedsFull) {
    const auto r = RunWithEnv("backup " + Quote(dir_ / "x.bin"), "broken");
    EXPECT_EQ(r.exitCode, 128);
    EXPECT_NE(Stderr().find("--full"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "x.bin"));
}

TEST_F(CliOnSimulator, SetFromAFileMirrorWritesTheOtherImage) {
    const auto r =
        RunWithEnv("set enable --firmware-base-url " + Quote("file://" + kFirmwareDir), "fw=0803");
    ASSERT_EQ(r.exitCode, 0) << r.out << Stderr();
    const auto image = Bytes(kStandby);
    const auto eeprom = Bytes(eeprom_);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), eeprom.begin()));
    // A second run finds the new setting and has nothing to do.
    const auto again = RunWithEnv("--json status");
    EXPECT_EQ(nlohmann::json::parse(again.out)["autoStandby"], "enabled");
    const auto unchanged =
        RunWithEnv("set enable --firmware-base-url " + Quote("file://" + kFirmwareDir));
    EXPECT_EQ(unchanged.exitCode, 0);
    EXPECT_NE(unchanged.out.find("already enabled"), std::string::npos) << unchanged.out;
}

TEST_F(CliOnSimulator, SetWithAMissingMirrorIsADownloadFailure) {
    RunWithEnv("status", "fw=0803");
    const auto before = Bytes(eeprom_);
    const auto r =
        RunWithEnv("set enable --firmware-base-url " + Quote("file://" + (dir_ / "nowhere")));
    EXPECT_EQ(r.exitCode, 4) << r.out;
    EXPECT_NE(Stderr().find("The download failed"), std::string::npos) << Stderr();
    EXPECT_NE(Stderr().find("(code 53)"), std::string::npos) << Stderr();
    EXPECT_EQ(Bytes(eeprom_), before);
}

TEST_F(CliOnSimulator, SetRefusesUnsupportedFirmware) {
    const auto r =
        RunWithEnv("set disable --firmware-base-url " + Quote("file://" + kFirmwareDir), "fw=0800");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(Stderr().find("does not support"), std::string::npos) << Stderr();
}

// Data on standard output, messages on standard error; with --json one JSON object whose
// status is the exit status, on every path.
struct JsonPathCase {
    const char* name;
    const char* args;
    const char* scenario;
    int exitCode;
    const char* error; // part of the "error" member; nullptr: none
};

void PrintTo(const JsonPathCase& c, std::ostream* os) {
    *os << c.name;
}

class CliJsonPaths : public CliOnSimulator, public ::testing::WithParamInterface<JsonPathCase> {};

TEST_P(CliJsonPaths, EndWithAnObjectThatCarriesTheStatus) {
    const JsonPathCase& c = GetParam();
    const auto r = RunWithEnv(std::string("--json ") + c.args, c.scenario);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << Stderr();
    const auto lines = JsonLines(r.out); // throws, failing the test, on anything but JSON
    ASSERT_FALSE(lines.empty()) << Stderr();
    EXPECT_EQ(lines.back()["status"], c.exitCode) << r.out;
    if (c.error) {
        ASSERT_TRUE(lines.back()["error"].is_string()) << r.out;
        EXPECT_NE(lines.back()["error"].get<std::string>().find(c.error), std::string::npos)
            << r.out;
        EXPECT_NE(Stderr().find(c.error), std::string::npos) << Stderr();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliJsonPaths,
    ::testing::Values(
        JsonPathCase{"Status", "status", "fw=0813", 0, nullptr},
        JsonPathCase{"NoSpeaker", "status", "absent", 16, "No speaker found"},
        JsonPathCase{"UnknownCommand", "frobnicate", "", 2, "unknown command 'frobnicate'"},
        JsonPathCase{"UnknownOption", "status --bogus", "", 2, "--bogus"},
        JsonPathCase{"BadPid", "status --pid twelve", "", 2, "--pid takes a product ID"},
        JsonPathCase{"BadScenario", "status", "i2c-khz=fast", 2, "i2c-khz"},
        JsonPathCase{"MissingImage", "flash /no/such/image.bin", "", 32, "cannot be opened"},
        JsonPathCase{"FlashWithoutSpeaker", "flash /no/such/image.bin", "absent", 16,
                     "No speaker found"},
        JsonPathCase{"BackupOfADamagedSpeaker", "backup x.bin", "broken", 128, "--full"},
        JsonPathCase{"DumpBadOffset", "dump zero 16", "", 2, "OFFSET takes a position"},
        JsonPathCase{"UnsupportedFirmware", "set disable --file /x.bin", "fw=0800", 1,
                     "does not support"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliOnSimulator, UnknownCommandListsTheCommands) {
    const auto r = RunWithEnv("frobnicate");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(Stderr().find("unknown command 'frobnicate'; the commands are verify, status, "),
              std::string::npos)
        << Stderr();
}

// set --wait-replug after a verified burn: the replug event says whether the speaker came back
// and what it runs; the exit status whether the setting asked for is in effect.
struct ReplugCase {
    const char* name;
    const char* scenario;
    const char* wait;
    int exitCode;
    nlohmann::json replug; // keys of the replug event that must have these values
};

class CliWaitReplug : public CliOnSimulator, public ::testing::WithParamInterface<ReplugCase> {};

TEST_P(CliWaitReplug, ReportsTheSettingInEffect) {
    const auto r = RunWithEnv("--json set enable --file " + Quote(kStandby) + " " + GetParam().wait,
                              GetParam().scenario);
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.out << Stderr();
    // The burn itself was verified in every case: the EEPROM holds the image.
    const auto image = Bytes(kStandby);
    const auto eeprom = Bytes(eeprom_);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), eeprom.begin()));
    const auto lines = JsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    const nlohmann::json& last = lines.back();
    EXPECT_EQ(last["event"], "replug") << r.out;
    EXPECT_EQ(last["status"], GetParam().exitCode);
    for (auto& [key, value] : GetParam().replug.items())
        EXPECT_EQ(last[key], value) << key << " in " << last.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Speakers, CliWaitReplug,
    ::testing::Values(
        ReplugCase{"BackWithTheNewFirmware",
                   "fw=0803,replug-after-ms=500",
                   "--wait-replug",
                   0,
                   {{"left", true},
                    {"back", true},
                    {"running", "0813"},
                    {"eeprom", "0813"},
                    {"inEffect", true}}},
        // rev= pins the release number: the speaker comes back still running 8.03.
        ReplugCase{"BackWithTheOldFirmware",
                   "fw=0803,rev=0803,replug-after-ms=500",
                   "--wait-replug=30",
                   7,
                   {{"back", true}, {"running", "0803"}, {"eeprom", "0813"}, {"inEffect", false}}},
        // Switched off after the wait has ended: not seen leaving.
        ReplugCase{"NotSwitchedOffInTime",
                   "fw=0803,replug-after-ms=20000",
                   "--wait-replug=10",
                   7,
                   {{"left", false}, {"back", false}, {"running", nullptr}, {"inEffect", false}}}),
    [](const ::testing::TestParamInfo<ReplugCase>& info) { return info.param.name; });

TEST_F(CliOnSimulator, WaitReplugTakesSecondsOnly) {
    RunWithEnv("status", "fw=0803");
    const auto before = Bytes(eeprom_);
    const auto r = RunWithEnv("set enable --file " + Quote(kStandby) + " --wait-replug=0");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(Stderr().find("--wait-replug takes a number of seconds"), std::string::npos)
        << Stderr();
    EXPECT_EQ(Bytes(eeprom_), before);
}

TEST_F(CliOnSimulator, BadScenarioIsAUsageErrorNamingTheKey) {
    const auto r = RunWithEnv("status", "i2c-khz=fast");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(Stderr().find("i2c-khz"), std::string::npos) << Stderr();
}

} // namespace
