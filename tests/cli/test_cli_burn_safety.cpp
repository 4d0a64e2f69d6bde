// dormane-cli as a hostile user and a flaky world meet it: two burns of one speaker at once,
// a burn killed outright, a damaged speaker, and images that are not the one asked for.
#include "BurnSafetyFixture.h"

#include <nlohmann/json.hpp>

using namespace burnsafety;

namespace {

// ---------------------------------------------------------------- one burn at a time

TEST_F(BurnSafety, ASecondBurnOfTheSameSpeakerIsRefusedAndTheFirstOneWins) {
    // The burn writes in a hundred steps that cross the EEPROM's pages, byte by byte up to
    // each page boundary: 2 KB take several seconds.
    const auto first = Image(0x800, 0x0803, 1);
    const auto second = Image(0x800, 0x0803, 2);
    const std::string firstFile = WriteImage("first.bin", first);
    const std::string secondFile = WriteImage("second.bin", second);
    // Slow enough that the first burn outlasts the second one's wait for the speaker.
    const auto burning = Background(
        {"--simulate=" + Scenario(true, "latency-us=600"), "flash", firstFile}, "first.err");
    ASSERT_TRUE(burning->WaitForLine("progress")) << burning->Output() << Stderr("first.err");

    // A second burn and a status at the same time: both wait a few seconds for the speaker,
    // then give up without touching it.
    const std::string holder = "PID " + std::to_string(burning->Id()) + " (dormane-cli)";
    const auto flash =
        Background({"--simulate=" + Scenario(true), "flash", secondFile}, "second.err");
    const auto status = Background({"--simulate=" + Scenario(true), "status"}, "status.err");
    EXPECT_EQ(flash->Wait(), 5) << flash->Output() << Stderr("second.err");
    EXPECT_NE(Stderr("second.err").find("busy: " + holder), std::string::npos)
        << Stderr("second.err");
    EXPECT_EQ(status->Wait(), 5) << status->Output() << Stderr("status.err");

    EXPECT_EQ(burning->Wait(), 0) << burning->Output() << Stderr("first.err");
    EXPECT_NE(burning->Output().find("written and verified"), std::string::npos);
    EXPECT_TRUE(StartsWith(Bytes(eeprom_), first));
    // Nothing of the refused image, nor a backup of it.
    std::error_code ec;
    size_t backups = 0;
    for (const auto& e :
         std::filesystem::directory_iterator(dormane::files::U8Path(BackupFolder()), ec)) {
        (void)e;
        ++backups;
    }
    EXPECT_EQ(backups, 1u);
}

TEST_F(BurnSafety, AKilledBurnLeavesAJournalThatNamesTheWayBack) {
    const auto before = Bytes(eeprom_);
    const std::string file = WriteImage("fw.bin", Image(0x2000, 0x0803, 4));
    {
        const auto cli = Background({"--simulate=" + Scenario(true), "flash", file}, "cli.err");
        ASSERT_TRUE(cli->WaitForLine("progress 5")) << cli->Output() << Stderr("cli.err");
        ASSERT_TRUE(cli->Kill()); // beyond any handler: as a power loss
        EXPECT_EQ(cli->Wait(), dormane::test::BackgroundProcess::kKilled);
    }
    // Half an image: the speaker's firmware is damaged, and the last burn did not finish.
    const auto status = Run("status", Scenario(false));
    EXPECT_EQ(status.exitCode, 128) << status.out << Stderr();
    EXPECT_NE(status.out.find("firmware is damaged"), std::string::npos) << status.out;
    const std::string told = Stderr();
    EXPECT_NE(told.find("did not finish"), std::string::npos) << told;

    // The exact command it names, run as it stands, puts the speaker back as it was.
    const std::string marker = "keep the speaker on and run: ";
    const size_t at = told.find(marker);
    ASSERT_NE(at, std::string::npos) << told;
    const std::string command =
        told.substr(at + marker.size(), told.find('\n', at) - (at + marker.size()));
    EXPECT_EQ(command.rfind("dormane-cli --simulate=", 0), 0u) << command;
    const auto restored = dormane::test::RunCommandLine(
        command, dormane::files::U8String(std::filesystem::path(DORMANE_CLI_PATH).parent_path()),
        Env());
    ASSERT_EQ(restored.exitCode, 0) << restored.out << restored.err;
    EXPECT_TRUE(StartsWith(Bytes(eeprom_), {before.begin(), before.begin() + 0x200}));
    const auto again = Run("status", Scenario(false));
    EXPECT_EQ(again.exitCode, 0) << again.out << Stderr();
    EXPECT_EQ(Stderr().find("did not finish"), std::string::npos) << Stderr();
}

TEST_F(BurnSafety, AFailedBurnNamesTheRestoreAndTheSameSetWorksAgain) {
    const std::string mirror = "--firmware-base-url " + Quote("file://" + kFirmwareDir);
    // The speaker vanishes in the middle of the writing.
    const auto failed = Run("set disable " + mirror, Scenario(false, "unplug-after=2500"));
    EXPECT_EQ(failed.exitCode, 3) << failed.out << Stderr();
    const std::string told = Stderr();
    EXPECT_NE(told.find("The burn failed"), std::string::npos) << told;
    EXPECT_NE(told.find("run: dormane-cli --simulate="), std::string::npos) << told;
    EXPECT_NE(told.find(" flash " + dormane::files::JoinPath(BackupFolder(), "backup-")),
              std::string::npos)
        << told;

    const auto repaired = Run("set disable " + mirror, Scenario(false));
    EXPECT_EQ(repaired.exitCode, 0) << repaired.out << Stderr();
    EXPECT_TRUE(
        StartsWith(Bytes(eeprom_),
                   Bytes(kFirmwareDir +
                         "/pm/pm_firmware/pelko_zuro/pelko_z_non_standby_V8.03_000E4712h.bin")));
}

TEST_F(BurnSafety, SetRepairsADamagedSpeaker) {
    const std::string mirror = "--firmware-base-url " + Quote("file://" + kFirmwareDir);
    // No valid image: the first bytes of a burn that was cut off.
    std::vector<uint8_t> damaged(kEepromSize, 0xFF);
    damaged[0] = 'V';
    damaged[1] = 'X';
    dormane::imagebuilder::WriteFile(eeprom_, damaged);
    const auto before = Run("status", Scenario(false));
    EXPECT_EQ(before.exitCode, 128) << before.out;
    EXPECT_NE(before.out.find("Repair it with: dormane-cli --simulate="), std::string::npos)
        << before.out;

    const auto r = Run("set enable " + mirror, Scenario(false));
    EXPECT_EQ(r.exitCode, 0) << r.out << Stderr();
    EXPECT_NE(r.out.find("damaged"), std::string::npos) << r.out;
    EXPECT_TRUE(StartsWith(
        Bytes(eeprom_),
        Bytes(kFirmwareDir + "/pm/pm_firmware/pelko_zuro/pelko_z_standby_V8.13_000E6094h.bin")));
    EXPECT_EQ(Run("status", Scenario(false)).exitCode, 0);
}

// ---------------------------------------------------------------- only the image asked for

struct RefusedImageCase {
    const char* name;
    const char* command; // {file} is replaced by the image's path
    bool damagedSpeaker;
    std::vector<uint8_t> (*image)();
    int exitCode;
    const char* message;
};

void PrintTo(const RefusedImageCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedImage : public BurnSafety, public ::testing::WithParamInterface<RefusedImageCase> {};

TEST_P(RefusedImage, WritesNothingAndSaysWhy) {
    const RefusedImageCase& c = GetParam();
    if (c.damagedSpeaker) {
        std::vector<uint8_t> damaged(kEepromSize, 0xFF);
        damaged[0] = 'X';
        dormane::imagebuilder::WriteFile(eeprom_, damaged);
    }
    const auto before = Bytes(eeprom_);
    std::string command = c.command;
    command.replace(command.find("{file}"), 6, Quote(WriteImage("image.bin", c.image())));
    const auto r = Run(command, Scenario(false));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << Stderr();
    EXPECT_NE(Stderr().find(c.message), std::string::npos) << Stderr();
    EXPECT_EQ(Bytes(eeprom_), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedImage,
    ::testing::Values(
        RefusedImageCase{"AlwaysOnImageForEnable", "set enable --force --file {file}", false,
                         [] { return Image(0x400, 0x0803, 5); }, 64,
                         "the image holds firmware 0803, not the 8.13 that enable needs"},
        RefusedImageCase{"StandbyImageForDisable", "set disable --file {file}", false,
                         [] { return Image(0x400, 0x0813, 5); }, 64,
                         "the image holds firmware 0813, not the 8.03 that disable needs"},
        RefusedImageCase{"WrongModeOverADamagedSpeaker", "set disable --file {file}", true,
                         [] { return Image(0x400, 0x0813, 5); }, 64, "not the 8.03"},
        RefusedImageCase{"ForeignVendorOverADamagedSpeaker", "flash {file}", true,
                         [] { return Image(0x400, 0x0803, 5, 0x1234); }, 64,
                         "built for USB vendor 1234"},
        RefusedImageCase{"TruncatedImage", "flash {file}", false,
                         [] {
                             auto bytes = Image(0x400, 0x0803, 5);
                             bytes.resize(0x3F0);
                             return bytes;
                         },
                         128, "invalid"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BurnSafety, ABackupThatCannotBeSavedStopsTheBurnAndIsNamed) {
    // A regular file where the per-user folders have to be: no backup folder can be made
    // below it.
    testsupport::WriteText(dir_ / "blocker", "x");
    const auto before = Bytes(eeprom_);
    const std::string file = WriteImage("fw.bin", Image(0x400, 0x0803, 7));
    const auto r = Run("flash " + Quote(file), Scenario(false),
                       dormane::test::PrivateUserFolders::Variables(dir_ / "blocker"));
    EXPECT_EQ(r.exitCode, 1) << r.out << Stderr();
    EXPECT_NE(Stderr().find(
                  "the backup of the speaker's firmware could not be saved: cannot "
                  "create the folder " +
                  dormane::files::JoinPath(
                      dormane::test::PrivateUserFolders::DataFolder(dir_ / "blocker"), "backups")),
              std::string::npos)
        << Stderr();
    EXPECT_EQ(Bytes(eeprom_), before);
}

// NACKs are the EEPROM's write cycle, retried as a matter of course: a developer's
// business, shown on standard error only with --trace.
TEST_F(BurnSafety, TheTransportsNacksStayOffTheTerminalUnlessTraced) {
    const std::string file = WriteImage("fw.bin", Image(0x400, 0x0803, 8));
    const auto quiet = Run("flash " + Quote(file), Scenario(false, "nack=20"));
    EXPECT_EQ(quiet.exitCode, 0) << quiet.out << Stderr();
    EXPECT_EQ(Stderr().find("NACK!!"), std::string::npos) << Stderr();
    const auto traced = Run("--trace flash " + Quote(file), Scenario(false, "nack=20"));
    EXPECT_EQ(traced.exitCode, 0) << traced.out << Stderr();
    EXPECT_NE(Stderr().find("NACK!!"), std::string::npos);
}

TEST_F(BurnSafety, FlashSaysWhichSettingTheImageGives) {
    const std::string file = WriteImage("fw.bin", Image(0x400, 0x0803, 6));
    const auto r = Run("flash " + Quote(file), Scenario(false));
    EXPECT_EQ(r.exitCode, 0) << r.out << Stderr();
    EXPECT_NE(r.out.find("Writing auto-standby disabled (firmware 8.03: always on)"),
              std::string::npos)
        << r.out;
}

} // namespace
