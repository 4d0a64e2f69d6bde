// The vendor-command transport against the simulated speaker on a virtual clock: transfer
// splitting, addressing, commands, retries, selection, and the read and wait mends.
#include "Transport.h"
#include "Clock.h"
#include "DebugOutput.h"
#include "Sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using dormane::UsbResult;
using dormane::VirtualClock;
using dormane::sim::ControlRecord;
using dormane::sim::Scenario;
using dormane::sim::SimBackend;
using dormane::sim::SimSpeaker;

namespace {

constexpr uint16_t kVid = 0x0D8C;
constexpr uint16_t kPid = 0x0082;

// A transfer block as the transport laid it into registers 0x80 to 0x94.
struct Block {
    uint8_t bytes[21] = {};
    uint8_t Dev() const { return bytes[0]; }
    uint8_t Pos1() const { return bytes[1]; }
    uint8_t Pos2() const { return bytes[2]; }
    uint8_t Count() const { return bytes[19]; }
    uint8_t Command() const { return bytes[20]; }
};

bool IsRegWrite(const ControlRecord& r, uint16_t reg) {
    return r.bmRequestType == 0x40 && r.bRequest == 0x01 && r.wValue == reg;
}
bool IsRegRead(const ControlRecord& r, uint16_t reg) {
    return r.bmRequestType == 0xC0 && r.bRequest == 0x02 && r.wValue == reg;
}

// Every block sent: a 16-byte write to 0x80 followed by a 5-byte write to 0x90.
std::vector<Block> BlocksOf(const std::vector<ControlRecord>& records) {
    std::vector<Block> blocks;
    for (size_t i = 0; i + 1 < records.size(); ++i) {
        if (IsRegWrite(records[i], 0x80) && records[i].data.size() == 16 &&
            IsRegWrite(records[i + 1], 0x90) && records[i + 1].data.size() == 5) {
            Block b;
            std::copy_n(records[i].data.begin(), 16, b.bytes);
            std::copy_n(records[i + 1].data.begin(), 5, b.bytes + 16);
            blocks.push_back(b);
        }
    }
    return blocks;
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        rmResetStats();
        rmSetTraceSink([this](const std::string& line) { m_trace.push_back(line); });
    }

    void TearDown() override {
        rmSetTraceSink({});
        rmSetBackend(nullptr);
        dormane::SetCurrentClock(nullptr);
    }

    // One speaker of the scenario on a fresh virtual clock, selected.
    std::shared_ptr<SimSpeaker> Start(const std::string& scenarioText = "") {
        Scenario s;
        std::string error;
        EXPECT_TRUE(dormane::sim::ParseScenario(scenarioText, s, error)) << error;
        m_clock = std::make_shared<VirtualClock>();
        dormane::SetCurrentClock(m_clock);
        m_backend = SimBackend::Create(s, m_clock, error);
        EXPECT_TRUE(m_backend) << error;
        rmSetBackend(m_backend);
        EXPECT_EQ(rmInitialize(), 1);
        EXPECT_EQ(rmDeviceStart(kVid, kPid), 1);
        rmSetEepromSize(s.eepromSize);
        m_trace.clear();
        rmResetStats();
        return m_backend->Speaker(0);
    }

    std::shared_ptr<VirtualClock> m_clock;
    std::shared_ptr<SimBackend> m_backend;
    std::vector<std::string> m_trace;
};

// --- splitting, device and position bytes, commands ---------------------------------------

struct ExpectedBlock {
    uint8_t dev, pos1, pos2, count, cmd;
};

struct SplitCase {
    const char* name;
    uint32_t eepromSize;
    bool write;
    uint32_t position;
    uint32_t count;
    std::vector<ExpectedBlock> blocks;
};

std::vector<ExpectedBlock> Singles(uint8_t dev, uint32_t from, uint32_t to, uint8_t cmd) {
    std::vector<ExpectedBlock> v;
    for (uint32_t p = from; p < to; ++p)
        v.push_back({dev, static_cast<uint8_t>(p), 0, 1, cmd});
    return v;
}

template <typename... Parts> std::vector<ExpectedBlock> Join(Parts... parts) {
    std::vector<ExpectedBlock> all;
    (all.insert(all.end(), parts.begin(), parts.end()), ...);
    return all;
}

class TransportSplit : public TransportTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(TransportSplit, SendsTheBlocksOfTheAddressingRules) {
    const SplitCase& c = GetParam();
    auto speaker = Start("clock=virtual,eeprom=" + std::to_string(c.eepromSize));
    std::vector<uint8_t> data = Pattern(c.count, c.position);
    speaker->Record(true);
    ASSERT_EQ(rmEepromAccess(c.write, c.position, data.data(), c.count), 1);
    const std::vector<Block> blocks = BlocksOf(speaker->TakeRecords());
    ASSERT_EQ(blocks.size(), c.blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE("block " + std::to_string(i));
        EXPECT_EQ(blocks[i].Dev(), c.blocks[i].dev);
        EXPECT_EQ(blocks[i].Pos1(), c.blocks[i].pos1);
        EXPECT_EQ(blocks[i].Pos2(), c.blocks[i].pos2);
        EXPECT_EQ(blocks[i].Count(), c.blocks[i].count);
        EXPECT_EQ(blocks[i].Command(), c.blocks[i].cmd);
    }
    // Either way, the buffer and the chip agree afterwards.
    const std::vector<uint8_t> eeprom = speaker->Eeprom();
    for (uint32_t i = 0; i < c.count; ++i)
        ASSERT_EQ(data[i], eeprom[(c.position + i) % c.eepromSize]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransportSplit,
    ::testing::Values(
        // Off a page boundary: byte by byte up to it, then whole pages.
        SplitCase{
            "Write40At5On64K", 65536, true, 5, 40,
            Join(Singles(0xA8, 5, 16, 0xB0),
                 std::vector<ExpectedBlock>{{0xA8, 16, 0, 16, 0xB0}, {0xA8, 32, 0, 13, 0xB0}})},
        SplitCase{"Write20At0On512",
                  512,
                  true,
                  0,
                  20,
                  {{0xA0, 0, 0, 8, 0x90}, {0xA0, 8, 0, 8, 0x90}, {0xA0, 16, 0, 4, 0x90}}},
        SplitCase{
            "Write10At3On256", 256, true, 3, 10,
            Join(Singles(0xA0, 3, 8, 0x90), std::vector<ExpectedBlock>{{0xA0, 8, 0, 5, 0x90}})},
        // Across a block of a 2 KB chip: the block bits move into the device byte.
        SplitCase{"Write20At0x3F0On2K",
                  2048,
                  true,
                  0x3F0,
                  20,
                  {{0xA6, 0xF0, 0, 16, 0x90}, {0xA8, 0x00, 0, 4, 0x90}}},
        SplitCase{"Write3At0x1FFEOn16K",
                  16384,
                  true,
                  0x1FFE,
                  3,
                  {{0xA8, 0xFE, 0x1F, 1, 0xB0},
                   {0xA8, 0xFF, 0x1F, 1, 0xB0},
                   {0xA8, 0x00, 0x20, 1, 0xB0}}},
        SplitCase{"Read1At0x123On2K", 2048, false, 0x123, 1, {{0xA3, 0x23, 0, 1, 0x9A}}},
        SplitCase{"Read2At0x1234On64K", 65536, false, 0x1234, 2, {{0xA9, 0x34, 0x12, 2, 0xBA}}},
        // Reads go 16 bytes at a time wherever they start.
        SplitCase{"Read40At5On16K",
                  16384,
                  false,
                  5,
                  40,
                  {{0xA9, 5, 0, 16, 0xBA}, {0xA9, 21, 0, 16, 0xBA}, {0xA9, 37, 0, 8, 0xBA}}},
        // Position 0x10000 of a 64 KB chip travels as 0x00 0x00 and reads position 0.
        SplitCase{"Read6At0x10000On64K", 65536, false, 0x10000, 6, {{0xA9, 0, 0, 6, 0xBA}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransportTest, TraceShowsOneLinePerBlockInTheDocumentedForm) {
    Start("clock=virtual");
    std::vector<uint8_t> data(16, 0x5A);
    ASSERT_EQ(rmEepromAccess(1, 0x120, data.data(), 16), 1);
    ASSERT_EQ(rmEepromAccess(0, 0x120, data.data(), 16), 1);
    EXPECT_EQ(m_trace,
              (std::vector<std::string>{"i2c write dev=0xA8 pos=0x0120 count=16 cmd=0xB0 -> ok",
                                        "i2c read dev=0xA9 pos=0x0120 count=16 cmd=0xBA -> ok"}));
}

TEST_F(TransportTest, TracePositionOfASmallChipIncludesTheBlockBits) {
    Start("clock=virtual,eeprom=2048");
    uint8_t b = 0;
    ASSERT_EQ(rmEepromAccess(0, 0x7F0, &b, 1), 1);
    EXPECT_EQ(m_trace,
              (std::vector<std::string>{"i2c read dev=0xAF pos=0x07F0 count=1 cmd=0x9A -> ok"}));
}

// --- the access frame: 0x95 and 0x94 around every access ----------------------------------

TEST_F(TransportTest, ZeroCountFailsAfterTouching0x95And0x94) {
    auto speaker = Start("clock=virtual");
    uint8_t buffer[1] = {};
    for (int write : {0, 1}) {
        SCOPED_TRACE(write ? "write" : "read");
        speaker->Record(true);
        EXPECT_EQ(rmEepromAccess(write, 0, buffer, 0), 0);
        const std::vector<ControlRecord> r = speaker->TakeRecords();
        ASSERT_EQ(r.size(), 4u);
        EXPECT_TRUE(IsRegRead(r[0], 0x95));
        EXPECT_TRUE(IsRegWrite(r[1], 0x95));
        EXPECT_EQ(r[1].data, std::vector<uint8_t>{0x21 | 0x80});
        EXPECT_TRUE(IsRegWrite(r[2], 0x94));
        EXPECT_EQ(r[2].data, std::vector<uint8_t>{0x50});
        EXPECT_TRUE(IsRegWrite(r[3], 0x95));
        EXPECT_EQ(r[3].data, std::vector<uint8_t>{0x21});
    }
    EXPECT_TRUE(m_trace.empty());
    EXPECT_EQ(speaker->Counters().i2cTransfers, 0u);
}

TEST_F(TransportTest, Unreadable0x95CountsAsZero) {
    auto speaker = Start("clock=virtual");
    speaker->SetInterceptor([](const ControlRecord& r) -> std::optional<UsbResult> {
        if (IsRegRead(r, 0x95))
            return UsbResult::Stall;
        return std::nullopt;
    });
    speaker->Record(true);
    uint8_t b = 0;
    EXPECT_EQ(rmEepromAccess(0, 0, &b, 1), 1);
    const std::vector<ControlRecord> r = speaker->TakeRecords();
    ASSERT_GE(r.size(), 3u);
    EXPECT_EQ(r[1].data, std::vector<uint8_t>{0x80});
    EXPECT_TRUE(IsRegWrite(r.back(), 0x95));
    EXPECT_EQ(r.back().data, std::vector<uint8_t>{0x00});
}

TEST_F(TransportTest, NoSelectedDeviceSendsNothing) {
    auto speaker = Start("clock=virtual");
    ASSERT_EQ(rmDeviceStop(), 1);
    speaker->Record(true);
    uint8_t b[4] = {};
    EXPECT_EQ(rmEepromAccess(0, 0, b, 4), 0);
    EXPECT_EQ(rmEepromAccess(1, 0, b, 4), 0);
    EXPECT_TRUE(speaker->TakeRecords().empty());
    EXPECT_EQ(rmSelectedDevice(), nullptr);
}

// --- retries and their limits --------------------------------------------------------------

struct RetryCase {
    const char* name;
    bool write;
    uint32_t forcedNacks;
    int result;
    std::vector<std::string> outcomes; // the trace's result of each attempt
};

class TransportRetry : public TransportTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(TransportRetry, RetriesANack) {
    const RetryCase& c = GetParam();
    auto speaker = Start("clock=virtual");
    const std::vector<uint8_t> before = speaker->Eeprom();
    std::vector<uint8_t> data(16, 0xEE);
    speaker->ForceNacks(c.forcedNacks);
    // The diagnostic channel, made visible as --trace makes it.
    dormane::SetDebugOutputEcho(true);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(rmEepromAccess(c.write, 0x40, data.data(), 16), c.result);
    const std::string diagnostics = ::testing::internal::GetCapturedStderr();
    dormane::SetDebugOutputEcho(false);

    ASSERT_EQ(m_trace.size(), c.outcomes.size());
    for (size_t i = 0; i < m_trace.size(); ++i)
        EXPECT_EQ(m_trace[i].substr(m_trace[i].rfind(' ') + 1), c.outcomes[i]) << m_trace[i];
    const size_t nacks = std::count(c.outcomes.begin(), c.outcomes.end(), "nack");
    EXPECT_EQ(rmGetStats().nacks, nacks);
    if (c.write) {
        // Each NACK of a write goes to the diagnostic channel.
        std::string expected;
        for (size_t i = 0; i < nacks; ++i)
            expected += "NACK!!\n";
        EXPECT_EQ(diagnostics, expected);
    }
    const std::vector<uint8_t> after = speaker->Eeprom();
    if (c.result) {
        // A write lands in the chip; a read brings the chip's bytes.
        const std::vector<uint8_t>& chip = c.write ? after : before;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.begin() + 0x40));
    } else {
        EXPECT_EQ(after, before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransportRetry,
    ::testing::Values(
        RetryCase{"WriteNoNack", true, 0, 1, {"ok"}},
        RetryCase{"WriteThreeNacks", true, 3, 1, {"nack", "nack", "nack", "ok"}},
        // Four NACKs come and go well inside the EEPROM's write cycle: not a dead chip yet.
        RetryCase{"WriteFourNacks", true, 4, 1, {"nack", "nack", "nack", "nack", "ok"}},
        RetryCase{"ReadOneNack", false, 1, 1, {"nack", "ok"}},
        RetryCase{"ReadThreeNacks", false, 3, 1, {"nack", "nack", "nack", "ok"}},
        RetryCase{"ReadFourNacks", false, 4, 1, {"nack", "nack", "nack", "nack", "ok"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A chip that never acknowledges fails the access, but only once the longest write cycle
// (10 ms) has passed since the first NACK, and never before the designed four attempts. A
// chunk that never comes through fails a read instead of leaving stale bytes.
TEST_F(TransportTest, LastingNackFailsOnceTheWriteCycleIsOver) {
    for (int write : {1, 0}) {
        SCOPED_TRACE(write ? "write" : "read");
        for (const char* scenario : {"clock=virtual", "clock=virtual,latency-us=0"}) {
            SCOPED_TRACE(scenario);
            auto speaker = Start(scenario);
            const std::vector<uint8_t> before = speaker->Eeprom();
            std::vector<uint8_t> data(16, 0xEE);
            const std::vector<uint8_t> given = data;
            speaker->ForceNacks(1000000);
            const auto started = dormane::CurrentClock()->Now();
            ::testing::internal::CaptureStderr();
            EXPECT_EQ(rmEepromAccess(write, 0x40, data.data(), 16), 0);
            ::testing::internal::GetCapturedStderr();
            const auto spent = dormane::CurrentClock()->Now() - started;

            EXPECT_GE(m_trace.size(), 4u);
            for (const std::string& line : m_trace)
                EXPECT_EQ(line.substr(line.rfind(' ') + 1), "nack") << line;
            EXPECT_EQ(rmGetStats().nacks, m_trace.size());
            EXPECT_GE(spent, std::chrono::milliseconds(10));
            // A busy status before the NACK costs a 10 ms step per attempt, as designed.
            EXPECT_LT(spent, std::chrono::milliseconds(50)) << "gives up soon after";
            EXPECT_EQ(speaker->Eeprom(), before);
            EXPECT_EQ(data, given);
            m_trace.clear();
        }
    }
}

TEST_F(TransportTest, LastingBusyGivesUpAfterFourAttempts) {
    // At 1 kHz a 16-byte transfer keeps the bus for about 175 ms: longer than every wait.
    for (int write : {1, 0}) {
        SCOPED_TRACE(write ? "write" : "read");
        Start("clock=virtual,i2c-khz=1");
        std::vector<uint8_t> data(16, 0x11);
        const std::vector<uint8_t> before = data;
        EXPECT_EQ(rmEepromAccess(write, 0, data.data(), 16), 0);
        EXPECT_EQ(m_trace,
                  std::vector<std::string>(
                      4, write ? "i2c write dev=0xA8 pos=0x0000 count=16 cmd=0xB0 -> busy"
                               : "i2c read dev=0xA9 pos=0x0000 count=16 cmd=0xBA -> busy"));
        const rmStats stats = rmGetStats();
        EXPECT_EQ(stats.busyGiveUps, 4u);
        if (write) {
            EXPECT_EQ(stats.writeWaits, 16u); // four polls with a wait after each, four times
        } else {
            EXPECT_EQ(stats.writeWaits, 0u);
            EXPECT_GT(stats.readWaits, 0u);
            EXPECT_EQ(data, before);
        }
    }
}

TEST_F(TransportTest, FailedBlockLoadEndsAtOnceWithoutRetry) {
    for (int write : {1, 0}) {
        SCOPED_TRACE(write ? "write" : "read");
        auto speaker = Start("clock=virtual");
        speaker->SetInterceptor([](const ControlRecord& r) -> std::optional<UsbResult> {
            if (IsRegWrite(r, 0x90))
                return UsbResult::Stall;
            return std::nullopt;
        });
        speaker->Record(true);
        std::vector<uint8_t> data(32, 0x22);
        EXPECT_EQ(rmEepromAccess(write, 0, data.data(), 32), 0);
        EXPECT_EQ(m_trace.size(), 1u);
        EXPECT_NE(m_trace.at(0).find("-> fail"), std::string::npos);
        // The access frame still closes: 0x50 to 0x94, 0x95 restored.
        const std::vector<ControlRecord> r = speaker->TakeRecords();
        ASSERT_GE(r.size(), 2u);
        EXPECT_TRUE(IsRegWrite(r[r.size() - 2], 0x94));
        EXPECT_TRUE(IsRegWrite(r.back(), 0x95));
        EXPECT_EQ(r.back().data, std::vector<uint8_t>{0x21});
    }
}

TEST_F(TransportTest, FailedStatusReadIsPolledAgainByAWriteButFailsARead) {
    for (int write : {1, 0}) {
        SCOPED_TRACE(write ? "write" : "read");
        auto speaker = Start("clock=virtual");
        speaker->SetInterceptor([](const ControlRecord& r) -> std::optional<UsbResult> {
            if (IsRegRead(r, 0x94))
                return UsbResult::Timeout;
            return std::nullopt;
        });
        std::vector<uint8_t> data(16, 0x33);
        EXPECT_EQ(rmEepromAccess(write, 0, data.data(), 16), 0);
        // A write polls four times per attempt, four attempts, and never waits; a read gives
        // up at the first failed status request.
        EXPECT_EQ(m_trace.size(), write ? 4u : 1u);
        for (const std::string& line : m_trace)
            EXPECT_NE(line.find("-> fail"), std::string::npos) << line;
        EXPECT_EQ(rmGetStats().writeWaits, 0u);
        EXPECT_EQ(rmGetStats().failedTransfers, write ? 16u : 1u);
    }
}

TEST_F(TransportTest, I2CTransferWritesOneBlock) {
    auto speaker = Start("clock=virtual");
    uint8_t block[21] = {0xA8, 0x10, 0x02, 1, 2, 3};
    block[19] = 3;
    block[20] = 0xB0;
    ASSERT_EQ(rmI2CTransfer(block), 1);
    const std::vector<uint8_t> eeprom = speaker->Eeprom();
    EXPECT_EQ(std::vector<uint8_t>(eeprom.begin() + 0x210, eeprom.begin() + 0x213),
              (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(m_trace,
              (std::vector<std::string>{"i2c write dev=0xA8 pos=0x0210 count=3 cmd=0xB0 -> ok"}));
}

// --- the mends: reads wait for their transfer, writes sleep on the clock -------------------

TEST_F(TransportTest, ReadWaitsForTheTransferInShortSleeps) {
    // 250 us per control transfer against a 1.8 ms I2C read: four polls without a wait would
    // all see busy. The read sleeps about half a millisecond between polls instead.
    auto speaker = Start("clock=virtual");
    speaker->Record(true);
    std::vector<uint8_t> data(16);
    ASSERT_EQ(rmEepromAccess(0, 0, data.data(), 16), 1);
    const std::vector<uint8_t> eeprom = speaker->Eeprom();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), eeprom.begin()));
    const rmStats stats = rmGetStats();
    EXPECT_EQ(stats.writeWaits, 0u);
    EXPECT_GE(stats.readWaits, 1u);
    EXPECT_LE(stats.readWaits, 4u);
    // No poll comes more than a short sleep plus one transfer after the previous one.
    const std::vector<ControlRecord> r = speaker->TakeRecords();
    for (size_t i = 1; i < r.size(); ++i) {
        if (IsRegRead(r[i], 0x94) && IsRegRead(r[i - 1], 0x94)) {
            EXPECT_LE(r[i].time - r[i - 1].time, 750us + 1us);
        }
    }
}

TEST_F(TransportTest, WriteWaitsMoreThanTenMillisecondsOnTheClock) {
    auto speaker = Start("clock=virtual");
    speaker->Record(true);
    std::vector<uint8_t> data(16, 0x44);
    ASSERT_EQ(rmEepromAccess(1, 0, data.data(), 16), 1);
    EXPECT_EQ(rmGetStats().writeWaits, 1u);
    std::vector<ControlRecord> polls;
    for (const ControlRecord& r : speaker->TakeRecords())
        if (IsRegRead(r, 0x94))
            polls.push_back(r);
    ASSERT_EQ(polls.size(), 2u);
    EXPECT_EQ(polls[0].data, std::vector<uint8_t>{0x80});
    EXPECT_EQ(polls[1].data, std::vector<uint8_t>{0x00});
    // The wait itself, then the poll's own transfer latency.
    const auto between = polls[1].time - polls[0].time;
    EXPECT_GT(between, 10ms + 250us - 1us);
    EXPECT_LT(between, 10ms + 250us + 10us);
}

// --- whole EEPROMs at realistic timing ------------------------------------------------------

struct TimingCase {
    uint32_t khz;
    uint32_t latencyUs;
};

class TransportTiming : public TransportTest, public ::testing::WithParamInterface<TimingCase> {};

TEST_P(TransportTiming, WholeEepromComesBackEqual) {
    const TimingCase& c = GetParam();
    auto speaker = Start("clock=virtual,i2c-khz=" + std::to_string(c.khz) +
                         ",latency-us=" + std::to_string(c.latencyUs));
    const uint32_t size = speaker->EepromSize();
    std::vector<uint8_t> data = Pattern(size, c.khz * 7 + c.latencyUs);
    // Some timings meet the write cycle of the previous page: NACKs, retried.
    ::testing::internal::CaptureStderr();
    const int written = rmEepromAccess(1, 0, data.data(), size);
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(written, 1);
    EXPECT_EQ(speaker->Eeprom(), data);
    std::vector<uint8_t> back(size, 0);
    ASSERT_EQ(rmEepromAccess(0, 0, back.data(), size), 1);
    EXPECT_EQ(back, data);
}

INSTANTIATE_TEST_SUITE_P(Realistic, TransportTiming,
                         ::testing::Values(TimingCase{100, 125}, TimingCase{100, 250},
                                           TimingCase{100, 500}, TimingCase{100, 1000},
                                           TimingCase{400, 125}, TimingCase{400, 250},
                                           TimingCase{400, 500}, TimingCase{400, 1000}),
                         [](const auto& info) {
                             return std::to_string(info.param.khz) + "kHz_" +
                                    std::to_string(info.param.latencyUs) + "us";
                         });

class TransportSizes : public TransportTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(TransportSizes, WholeEepromComesBackEqual) {
    const uint32_t size = GetParam();
    auto speaker = Start("clock=virtual,eeprom=" + std::to_string(size));
    std::vector<uint8_t> data = Pattern(size, size);
    ASSERT_EQ(rmEepromAccess(1, 0, data.data(), size), 1);
    EXPECT_EQ(speaker->Eeprom(), data);
    std::vector<uint8_t> back(size, 0);
    ASSERT_EQ(rmEepromAccess(0, 0, back.data(), size), 1);
    EXPECT_EQ(back, data);
}

INSTANTIATE_TEST_SUITE_P(Densities, TransportSizes,
                         ::testing::Values(256u, 512u, 1024u, 2048u, 4096u, 8192u, 16384u, 32768u,
                                           65536u));

// --- selection --------------------------------------------------------------------------------

TEST_F(TransportTest, SelectsTheLastAnsweringAudioDeviceWithTheIds) {
    m_clock = std::make_shared<VirtualClock>();
    dormane::SetCurrentClock(m_clock);
    auto backend = std::make_shared<SimBackend>(m_clock);
    Scenario s;
    s.latencyUs = 0;
    auto make = [&](uint8_t marker) {
        auto speaker = std::make_shared<SimSpeaker>(s, m_clock);
        speaker->PokeEeprom(0, {marker});
        return speaker;
    };
    auto first = make(1), hidOnly = make(2), otherPid = make(3), last = make(4), mute = make(5);
    hidOnly->SetIdentity(kVid, kPid, {dormane::kUsbClassHid});
    otherPid->SetIdentity(kVid, 0x0083, {dormane::kUsbClassAudio, dormane::kUsbClassHid});
    mute->SetInterceptor([](const ControlRecord& r) -> std::optional<UsbResult> {
        return IsRegRead(r, 0x0000) ? std::optional(UsbResult::Stall) : std::nullopt;
    });
    backend->AddSpeaker(first);
    backend->AddSpeaker(hidOnly);
    backend->AddSpeaker(otherPid);
    const std::string lastPath = backend->AddSpeaker(last);
    backend->AddSpeaker(mute);
    rmSetBackend(backend);
    ASSERT_EQ(rmInitialize(), 1);

    EXPECT_EQ(rmSelectAudioDevice(kVid, kPid), 2);
    EXPECT_EQ(hidOnly->Counters().controlTransfers, 0u);
    EXPECT_EQ(otherPid->Counters().controlTransfers, 0u);
    EXPECT_EQ(mute->Counters().controlTransfers, 1u);

    ASSERT_EQ(rmDeviceStart(kVid, kPid), 1);
    ASSERT_NE(rmSelectedDevice(), nullptr);
    EXPECT_EQ(rmSelectedDevice()->path, lastPath);
    uint8_t marker = 0;
    ASSERT_EQ(rmEepromAccess(0, 0, &marker, 1), 1);
    EXPECT_EQ(marker, 4);

    EXPECT_EQ(rmDeviceStart(kVid, 0x0083), 1);
    ASSERT_EQ(rmEepromAccess(0, 0, &marker, 1), 1);
    EXPECT_EQ(marker, 3);
    EXPECT_EQ(rmDeviceStart(kVid, 0x0099), 0);
    EXPECT_EQ(rmLastError(), UsbResult::NotFound);
    EXPECT_EQ(rmSelectedDevice(), nullptr);
}

// A backend whose device is listed but may not be opened, as without a udev rule.
class LockedBackend final : public dormane::UsbBackend {
public:
    const char* Name() const override { return "locked"; }
    UsbResult Init() override { return UsbResult::Ok; }
    UsbResult Enumerate(std::vector<dormane::UsbDeviceInfo>& out) override {
        dormane::UsbDeviceInfo info;
        info.path = "locked-1";
        info.vid = kVid;
        info.pid = kPid;
        info.interfaceClasses = {dormane::kUsbClassAudio};
        out = {info};
        return UsbResult::Ok;
    }
    UsbResult Open(const std::string&, std::unique_ptr<dormane::UsbDevice>&) override {
        return UsbResult::NoPermission;
    }
};

TEST_F(TransportTest, TellsNoPermissionFromNotFound) {
    rmSetBackend(std::make_shared<LockedBackend>());
    ASSERT_EQ(rmInitialize(), 1);
    EXPECT_EQ(rmDeviceStart(kVid, kPid), 0);
    EXPECT_EQ(rmLastError(), UsbResult::NoPermission);
    EXPECT_EQ(rmDeviceStart(kVid, 0x1234), 0);
    EXPECT_EQ(rmLastError(), UsbResult::NotFound);
}

// The simulated backend ends a short data stage as the libusb one does.
TEST_F(TransportTest, AShortReadSucceedsWithZerosAndAShortWriteFails) {
    auto speaker = Start("clock=virtual");
    speaker->SetShortIn(3);
    uint8_t block[6];
    std::fill(std::begin(block), std::end(block), 0xAA);
    ASSERT_EQ(rmRegRead(0x00, 6, block), 1);
    EXPECT_EQ(block[0], 0x65);
    EXPECT_EQ(block[2], 0x0D);
    EXPECT_EQ(std::vector<uint8_t>(block + 3, block + 6), std::vector<uint8_t>(3, 0));
    speaker->SetShortIn(std::nullopt);
    EXPECT_EQ(dormane::CompleteDataStage(0x40, 0x01, 0x40, block, 6, 5), UsbResult::Io);
    EXPECT_EQ(dormane::CompleteDataStage(0xC0, 0x02, 0x40, block, 6, 6), UsbResult::Ok);
}

TEST_F(TransportTest, BackendThatCannotStartFailsInitialisation) {
    m_clock = std::make_shared<VirtualClock>();
    Scenario s;
    std::string error;
    ASSERT_TRUE(dormane::sim::ParseScenario("no-driver", s, error));
    rmSetBackend(SimBackend::Create(s, m_clock, error));
    dormane::SetDebugOutputEcho(true);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(rmInitialize(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Driver Handle invalid!!\n");
    dormane::SetDebugOutputEcho(false);
    EXPECT_EQ(rmLastError(), UsbResult::NotSupported);
    EXPECT_EQ(rmDeviceStart(kVid, kPid), 0);
    EXPECT_EQ(rmDeviceStop(), 0);
}

TEST_F(TransportTest, UnplugDuringAReadFailsItAndTheSpeakerIsGone) {
    auto speaker = Start("clock=virtual,unplug-after=40");
    std::vector<uint8_t> data(256);
    EXPECT_EQ(rmEepromAccess(0, 0, data.data(), 256), 0);
    EXPECT_TRUE(speaker->Unplugged());
    EXPECT_EQ(rmDeviceStart(kVid, kPid), 0);
    EXPECT_EQ(rmLastError(), UsbResult::NotFound);
}

TEST_F(TransportTest, SettingTheEepromSizeSurvivesReselection) {
    Start("clock=virtual");
    rmSetEepromSize(0x2000);
    ASSERT_EQ(rmDeviceStart(kVid, kPid), 1);
    EXPECT_EQ(rmGetEepromSize(), 0x2000u);
}

} // namespace
