// The simulated speaker's own behaviours where they carry logic: the EEPROM's addressing,
// wrap-around and write cycle, the controller's timing, the faults and the scenario text.
#include "Sim.h"
#include "ImageBuilder.h"
#include "Transport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;
using dormane::UsbResult;
using dormane::VirtualClock;
using dormane::sim::Eeprom24C;
using dormane::sim::ParseScenario;
using dormane::sim::Scenario;
using dormane::sim::SimBackend;
using dormane::sim::SimSpeaker;

namespace {

// --- the EEPROM at the level of I2C bytes ----------------------------------------------------

class EepromBus {
public:
    explicit EepromBus(uint32_t size, Eeprom24C::Time twr = 3ms) : chip(size, twr) {
        for (uint32_t i = 0; i < size; ++i)
            chip.Memory()[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    }
    // START, device byte, address bytes: true when all were acknowledged.
    bool Address(uint8_t device, std::initializer_list<uint8_t> address) {
        chip.Start();
        if (!chip.WriteByte(device, now))
            return false;
        for (uint8_t a : address)
            if (!chip.WriteByte(a, now))
                return false;
        return true;
    }
    std::vector<uint8_t> ReadFrom(uint8_t device, std::initializer_list<uint8_t> address,
                                  size_t n) {
        std::vector<uint8_t> out;
        if (!Address(device, address))
            return out;
        chip.Start();
        if (!chip.WriteByte(device | 1, now))
            return out;
        for (size_t i = 0; i < n; ++i)
            out.push_back(chip.ReadByte());
        chip.Stop(now);
        return out;
    }
    bool Write(uint8_t device, std::initializer_list<uint8_t> address,
               const std::vector<uint8_t>& data) {
        if (!Address(device, address))
            return false;
        for (uint8_t b : data)
            chip.WriteByte(b, now);
        chip.Stop(now);
        return true;
    }
    uint8_t At(uint32_t p) const { return chip.Memory()[p]; }

    Eeprom24C chip;
    Eeprom24C::Time now{0};
};

struct DensityCase {
    uint32_t size;
    uint32_t page;
    int addressBytes;
    std::vector<uint8_t> answers;
    std::vector<uint8_t> silent;
};

class EepromDensity : public ::testing::TestWithParam<DensityCase> {};

TEST_P(EepromDensity, AnswersItsAddressesWithItsPageAndAddressWidth) {
    const DensityCase& c = GetParam();
    EepromBus bus(c.size);
    EXPECT_EQ(bus.chip.PageSize(), c.page);
    EXPECT_EQ(bus.chip.AddressBytes(), c.addressBytes);
    for (uint8_t dev : c.answers) {
        EXPECT_TRUE(bus.Address(dev, {})) << std::hex << int(dev);
        bus.chip.Stop(bus.now);
    }
    for (uint8_t dev : c.silent) {
        EXPECT_FALSE(bus.Address(dev, {})) << std::hex << int(dev);
        bus.chip.Stop(bus.now);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Datasheets, EepromDensity,
    ::testing::Values(DensityCase{256, 8, 1, {0xA0}, {0xA2, 0xA8, 0xB0}},
                      DensityCase{512, 16, 1, {0xA0, 0xA2}, {0xA4, 0xA8}},
                      DensityCase{1024, 16, 1, {0xA0, 0xA2, 0xA4, 0xA6}, {0xA8, 0xAE}},
                      DensityCase{2048, 16, 1, {0xA0, 0xA6, 0xA8, 0xAE}, {0xB0, 0x50}},
                      DensityCase{4096, 32, 2, {0xA8}, {0xA0, 0xAA}},
                      DensityCase{16384, 64, 2, {0xA8}, {0xA0, 0xAE}},
                      DensityCase{65536, 128, 2, {0xA8}, {0xA2}}),
    [](const auto& info) { return std::to_string(info.param.size); });

TEST(Eeprom, BlockBitsOfASmallChipSelectItsBlocks) {
    EepromBus bus(2048);
    // Device byte 0xA6 = block 3: position 0x3F0.
    EXPECT_EQ(bus.ReadFrom(0xA6, {0xF0}, 1), std::vector<uint8_t>{bus.At(0x3F0)});
    EXPECT_EQ(bus.ReadFrom(0xAE, {0xFF}, 1), std::vector<uint8_t>{bus.At(0x7FF)});
}

TEST(Eeprom, PositionOfTheSizeReadsPositionZero) {
    for (uint32_t size : {4096u, 8192u, 16384u, 32768u}) {
        SCOPED_TRACE(size);
        EepromBus bus(size);
        const uint8_t hi = static_cast<uint8_t>(size >> 8);
        EXPECT_EQ(bus.ReadFrom(0xA8, {hi, 0x00}, 6), bus.ReadFrom(0xA8, {0x00, 0x00}, 6));
    }
    // 64 KB: position 0x10000 travels as 0x00 0x00 anyway.
    EepromBus big(65536);
    EXPECT_EQ(big.ReadFrom(0xA8, {0xFF, 0xFE}, 4),
              (std::vector<uint8_t>{big.At(0xFFFE), big.At(0xFFFF), big.At(0), big.At(1)}));
}

TEST(Eeprom, SequentialReadWrapsAtTheEndOfTheArray) {
    EepromBus bus(256);
    EXPECT_EQ(bus.ReadFrom(0xA0, {0xFE}, 4),
              (std::vector<uint8_t>{bus.At(0xFE), bus.At(0xFF), bus.At(0), bus.At(1)}));
}

TEST(Eeprom, WriteWrapsInsideItsPage) {
    // 20 bytes into a 16-byte page from offset 0: the last four overwrite the first four.
    EepromBus bus(2048);
    std::vector<uint8_t> data(20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(0xC0 + i);
    const uint8_t nextPage = bus.At(0x110);
    ASSERT_TRUE(bus.Write(0xA2, {0x00}, data)); // position 0x100
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(bus.At(0x100 + i), i < 4 ? 0xC0 + 16 + i : 0xC0 + i) << i;
    EXPECT_EQ(bus.At(0x110), nextPage);

    // From the middle of a page: the counter's low bits wrap to the page start.
    EepromBus big(16384);
    ASSERT_TRUE(big.Write(0xA8, {0x00, 0x3E}, {1, 2, 3, 4})); // 64-byte page 0..63
    EXPECT_EQ(big.At(0x3E), 1);
    EXPECT_EQ(big.At(0x3F), 2);
    EXPECT_EQ(big.At(0x00), 3);
    EXPECT_EQ(big.At(0x01), 4);
}

TEST(Eeprom, WriteTakesEffectAtTheStopOnly) {
    EepromBus bus(16384);
    const uint8_t old = bus.At(0x200);
    ASSERT_TRUE(bus.Address(0xA8, {0x02, 0x00}));
    ASSERT_TRUE(bus.chip.WriteByte(static_cast<uint8_t>(~old), bus.now));
    EXPECT_EQ(bus.At(0x200), old);
    // A repeated start instead of a stop abandons the write (a random read's dummy write).
    bus.chip.Start();
    bus.chip.Stop(bus.now);
    EXPECT_EQ(bus.At(0x200), old);
    EXPECT_FALSE(bus.chip.InWriteCycle(bus.now));
    ASSERT_TRUE(bus.Write(0xA8, {0x02, 0x00}, {static_cast<uint8_t>(~old)}));
    EXPECT_EQ(bus.At(0x200), static_cast<uint8_t>(~old));
}

TEST(Eeprom, NacksItsAddressDuringTheWriteCycle) {
    EepromBus bus(16384, 3ms);
    ASSERT_TRUE(bus.Write(0xA8, {0, 0}, {0x55}));
    bus.now += 2999us;
    EXPECT_FALSE(bus.Address(0xA8, {}));
    bus.chip.Stop(bus.now);
    bus.now += 1us;
    EXPECT_TRUE(bus.Address(0xA8, {}));
    bus.chip.Stop(bus.now);
    // An address without data starts no write cycle.
    EXPECT_FALSE(bus.chip.InWriteCycle(bus.now));
}

TEST(Eeprom, ReadWithoutAllAddressBytesGoesOnFromTheCounter) {
    EepromBus bus(16384);
    ASSERT_EQ(bus.ReadFrom(0xA8, {0x12, 0x34}, 2).size(), 2u); // counter now 0x1236
    // One address byte on a two-byte chip: the counter is not loaded.
    EXPECT_EQ(bus.ReadFrom(0xA8, {0x00}, 1), std::vector<uint8_t>{bus.At(0x1236)});
    EXPECT_EQ(bus.chip.AddressCounter(), 0x1237u);
}

TEST(Eeprom, ExtraBytesAfterAOneByteAddressAreData) {
    EepromBus bus(2048);
    ASSERT_TRUE(bus.Write(0xA0, {0x10}, {0x99})); // as if a second address byte were sent
    EXPECT_EQ(bus.At(0x10), 0x99);
}

// --- the controller, over control transfers --------------------------------------------------

class Controller : public ::testing::Test {
protected:
    void Make(const std::string& text) {
        Scenario s;
        std::string error;
        ASSERT_TRUE(ParseScenario(text, s, error)) << error;
        clock = std::make_shared<VirtualClock>();
        speaker = SimSpeaker::Create(s, clock, error);
        ASSERT_TRUE(speaker) << error;
    }
    UsbResult Write(uint16_t reg, std::vector<uint8_t> bytes) {
        uint16_t actual = 0;
        return speaker->Control(0x40, 0x01, reg, 0, bytes.data(),
                                static_cast<uint16_t>(bytes.size()), actual);
    }
    uint8_t Status() {
        uint8_t b = 0xFF;
        uint16_t actual = 0;
        EXPECT_EQ(speaker->Control(0xC0, 0x02, 0x94, 0, &b, 1, actual), UsbResult::Ok);
        return b;
    }
    // Loads a block: device byte, the two position bytes, count and command.
    void Block(uint8_t dev, uint8_t p1, uint8_t p2, uint8_t count, uint8_t cmd) {
        std::vector<uint8_t> head(16, 0);
        head[0] = dev, head[1] = p1, head[2] = p2;
        ASSERT_EQ(Write(0x80, head), UsbResult::Ok);
        ASSERT_EQ(Write(0x90, {0, 0, 0, count, cmd}), UsbResult::Ok);
    }

    std::shared_ptr<VirtualClock> clock;
    std::shared_ptr<SimSpeaker> speaker;
};

// replug-after-ms: an EEPROM access that only reads, after one that wrote, is a burn's
// read-back; N ms later the speaker is off the bus for a second and comes back running what
// its EEPROM holds, as a new device.
TEST_F(Controller, ReplugAfterAReadBackComesBackWithTheEepromsFirmware) {
    Make("fw=0803,latency-us=0,replug-after-ms=500");
    speaker->PokeEeprom(0, dormane::imagebuilder::BuildSampleImage(0x0813));
    SimBackend backend(clock);
    const std::string path = backend.AddSpeaker(speaker);
    std::unique_ptr<dormane::UsbDevice> before;
    ASSERT_EQ(backend.Open(path, before), UsbResult::Ok);
    auto session = [&](bool writes) {
        ASSERT_EQ(Write(0x95, {0x80}), UsbResult::Ok);
        if (writes) {
            Block(0xA8, 0x00, 0x30, 1, 0xB0); // one byte at 0x3000, past the image
            clock->Advance(10ms);
            EXPECT_EQ(Status(), 0);
        }
        ASSERT_EQ(Write(0x95, {0x00}), UsbResult::Ok);
    };
    session(false); // a read before any write arms nothing
    clock->Advance(600ms);
    EXPECT_FALSE(speaker->PowerCycling());
    session(true);
    clock->Advance(600ms);
    EXPECT_FALSE(speaker->PowerCycling()); // writing is not the end of a burn
    session(false);
    clock->Advance(499ms);
    EXPECT_FALSE(speaker->PowerCycling());
    EXPECT_EQ(speaker->BcdDevice(), 0x0803);
    clock->Advance(1ms);
    EXPECT_TRUE(speaker->PowerCycling());
    std::vector<dormane::UsbDeviceInfo> devices;
    ASSERT_EQ(backend.Enumerate(devices), UsbResult::Ok);
    EXPECT_TRUE(devices.empty());
    EXPECT_EQ(Write(0x95, {0x00}), UsbResult::NotFound);
    clock->Advance(1000ms);
    EXPECT_FALSE(speaker->PowerCycling());
    ASSERT_EQ(backend.Enumerate(devices), UsbResult::Ok);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].bcdDevice, 0x0813);
    // The handle opened before the power cycle is stale; a new one works.
    uint8_t b = 0;
    EXPECT_EQ(before->ControlTransfer(0xC0, 0x02, 0x94, 0, &b, 1), UsbResult::NotFound);
    std::unique_ptr<dormane::UsbDevice> after;
    ASSERT_EQ(backend.Open(path, after), UsbResult::Ok);
    EXPECT_EQ(after->ControlTransfer(0xC0, 0x02, 0x94, 0, &b, 1), UsbResult::Ok);
    // Reads after the comeback (an attach) do not start another cycle.
    session(false);
    clock->Advance(2000ms);
    EXPECT_FALSE(speaker->PowerCycling());
    EXPECT_EQ(speaker->Counters().failedTransfers, 1u);
}

TEST_F(Controller, StatusIsBusyForTheTransferTimeAtTheBusClock) {
    // A 16-byte read with two position bytes: 20 bytes of 9 bits, start, repeated start and
    // stop: 183 bits, 1.83 ms at 100 kHz and 0.4575 ms at 400 kHz.
    for (auto [khz, bits] : {std::pair{100u, 183u}, std::pair{400u, 183u}}) {
        SCOPED_TRACE(khz);
        Make("latency-us=0,i2c-khz=" + std::to_string(khz));
        Block(0xA9, 0, 0, 16, 0xBA);
        const auto duration = std::chrono::nanoseconds(bits * 1000000ull / khz);
        clock->Advance(duration - 1us);
        EXPECT_EQ(Status(), 0x80);
        clock->Advance(1us);
        EXPECT_EQ(Status(), 0x00);
        uint8_t data[16] = {};
        uint16_t actual = 0;
        ASSERT_EQ(speaker->Control(0xC0, 0x02, 0x83, 0, data, 16, actual), UsbResult::Ok);
        const std::vector<uint8_t> eeprom = speaker->Eeprom();
        EXPECT_TRUE(std::equal(data, data + 16, eeprom.begin()));
    }
}

TEST_F(Controller, NobodyAtTheAddressIsANack) {
    Make("latency-us=0");
    Block(0xA1, 0, 0, 1, 0x9A); // a 16 KB chip answers 0xA8 only
    clock->Advance(1ms);
    EXPECT_EQ(Status(), 0x01);
    ASSERT_EQ(Write(0x94, {0x50}), UsbResult::Ok);
    EXPECT_EQ(Status(), 0x00);
    EXPECT_EQ(speaker->Counters().nacksAnswered, 1u);
}

TEST_F(Controller, WriteCycleNacksTheNextTransfer) {
    Make("latency-us=0,twr-us=3000");
    Block(0xA8, 0x00, 0x00, 4, 0xB0);
    clock->Advance(1ms);
    ASSERT_EQ(Status(), 0x00);
    Block(0xA9, 0, 0, 1, 0xBA);
    clock->Advance(1ms);
    EXPECT_EQ(Status(), 0x01);
    clock->Advance(2ms);
    Block(0xA9, 0, 0, 1, 0xBA);
    clock->Advance(1ms);
    EXPECT_EQ(Status(), 0x00);
    EXPECT_EQ(speaker->Counters().eepromWrites, 1u);
}

TEST_F(Controller, CommandsWhileBusyAreIgnored) {
    Make("latency-us=0");
    Block(0xA9, 0, 0, 16, 0xBA);
    Block(0xA9, 0, 0, 16, 0xBA);
    EXPECT_EQ(speaker->Counters().i2cTransfers, 1u);
    EXPECT_EQ(speaker->Counters().commandsWhileBusy, 1u);
}

TEST_F(Controller, EveryTransferTakesTheLatencyOnTheClock) {
    Make("latency-us=250");
    const auto before = clock->Now();
    Status();
    Status();
    EXPECT_EQ(clock->Now() - before, 500us);
}

TEST_F(Controller, StallsWhatTheControllerDoesNotKnow) {
    Make("latency-us=0");
    uint8_t b[4] = {};
    uint16_t actual = 0;
    EXPECT_EQ(speaker->Control(0xC0, 0x01, 0x94, 0, b, 1, actual), UsbResult::Stall);
    EXPECT_EQ(speaker->Control(0xC0, 0x02, 0x94, 1, b, 1, actual), UsbResult::Stall);
    EXPECT_EQ(speaker->Control(0xC0, 0x02, 0xFE, 0, b, 4, actual), UsbResult::Stall);
    EXPECT_EQ(speaker->Control(0xC1, 0x02, 0x94, 0, b, 1, actual), UsbResult::Stall);
    EXPECT_EQ(speaker->Control(0x80, 0x06, 0x0307, 0x0409, b, 4, actual), UsbResult::Stall);
    EXPECT_EQ(speaker->Counters().failedTransfers, 5u);
}

TEST_F(Controller, UnplugFailsEveryTransferAfterTheNth) {
    Make("latency-us=0,unplug-after=3");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Status(), 0x00);
    uint8_t b = 0;
    uint16_t actual = 0;
    EXPECT_EQ(speaker->Control(0xC0, 0x02, 0x94, 0, &b, 1, actual), UsbResult::NotFound);
    EXPECT_TRUE(speaker->Unplugged());
    SimBackend backend(clock);
    const std::string path = backend.AddSpeaker(speaker);
    std::vector<dormane::UsbDeviceInfo> list;
    ASSERT_EQ(backend.Enumerate(list), UsbResult::Ok);
    EXPECT_TRUE(list.empty());
    std::unique_ptr<dormane::UsbDevice> device;
    EXPECT_EQ(backend.Open(path, device), UsbResult::NotFound);
}

TEST_F(Controller, NackRateIsReproducibleForASeed) {
    auto nacksOf = [&](const std::string& text) {
        Make("latency-us=0,nack=30," + text);
        std::vector<bool> seen;
        for (int i = 0; i < 200; ++i) {
            Block(0xA9, 0, 0, 1, 0xBA);
            clock->Advance(1ms);
            seen.push_back(Status() & 0x01);
        }
        return seen;
    };
    const std::vector<bool> a = nacksOf("seed=7"), b = nacksOf("seed=7"), c = nacksOf("seed=8");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    const auto count = std::count(a.begin(), a.end(), true);
    EXPECT_GT(count, 30);
    EXPECT_LT(count, 90);
}

// --- USB identity and strings ---------------------------------------------------------------

TEST(SimIdentity, PresentsTheScenarioOverUsb) {
    struct Case {
        std::string text;
        uint16_t pid, rev;
        std::string string50;
    };
    for (const Case& c :
         {Case{"", 0x0082, 0x0813, "5023B"}, Case{"fw=0x0803", 0x0082, 0x0803, "5023B"},
          Case{"fw=0803,rev=0x0900,pid=00a1,string50=5023C", 0x00A1, 0x0900, "5023C"}}) {
        SCOPED_TRACE(c.text);
        Scenario s;
        std::string error;
        ASSERT_TRUE(ParseScenario(c.text + ",clock=virtual", s, error)) << error;
        auto backend = SimBackend::Create(s, std::make_shared<VirtualClock>(), error);
        ASSERT_TRUE(backend);
        std::vector<dormane::UsbDeviceInfo> list;
        ASSERT_EQ(backend->Init(), UsbResult::Ok);
        ASSERT_EQ(backend->Enumerate(list), UsbResult::Ok);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].vid, 0x0D8C);
        EXPECT_EQ(list[0].pid, c.pid);
        EXPECT_EQ(list[0].bcdDevice, c.rev);
        EXPECT_TRUE(list[0].HasInterfaceClass(dormane::kUsbClassAudio));
        EXPECT_TRUE(list[0].HasInterfaceClass(dormane::kUsbClassHid));
        std::unique_ptr<dormane::UsbDevice> device;
        ASSERT_EQ(backend->Open(list[0].path, device), UsbResult::Ok);
        std::string text;
        ASSERT_EQ(device->ReadString(50, text), UsbResult::Ok);
        EXPECT_EQ(text, c.string50);
        EXPECT_EQ(device->ReadString(49, text), UsbResult::Stall);
        // The descriptors carry the same identity.
        const std::vector<uint8_t> d = backend->Speaker()->Descriptors();
        ASSERT_GE(d.size(), 18u);
        EXPECT_EQ(d[8] | d[9] << 8, 0x0D8C);
        EXPECT_EQ(d[10] | d[11] << 8, c.pid);
        EXPECT_EQ(d[12] | d[13] << 8, c.rev);
    }
}

TEST(SimIdentity, NonAsciiString50SurvivesTheUtf16Trip) {
    Scenario s;
    s.string50 = "5023\xC3\x9F\xF0\x9F\x94\x8A"; // sharp s and a speaker sign
    auto speaker = std::make_shared<SimSpeaker>(s, std::make_shared<VirtualClock>());
    SimBackend backend(std::make_shared<VirtualClock>());
    const std::string path = backend.AddSpeaker(speaker);
    std::unique_ptr<dormane::UsbDevice> device;
    ASSERT_EQ(backend.Open(path, device), UsbResult::Ok);
    std::string text;
    ASSERT_EQ(device->ReadString(50, text), UsbResult::Ok);
    EXPECT_EQ(text, s.string50);
}

TEST(SimContent, DefaultIsTheSampleImageOrItsBrokenTwin) {
    struct Case {
        std::string text;
        std::vector<uint8_t> image;
    };
    namespace ib = dormane::imagebuilder;
    for (const Case& c :
         {Case{"", ib::BuildSampleImage(0x0813)}, Case{"fw=0x0803", ib::BuildSampleImage(0x0803)},
          Case{"broken", ib::BuildSampleImageBroken(0x0813)}}) {
        SCOPED_TRACE(c.text);
        Scenario s;
        std::string error;
        ASSERT_TRUE(ParseScenario(c.text, s, error));
        SimSpeaker speaker(s, std::make_shared<VirtualClock>());
        const std::vector<uint8_t> eeprom = speaker.Eeprom();
        ASSERT_EQ(eeprom.size(), 16384u);
        EXPECT_TRUE(std::equal(c.image.begin(), c.image.end(), eeprom.begin()));
        EXPECT_TRUE(std::all_of(eeprom.begin() + c.image.size(), eeprom.end(),
                                [](uint8_t b) { return b == 0xFF; }));
    }
    EXPECT_NE(ib::BuildSampleImage(0x0813), ib::BuildSampleImageBroken(0x0813));
}

// --- eeprom-file ----------------------------------------------------------------------------

class EepromFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::path(::testing::TempDir()) /
              ("dormane-sim-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        dormane::sim::UninstallSimulatedSpeaker();
        dormane::SetCurrentClock(nullptr);
        std::filesystem::remove_all(dir);
    }
    static std::vector<uint8_t> Slurp(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::filesystem::path dir;
};

TEST_F(EepromFile, NewFileGetsTheDefaultContentAndEveryWrite) {
    const auto path = dir / "eeprom.bin";
    std::string error;
    ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker(
        "clock=virtual,eeprom=4096,eeprom-file=" + path.string(), error))
        << error;
    auto speaker = dormane::sim::InstalledSimBackend()->Speaker();
    EXPECT_EQ(Slurp(path), speaker->Eeprom());
    ASSERT_EQ(rmInitialize(), 1);
    ASSERT_EQ(rmDeviceStart(0x0D8C, 0x0082), 1);
    std::vector<uint8_t> data(100, 0x3C);
    ASSERT_EQ(rmEepromAccess(1, 0x50, data.data(), 100), 1);
    const std::vector<uint8_t> file = Slurp(path);
    EXPECT_EQ(file, speaker->Eeprom());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 0x50));
}

TEST_F(EepromFile, ExistingFileIsTheContentAndAShortOneGrowsOnTheFirstWrite) {
    const auto path = dir / "short.bin";
    const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5};
    ASSERT_TRUE(dormane::imagebuilder::WriteFile(path.string(), bytes));
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario("eeprom=256,latency-us=0,eeprom-file=" + path.string(), s, error));
    auto speaker = SimSpeaker::Create(s, std::make_shared<VirtualClock>(), error);
    ASSERT_TRUE(speaker) << error;
    std::vector<uint8_t> expected(256, 0xFF);
    std::copy(bytes.begin(), bytes.end(), expected.begin());
    EXPECT_EQ(speaker->Eeprom(), expected);
    EXPECT_EQ(Slurp(path), bytes); // reading leaves the file alone

    // One byte written at position 9 through the controller.
    uint16_t actual = 0;
    std::vector<uint8_t> head(16, 0);
    head[0] = 0xA0, head[1] = 9, head[3] = 0x77;
    ASSERT_EQ(speaker->Control(0x40, 0x01, 0x80, 0, head.data(), 16, actual), UsbResult::Ok);
    uint8_t tail[5] = {0, 0, 0, 1, 0x90};
    ASSERT_EQ(speaker->Control(0x40, 0x01, 0x90, 0, tail, 5, actual), UsbResult::Ok);
    expected[9] = 0x77;
    EXPECT_EQ(Slurp(path), expected);
}

TEST_F(EepromFile, FileLargerThanTheEepromIsABadScenario) {
    const auto path = dir / "big.bin";
    ASSERT_TRUE(dormane::imagebuilder::WriteFile(path.string(), std::vector<uint8_t>(600)));
    std::string error;
    EXPECT_FALSE(
        dormane::sim::InstallSimulatedSpeaker("eeprom=512,eeprom-file=" + path.string(), error));
    EXPECT_EQ(error.rfind("eeprom-file:", 0), 0u) << error;
}

// --- the scenario text ----------------------------------------------------------------------

TEST(ScenarioText, DefaultsAreARealisticPresentSpeaker) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario("", s, error));
    EXPECT_EQ(s.pid, 0x0082);
    EXPECT_EQ(s.fw, 0x0813);
    EXPECT_EQ(s.Rev(), 0x0813);
    EXPECT_EQ(s.string50, "5023B");
    EXPECT_EQ(s.eepromSize, 16384u);
    EXPECT_FALSE(s.absent || s.broken || s.noDriver || s.virtualClock);
    EXPECT_EQ(s.nackPercent, 0);
    EXPECT_FALSE(s.unplugAfter);
    EXPECT_EQ(s.latencyUs, 250u);
    EXPECT_EQ(s.i2cKhz, 100u);
    EXPECT_EQ(s.twrUs, 3000u);
}

TEST(ScenarioText, EveryKeyIsRead) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario("pid=0x00A1,rev=0901,fw=0x0803,string50=5023C,eeprom=0x800,"
                              "eeprom-file=/x/y.bin,absent,broken,no-driver,nack=12.5,"
                              "unplug-after=7,latency-us=125,i2c-khz=400,twr-us=5000,"
                              "clock=virtual,seed=42,replug-after-ms=500",
                              s, error))
        << error;
    EXPECT_EQ(s.replugAfterMs, 500u);
    EXPECT_EQ(s.pid, 0x00A1);
    EXPECT_EQ(s.Rev(), 0x0901);
    EXPECT_EQ(s.fw, 0x0803);
    EXPECT_EQ(s.string50, "5023C");
    EXPECT_EQ(s.eepromSize, 2048u);
    EXPECT_EQ(s.eepromFile, "/x/y.bin");
    EXPECT_TRUE(s.absent && s.broken && s.noDriver && s.virtualClock);
    EXPECT_EQ(s.nackPercent, 12.5);
    EXPECT_EQ(s.unplugAfter, 7u);
    EXPECT_EQ(s.latencyUs, 125u);
    EXPECT_EQ(s.i2cKhz, 400u);
    EXPECT_EQ(s.twrUs, 5000u);
    EXPECT_EQ(s.seed, 42u);
}

TEST(ScenarioText, BadItemsNameTheirKey) {
    struct Case {
        const char* text;
        const char* key;
    };
    for (const Case& c :
         {Case{"pid=xyz", "pid"}, Case{"pid=0x12345", "pid"}, Case{"fw=", "fw"}, Case{"rev", "rev"},
          Case{"eeprom=1000", "eeprom"}, Case{"eeprom=128", "eeprom"},
          Case{"eeprom=131072", "eeprom"}, Case{"nack=101", "nack"}, Case{"nack=-1", "nack"},
          Case{"unplug-after=two", "unplug-after"}, Case{"latency-us=1.5", "latency-us"},
          Case{"i2c-khz=0", "i2c-khz"}, Case{"twr-us=", "twr-us"}, Case{"clock=fast", "clock"},
          Case{"seed=-3", "seed"}, Case{"absent=1", "absent"}, Case{"broken=yes", "broken"},
          Case{"fw=0813,colour=red", "colour"}, Case{"eeprom-file=", "eeprom-file"},
          Case{"replug-after-ms=soon", "replug-after-ms"}, Case{"replay=", "replay"},
          // A recording is the whole speaker: nothing of the model goes with it.
          Case{"replay=r.jsonl,fw=0803", "replay"}, Case{"nack=5,replay=r.jsonl", "replay"}}) {
        SCOPED_TRACE(c.text);
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenario(c.text, s, error));
        EXPECT_EQ(error.rfind(std::string(c.key) + ":", 0), 0u) << error;
    }
}

// --- installing it -------------------------------------------------------------------------

class Install : public ::testing::Test {
protected:
    void TearDown() override {
        rmSetBackend(nullptr);
        dormane::SetCurrentClock(nullptr);
    }
};

TEST_F(Install, InstallsTheBackendAndTheClockItAsksFor) {
    std::string error;
    ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker("clock=virtual,latency-us=1000", error));
    EXPECT_STREQ(rmBackend()->Name(), "simulated");
    auto clock = std::dynamic_pointer_cast<VirtualClock>(dormane::CurrentClock());
    ASSERT_TRUE(clock);
    ASSERT_EQ(rmInitialize(), 1);
    const auto before = clock->Now();
    ASSERT_EQ(rmDeviceStart(0x0D8C, 0x0082), 1);
    EXPECT_EQ(clock->Now() - before, 1ms); // the probe, on the installed clock
    EXPECT_EQ(dormane::sim::InstalledSimBackend()->Speaker()->Counters().controlTransfers, 1u);

    ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker("", error));
    EXPECT_TRUE(std::dynamic_pointer_cast<dormane::RealClock>(dormane::CurrentClock()));
}

TEST_F(Install, AbsentAndNoDriverFailWhereTheEngineLooks) {
    std::string error;
    ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker("absent,clock=virtual", error));
    ASSERT_EQ(rmInitialize(), 1);
    EXPECT_EQ(rmDeviceStart(0x0D8C, 0x0082), 0);
    EXPECT_EQ(rmLastError(), UsbResult::NotFound);

    ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker("no-driver,clock=virtual", error));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(rmInitialize(), 0);
    ::testing::internal::GetCapturedStderr();
}

TEST_F(Install, BadScenarioLeavesTheBackendAlone) {
    std::string error;
    ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker("clock=virtual", error));
    auto installed = dormane::sim::InstalledSimBackend();
    EXPECT_FALSE(dormane::sim::InstallSimulatedSpeaker("i2c-khz=fast", error));
    EXPECT_EQ(error.rfind("i2c-khz:", 0), 0u);
    EXPECT_EQ(dormane::sim::InstalledSimBackend(), installed);
    EXPECT_EQ(rmBackend(), installed.get());
}

// The burn drives the transport on its own thread while another thread watches: the
// speaker's counters and content must be safe to read meanwhile.
TEST_F(Install, InspectionWhileAnotherThreadBurns) {
    std::string error;
    ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker("clock=virtual,eeprom=4096", error));
    ASSERT_EQ(rmInitialize(), 1);
    ASSERT_EQ(rmDeviceStart(0x0D8C, 0x0082), 1);
    auto speaker = dormane::sim::InstalledSimBackend()->Speaker();
    std::vector<uint8_t> data(4096, 0xA5);
    std::atomic<bool> done{false};
    std::thread burner([&] {
        EXPECT_EQ(rmEepromAccess(1, 0, data.data(), 4096), 1);
        done = true;
    });
    uint64_t last = 0;
    while (!done) {
        const uint64_t now = speaker->Counters().i2cTransfers;
        EXPECT_GE(now, last);
        last = now;
        (void)speaker->Eeprom();
        (void)rmGetStats();
        std::this_thread::yield();
    }
    burner.join();
    EXPECT_EQ(speaker->Eeprom(), data);
}

} // namespace
