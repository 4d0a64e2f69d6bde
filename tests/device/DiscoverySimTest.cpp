#include "Discovery.h"

#include "Sim.h"
#include "Transport.h"

#include <gtest/gtest.h>

namespace dormane {
namespace {

struct SimCase {
    const char* name;
    const char* scenario;
    int result;
    uint16_t pid;
    const char* version;
};

class DiscoveryOnSimulatedSpeaker : public ::testing::TestWithParam<SimCase> {
protected:
    void TearDown() override { rmSetBackend(nullptr); }
};

TEST_P(DiscoveryOnSimulatedSpeaker, FindsItThroughTheProcessWideBackend) {
    const SimCase& c = GetParam();
    std::string error;
    ASSERT_TRUE(sim::InstallSimulatedSpeaker(c.scenario, error)) << error;
    uint16_t pid = 0xFFFF;
    std::string version = "untouched";
    EXPECT_EQ(FindUsbSpeaker(pid, version), c.result);
    EXPECT_EQ(pid, c.result ? c.pid : 0xFFFF);
    EXPECT_EQ(version, c.result ? c.version : "untouched");
}

const SimCase kSimCases[] = {
    {"DefaultSpeaker", "", 1, 0x0082, "v8.13"},
    {"NonStandbyFirmware", "fw=0803", 1, 0x0082, "v8.03"},
    {"OtherProductAndRelease", "pid=00a1,rev=0100", 1, 0x00A1, "v1.0"},
    {"TwoDigitMajor", "rev=1210", 1, 0x0082, "v12.1"},
    {"NoSpeaker", "absent", 0, 0, ""},
    {"NoUsbStack", "no-driver", 0, 0, ""},
};

INSTANTIATE_TEST_SUITE_P(Table, DiscoveryOnSimulatedSpeaker, ::testing::ValuesIn(kSimCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DiscoveryOnSimulatedSpeakers, TheFirstSpeakerOnTheBusWins) {
    std::string error;
    ASSERT_TRUE(sim::InstallSimulatedSpeaker("pid=0011,fw=0813", error)) << error;
    auto backend = sim::InstalledSimBackend();
    ASSERT_NE(backend, nullptr);
    sim::Scenario second;
    second.pid = 0x0022;
    second.fw = 0x0803;
    backend->AddSpeaker(std::make_shared<sim::SimSpeaker>(second, backend->GetClock()));

    uint16_t pid = 0xFFFF;
    std::string version;
    EXPECT_EQ(FindUsbSpeaker(pid, version), kSpeakerFound);
    EXPECT_EQ(pid, 0x0011);
    EXPECT_EQ(version, "v8.13");
    rmSetBackend(nullptr);
}

} // namespace
} // namespace dormane
