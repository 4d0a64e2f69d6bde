// Faults the soak and the burn benchmark found below the update manager, each shown in a few
// transfers on the simulated speaker. The EEPROM's write cycle is waited out by the
// transport; the 2 KB chip's misaddressing is a limit of the size detection that stays
// (the speaker carries a 64 KB EEPROM), so its test runs only when DORMANE_RUN_KNOWN_FAULTS
// is set.
#include "SoakFixture.h"

#include "FWUpdateInterface.h"
#include "Sim.h"
#include "Status.h"
#include "Transport.h"
#include "UpdateManager.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>

namespace {

using dormane::sim::Scenario;
using dormane::sim::SimSpeaker;

constexpr uint16_t kVid = 0x0D8C;
constexpr uint16_t kPid = 0x0082;

bool RunKnownFaults() {
    return std::getenv("DORMANE_RUN_KNOWN_FAULTS") != nullptr;
}

class KnownFault : public soaktest::PrivateFolders {
protected:
    std::shared_ptr<SimSpeaker> Install(const Scenario& scenario) {
        auto clock = std::make_shared<dormane::VirtualClock>();
        dormane::SetCurrentClock(clock);
        std::string error;
        backend_ = dormane::sim::SimBackend::Create(scenario, clock, error);
        if (!backend_)
            ADD_FAILURE() << error;
        rmSetBackend(backend_);
        return backend_ ? backend_->Speaker(0) : nullptr;
    }
    void TearDown() override {
        rmSetBackend(nullptr);
        dormane::SetCurrentClock(nullptr);
        soaktest::PrivateFolders::TearDown();
    }

    std::shared_ptr<dormane::sim::SimBackend> backend_;
};

struct Profile {
    const char* name;
    uint32_t i2cKhz;
    uint32_t latencyUs;
    uint32_t twrUs;
};

void PrintTo(const Profile& p, std::ostream* os) {
    *os << p.name;
}

Scenario ScenarioOf(const Profile& p) {
    Scenario s;
    s.eepromSize = 16384;
    s.i2cKhz = p.i2cKhz;
    s.latencyUs = p.latencyUs;
    s.twrUs = p.twrUs;
    s.virtualClock = true;
    return s;
}

// The speaker of the profile, selected, with the addressing of its 16 KB EEPROM.
class WriteCycleTest : public KnownFault, public ::testing::WithParamInterface<Profile> {
protected:
    std::shared_ptr<SimSpeaker> Select() {
        auto speaker = Install(ScenarioOf(GetParam()));
        if (!speaker)
            return nullptr;
        if (rmInitialize() != 1 || rmDeviceStart(kVid, kPid) != 1) {
            ADD_FAILURE() << "the simulated speaker could not be selected";
            return nullptr;
        }
        rmSetEepromSize(16384);
        return speaker;
    }
};

// A single-byte write is over on the bus before the first status poll arrives (95 us at
// 400 kHz, 380 us at 100 kHz), so no 10 ms step follows it. The next transfer meets the
// EEPROM in its write cycle, which does not acknowledge its address; the four attempts come
// one status poll and one block load (4 latencies) apart and are all spent before tWR ends.
// Every burn goes byte by byte up to a 16-byte boundary at each of its 101 steps, so at
// these profiles every burn would fail if the transfer gave up after them.
class WriteCycle : public WriteCycleTest {};

TEST_P(WriteCycle, TheNextWriteWaitsForIt) {
    const auto speaker = Select();
    ASSERT_TRUE(speaker);
    uint8_t bytes[2] = {0x12, 0x34}; // off a page boundary: two single-byte transfers
    EXPECT_EQ(rmEepromAccess(1, 1, bytes, 2), 1);
    const auto eeprom = speaker->Eeprom();
    EXPECT_EQ(eeprom[1], 0x12);
    EXPECT_EQ(eeprom[2], 0x34);
}

INSTANTIATE_TEST_SUITE_P(Profiles, WriteCycle,
                         ::testing::Values(Profile{"Fast400kHz_tWR3ms", 400, 125, 3000},
                                           Profile{"Usual400kHz_tWR5ms", 400, 250, 5000},
                                           Profile{"Slow100kHz_tWR9578us", 100, 571, 9578}),
                         [](const auto& info) { return info.param.name; });

// The read-back (and the attach's reads) right after a short write meet the same write
// cycle: the read's four attempts are spent the same way.
class ReadAfterWrite : public WriteCycleTest {};

TEST_P(ReadAfterWrite, WaitsForTheWriteCycle) {
    const auto speaker = Select();
    ASSERT_TRUE(speaker);
    uint8_t byte = 0x5C;
    ASSERT_EQ(rmEepromAccess(1, 1, &byte, 1), 1) << "a single transfer always gets through";
    uint8_t back[16] = {};
    EXPECT_EQ(rmEepromAccess(0, 0, back, sizeof back), 1);
    EXPECT_EQ(back[1], 0x5C);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ReadAfterWrite,
                         ::testing::Values(Profile{"Fast400kHz_tWR3ms", 400, 125, 3000},
                                           Profile{"Usual400kHz_tWR5ms", 400, 250, 5000}),
                         [](const auto& info) { return info.param.name; });

// A 2 KB EEPROM takes one address byte and answers 0xA0 to 0xAF, 0xA8 as its fifth block.
// The detection's first read, with the 4 KB addressing, reaches it: the high position byte
// loads its address counter (0x400) and the low one counts as a data byte. The probe marker
// is then written at 0x400 behind a 0x00, the search matches at 64 KB (position 0x10000 has
// the same position bytes as 0) and the bytes are "restored" at 0x400 again: the attach
// changes the EEPROM and reports a 64 KB chip, and a burn then writes all over 0x400 to
// 0x7FF. Telling a one-address-byte chip apart needs a different detection; until then the
// attach of such a chip is not safe.
TEST_F(KnownFault, AttachLeavesA2KbEepromAsItWas) {
    if (!RunKnownFaults())
        GTEST_SKIP() << "known fault: the size detection writes into a 2 KB EEPROM; set "
                        "DORMANE_RUN_KNOWN_FAULTS=1 to run";
    Scenario s;
    s.eepromSize = 2048;
    s.virtualClock = true;
    const auto speaker = Install(s);
    ASSERT_TRUE(speaker);
    const auto before = speaker->Eeprom();
    FWUpdateInterface engine;
    ASSERT_EQ(engine.Init(), dormane::status::kSuccess);
    const int attach = engine.AttachDevice(kVid, kPid);
    const auto after = speaker->Eeprom();
    const auto diff = std::mismatch(before.begin(), before.end(), after.begin());
    EXPECT_TRUE(diff.first == before.end())
        << "changed at 0x" << std::hex << (diff.first - before.begin());
    if (attach == dormane::status::kSuccess) {
        EXPECT_EQ(engine.Core()->EepromSize(), 2048u);
    }
}

} // namespace
