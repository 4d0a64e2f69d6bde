// One burn at a time, an attach that leaves the EEPROM as it found it, and the journal that
// tells of a burn that did not finish.
#include "SafetyFixture.h"

using namespace safetytest;

namespace {

// ---------------------------------------------------------------- the engine holds it

TEST_F(SafetyTest, AttachAndBurnWaitForTheSpeakerThenRefuseWithoutTouchingIt) {
    StartWithFile("fw=0813");
    ASSERT_EQ(engine_->AttachDevice(kVid, kPid), 0);
    const auto before = Speaker()->Eeprom();
    const std::string file = WriteFile("fw.bin", SmallImage(0x0803));

    // Another program holds the speaker: attach and burn give up after their wait.
    std::unique_ptr<SpeakerLock> other;
    SpeakerLockHolder holder;
    std::string reason;
    ASSERT_EQ(TakeSpeakerLock(Key(), 0, other, holder, reason), LockResult::Taken);
    Speaker()->Record(true);
    EXPECT_EQ(engine_->UpdateFirmware(file.c_str()), status::kSpeakerBusy);
    EXPECT_EQ(Core().BusyHolder().pid, static_cast<long>(getpid()));
    EXPECT_EQ(engine_->AttachDevice(kVid, kPid), status::kSpeakerBusy);
    int progress = -1;
    EXPECT_EQ(engine_->GteUpdateProgress(&progress), status::kBurnIdle);
    EXPECT_TRUE(Backups().empty());
    EXPECT_EQ(Speaker()->Eeprom(), before);
    for (const auto& rec : Speaker()->TakeRecords())
        EXPECT_FALSE(IsWriteCommand(rec)) << "a write reached the speaker";

    // Once it lets go, both go through.
    other.reset();
    ASSERT_EQ(engine_->AttachDevice(kVid, kPid), 0);
    ASSERT_EQ(engine_->UpdateFirmware(file.c_str()), 0);
    // The burn holds the speaker until its read-back has ended.
    std::unique_ptr<SpeakerLock> during;
    EXPECT_EQ(TakeSpeakerLock(Key(), 0, during, holder, reason), LockResult::Busy);
    EXPECT_EQ(WaitForBurn(*engine_), status::kBurnVerified);
    EXPECT_EQ(engine_->DetachDevice(), 0); // collects the burn thread, which let go
    EXPECT_EQ(TakeSpeakerLock(Key(), 0, during, holder, reason), LockResult::Taken);
}

// ---------------------------------------------------------------- the size probe's marker

struct RestoreCase {
    const char* name;
    int failedRestoreWrites; // write commands after the marker that the speaker fails
    int attach;
};

class ProbeMarker : public SafetyTest, public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(ProbeMarker, IsTakenBackOrTheAttachFails) {
    const RestoreCase& c = GetParam();
    Start("eeprom=8192");
    // A blank chip: the detection writes its marker at 0 and must take it back.
    Speaker()->PokeEeprom(0, std::vector<uint8_t>(8192, 0xFF));
    const auto before = Speaker()->Eeprom();
    int writes = 0;
    int failed = 0;
    Speaker()->SetInterceptor([&](const sim::ControlRecord& rec) -> std::optional<UsbResult> {
        if (!IsWriteCommand(rec) || writes++ == 0) // the first write is the marker itself
            return std::nullopt;
        if (failed >= c.failedRestoreWrites)
            return std::nullopt;
        ++failed;
        return UsbResult::Stall;
    });
    ClearLog();
    EXPECT_EQ(engine_->AttachDevice(kVid, kPid), c.attach);
    Speaker()->SetInterceptor(nullptr);
    const auto after = Speaker()->Eeprom();
    if (c.attach == status::kSuccess) {
        EXPECT_EQ(after, before) << "first bytes " << int(after[0]) << " " << int(after[1]);
        EXPECT_FALSE(Core().RestoreFailed());
        EXPECT_TRUE(LogMatching("UpdateManager::DetectEEPSize restore").empty());
    } else {
        EXPECT_TRUE(Core().RestoreFailed());
        EXPECT_EQ(
            LogMatching("UpdateManager::DetectEEPSize restore"),
            std::vector<std::string>{"UpdateManager::DetectEEPSize restore first bytes fail"});
    }
}

// A transfer the speaker fails ends that write at once: one failed restore attempt each.
INSTANTIATE_TEST_SUITE_P(Table, ProbeMarker,
                         ::testing::Values(RestoreCase{"FirstTry", 0, 0},
                                           RestoreCase{"SecondTry", 1, 0},
                                           RestoreCase{"LastTry", 3, 0},
                                           RestoreCase{"NeverTaken", 1000, status::kNoDevice}),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------- a half-written EEPROM

// The start of an image whose region happens to sum right while its extension block is
// still erased: the record is filled with 0xFFFF, chip revision included. Only string 50
// may identify such a speaker.
TEST_F(SafetyTest, AnErasedExtensionBlockIdentifiesNothing) {
    Start("eeprom=16384");
    std::vector<uint8_t> content(16384, 0xFF);
    content[0] = 'V';
    content[1] = 'X';
    const auto descriptor = imagebuilder::EncodeImageDescriptor(0x40, 0x20);
    std::copy(descriptor.begin(), descriptor.end(), content.begin() + 12);
    content[16] = 0x7F;
    content[0x40] = 31; // 31 + 31 * 0xFF = 0 modulo 256
    Speaker()->PokeEeprom(0, content);
    // String 50 cannot be read (the speaker went away for a moment, say).
    Speaker()->SetInterceptor([](const sim::ControlRecord& rec) -> std::optional<UsbResult> {
        if (rec.bmRequestType == 0x80 && rec.bRequest == 0x06 && rec.wValue == 0x0332)
            return UsbResult::Stall;
        return std::nullopt;
    });
    EXPECT_EQ(engine_->AttachDevice(kVid, kPid), status::kNoDevice);
    EXPECT_TRUE(Core().EepromBroken());
    EXPECT_EQ(Core().DeviceImage().ChipVer, kChipVerUnknown);
    EXPECT_EQ(LogMatching("UpdateManager::ReadExtInfo").back(),
              "UpdateManager::ReadExtInfo CHIP =0xFFFF VID =0xFFFF PID =0xFFFF ChipVer =0xFFFF "
              "FWVer =0xFFFF return 0");
    // With the string the same speaker is identified, and a repair can go ahead.
    Speaker()->SetInterceptor(nullptr);
    EXPECT_EQ(engine_->AttachDevice(kVid, kPid), 0);
    EXPECT_EQ(Core().DeviceImage().ChipVer, 0);
}

// ---------------------------------------------------------------- the journal

TEST_F(SafetyTest, TheJournalStandsFromBeforeTheFirstWriteToTheEndOfTheReadBack) {
    StartWithFile("fw=0813");
    ASSERT_EQ(engine_->AttachDevice(kVid, kPid), 0);
    EXPECT_FALSE(Core().LeftJournal());
    const std::string file = WriteFile("fw.bin", SmallImage(0x0803));
    const std::string journalPath = journal::JournalPath(Key());
    bool seenAtFirstWrite = false;
    bool first = true;
    Speaker()->SetInterceptor([&](const sim::ControlRecord& rec) -> std::optional<UsbResult> {
        if (first && IsWriteCommand(rec)) {
            first = false;
            seenAtFirstWrite = std::filesystem::exists(journalPath);
        }
        return std::nullopt;
    });
    ASSERT_EQ(engine_->UpdateFirmware(file.c_str()), 0);
    const auto entry = journal::Find(Key());
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->image, file);
    EXPECT_EQ(entry->imageFw, 0x0803);
    EXPECT_EQ(entry->backup, Core().LastBackupPath());
    EXPECT_EQ(entry->backupFw, 0x0813);
    EXPECT_EQ(WaitForBurn(*engine_), status::kBurnVerified);
    Speaker()->SetInterceptor(nullptr);
    EXPECT_TRUE(seenAtFirstWrite);
    EXPECT_FALSE(std::filesystem::exists(journalPath));
}

TEST_F(SafetyTest, AFailedBurnEndsItsJournalToo) {
    StartWithFile("fw=0813");
    ASSERT_EQ(engine_->AttachDevice(kVid, kPid), 0);
    const std::string file = WriteFile("fw.bin", SmallImage(0x0803));
    // The speaker goes away after a few writes of the burn.
    int writes = 0;
    std::shared_ptr<sim::SimSpeaker> speaker = Speaker();
    speaker->SetInterceptor([&](const sim::ControlRecord& rec) -> std::optional<UsbResult> {
        if (IsWriteCommand(rec) && ++writes == 5)
            speaker->Unplug();
        return std::nullopt;
    });
    ASSERT_EQ(engine_->UpdateFirmware(file.c_str()), 0);
    EXPECT_EQ(WaitForBurn(*engine_), status::kBurnFailed);
    EXPECT_FALSE(journal::Find(Key()));
}

struct LeftCase {
    const char* name;
    bool imageWhole; // the EEPROM holds the journal's image after all
    bool expectReported;
};

class LeftJournal : public SafetyTest, public ::testing::WithParamInterface<LeftCase> {};

TEST_P(LeftJournal, IsReportedUnlessTheBurnFinishedAfterAll) {
    const LeftCase& c = GetParam();
    const auto image = SmallImage(0x0803);
    const std::string file = WriteFile("fw.bin", image);
    StartWithFile("fw=0813");
    if (c.imageWhole)
        Speaker()->PokeEeprom(0, image);
    // What a burn that was killed mid-way leaves behind.
    journal::Entry left;
    left.speaker = Key();
    left.vid = kVid;
    left.pid = kPid;
    left.image = file;
    left.imageFw = 0x0803;
    left.imageSize = static_cast<uint32_t>(image.size());
    left.imageDigest = journal::DigestOf(image.data(), left.imageSize);
    left.backup = files::JoinPath(BackupFolder(), "backup-x-VID0D8C-PID0082-FW0813.bin");
    left.backupFw = 0x0813;
    left.started = "2026-12-10 14:00:00";
    std::string reason;
    ASSERT_TRUE(journal::Write(left, reason)) << reason;

    ASSERT_EQ(engine_->AttachDevice(kVid, kPid), 0);
    EXPECT_EQ(Core().LeftJournal().has_value(), c.expectReported);
    EXPECT_EQ(journal::Find(Key()).has_value(), c.expectReported);
    if (c.expectReported) {
        EXPECT_EQ(Core().LeftJournal()->backup, left.backup);
        EXPECT_EQ(Core().LeftJournal()->started, left.started);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LeftJournal,
                         ::testing::Values(LeftCase{"CutOff", false, true},
                                           LeftCase{"FinishedAfterAll", true, false}),
                         [](const auto& info) { return info.param.name; });

} // namespace
