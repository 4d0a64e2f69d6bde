// The soak is only worth its zero violations if its checks notice a broken burn: each case
// here breaks one scenario on purpose and expects the matching violation.
#include "Soak.h"
#include "SoakFixture.h"

#include "Backup.h"

#include <filesystem>
#include <functional>
#include <ostream>
#include <set>

namespace {

using soak::Content;
using soak::ImageKind;
using soak::ScenarioSpec;

// A speaker that takes the image and verifies it, on a fault-free bus.
ScenarioSpec GoodBurn() {
    ScenarioSpec s;
    s.seed = 11;
    s.index = 1;
    s.eepromSize = 16384;
    s.content = Content::Valid;
    s.deviceTotal = 9000;
    s.string50 = "5023B";
    s.kind = ImageKind::Valid;
    s.imageTotal = 6000;
    s.fileBytes = 6000;
    return s;
}

ScenarioSpec Refused() {
    ScenarioSpec s = GoodBurn();
    s.kind = ImageKind::BadMagic;
    return s;
}

void Flip(dormane::sim::SimSpeaker& speaker, uint32_t position) {
    const std::vector<uint8_t> now = speaker.Eeprom();
    speaker.PokeEeprom(position, {static_cast<uint8_t>(now[position] ^ 0x5A)});
}

struct SabotageCase {
    const char* name;
    ScenarioSpec spec;
    std::function<void(dormane::sim::SimSpeaker&)> beforeChecks;
    bool dropBackupAtFirstWrite;
    const char* expected; // part of the violation; empty: none expected
};

void PrintTo(const SabotageCase& c, std::ostream* os) {
    *os << c.name;
}

class SoakChecks : public soaktest::PrivateFolders,
                   public ::testing::WithParamInterface<SabotageCase> {};

TEST_P(SoakChecks, SeeTheSabotage) {
    const SabotageCase& c = GetParam();
    soak::Runner runner(root_);
    soak::Sabotage sabotage;
    sabotage.beforeChecks = c.beforeChecks;
    if (c.dropBackupAtFirstWrite)
        sabotage.atFirstWrite = [] {
            std::error_code ec;
            std::filesystem::remove_all(dormane::backup::BackupFolder(), ec);
        };
    const soak::Outcome o = runner.Run(c.spec, sabotage);
    std::string all;
    for (const auto& v : o.violations)
        all += v + "\n";
    if (*c.expected == '\0') {
        EXPECT_TRUE(o.violations.empty()) << all;
        EXPECT_EQ(o.state, c.spec.kind == ImageKind::Valid ? 1024 : 256);
    } else {
        EXPECT_NE(all.find(c.expected), std::string::npos) << "violations:\n" << all;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SoakChecks,
    ::testing::Values(SabotageCase{"UntouchedBurn", GoodBurn(), nullptr, false, ""},
                      SabotageCase{"UntouchedRefusal", Refused(), nullptr, false, ""},
                      SabotageCase{"ByteInTheImage", GoodBurn(),
                                   [](dormane::sim::SimSpeaker& s) { Flip(s, 100); }, false,
                                   "does not hold the image"},
                      SabotageCase{"ByteAfterTheImage", GoodBurn(),
                                   [](dormane::sim::SimSpeaker& s) { Flip(s, 16383); }, false,
                                   "bytes after the image changed"},
                      SabotageCase{"ByteOfARefusedSpeaker", Refused(),
                                   [](dormane::sim::SimSpeaker& s) { Flip(s, 3); }, false,
                                   "but the EEPROM changed"},
                      SabotageCase{"BackupGoneAtTheFirstWrite", GoodBurn(), nullptr, true,
                                   "the first write of the burn came before any backup"}),
    [](const auto& info) { return info.param.name; });

// The answers the soak expects of the engine, one scenario per rule; each of them ends
// without a violation.
using SoakExpectations = soaktest::PrivateFolders;

TEST_F(SoakExpectations, FollowTheCompatibilityRules) {
    struct Case {
        ImageKind kind;
        Content content;
        int update;        // -1: the engine is never asked
        int download = -1; // -1: read from the disk
    } cases[] = {
        {ImageKind::Valid, Content::Valid, 0},
        {ImageKind::ForeignPid, Content::Valid, 64},
        {ImageKind::ForeignPid, Content::Broken, 0}, // invalid content: ChipVer and vendor count
        {ImageKind::ForeignVid, Content::Broken, 64},
        {ImageKind::Valid, Content::Partial, 0},
        {ImageKind::ForeignPid, Content::Partial, 0},
        {ImageKind::ForeignVid, Content::Partial, 64},
        {ImageKind::ForeignChipVer, Content::Broken, 64},
        {ImageKind::Oversized, Content::Valid, 64},
        {ImageKind::BadChecksum, Content::Valid, 128},
        {ImageKind::Truncated, Content::Valid, 128},
        {ImageKind::WrongMode, Content::Valid, 64},
        {ImageKind::WrongMode, Content::Broken, 64},
        {ImageKind::ErrorPage, Content::Blank, 128, 48},
        {ImageKind::HttpError, Content::Valid, -1, 53},
        {ImageKind::ShortBody, Content::Valid, -1, 54},
        {ImageKind::OversizedBody, Content::Valid, -1, 54},
        {ImageKind::StalledBody, Content::Blank, -1, 54},
    };
    soak::Runner runner(root_);
    for (const Case& c : cases) {
        ScenarioSpec s = GoodBurn();
        s.kind = c.kind;
        s.content = c.content;
        if (c.kind == ImageKind::Oversized)
            s.imageTotal = s.fileBytes = s.eepromSize + 1;
        if (c.kind == ImageKind::Truncated)
            s.fileBytes = s.imageTotal - 1;
        if (c.content == Content::Partial)
            s.partialBytes = 5000; // past the header, short of the extension block
        s.viaDownload = c.download != -1;
        const soak::Outcome o = runner.Run(s);
        EXPECT_EQ(o.download, c.download) << s.Describe();
        EXPECT_EQ(o.update, c.update) << s.Describe();
        EXPECT_TRUE(o.violations.empty()) << s.Describe() << "\n" << o.violations.front();
    }
}

TEST(SoakGenerator, SameSeedSameScenariosAndEveryKindDrawn) {
    std::set<std::string> kinds;
    std::set<std::string> contents;
    int nacks = 0;
    int unplugs = 0;
    int absent = 0;
    for (uint64_t i = 0; i < 300; ++i) {
        const ScenarioSpec s = soak::Generate(1, i);
        EXPECT_EQ(s.Describe(), soak::Generate(1, i).Describe());
        EXPECT_NE(s.Describe(), soak::Generate(2, i).Describe());
        EXPECT_NE(s.eepromSize, 2048u) << "2 KB only when asked for";
        EXPECT_LE(s.nackPercent, 30.0);
        EXPECT_GE(s.latencyUs, 125u);
        EXPECT_LE(s.latencyUs, 1000u);
        EXPECT_LE(s.twrUs, 10000u);
        if (s.kind == ImageKind::Oversized) {
            EXPECT_GT(s.imageTotal, s.eepromSize);
        } else {
            EXPECT_LE(s.imageTotal, s.eepromSize);
        }
        if (s.kind == ImageKind::Truncated) {
            EXPECT_LT(s.fileBytes, s.imageTotal);
        }
        if (soak::IsDownloadFault(s.kind)) {
            EXPECT_TRUE(s.viaDownload) << s.Describe();
        }
        kinds.insert(soak::Name(s.kind));
        contents.insert(soak::Name(s.content));
        nacks += s.nackPercent > 0;
        unplugs += s.unplugAfter.has_value();
        absent += s.absent;
    }
    EXPECT_EQ(kinds.size(), 15u);
    EXPECT_EQ(contents.size(), 4u);
    EXPECT_GT(nacks, 0);
    EXPECT_GT(unplugs, 0);
    EXPECT_GT(absent, 0);
}

} // namespace
