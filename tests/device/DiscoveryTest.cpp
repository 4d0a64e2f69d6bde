#include "Discovery.h"

#include "UsbBackend.h"

#include <gtest/gtest.h>

namespace dormane {
namespace {

constexpr uint16_t kUntouchedPid = 0xFFFF; // the wizard's m_wPid before discovery
const std::string kUntouchedText = "untouched";

using Lists = std::vector<std::vector<std::string>>;

struct SearchCase {
    const char* name;
    Lists lists;
    int result;
    uint16_t pid;        // expected when found
    const char* version; // expected when found
};

class HardwareIdSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(HardwareIdSearch, FindsFirstSpeakerAndParsesItsId) {
    const SearchCase& c = GetParam();
    uint16_t pid = kUntouchedPid;
    std::string version = kUntouchedText;
    EXPECT_EQ(FindUsbSpeakerInHardwareIds(c.lists, pid, version), c.result);
    if (c.result == kSpeakerFound) {
        EXPECT_EQ(pid, c.pid);
        EXPECT_EQ(version, c.version);
    } else {
        EXPECT_EQ(pid, kUntouchedPid);
        EXPECT_EQ(version, kUntouchedText);
    }
}

const SearchCase kSearchCases[] = {
    {"StandbyFirmware", {{"USB\\VID_0D8C&PID_0082&REV_0813"}}, 1, 0x0082, "v8.13"},
    {"NonStandbyFirmware", {{"USB\\VID_0D8C&PID_0082&REV_0803"}}, 1, 0x0082, "v8.03"},
    {"MinorZeroDropsItsTrailingZero", {{"USB\\VID_0D8C&PID_0082&REV_0800"}}, 1, 0x0082, "v8.0"},
    {"TwoDigitMajor", {{"USB\\VID_0D8C&PID_0082&REV_1213"}}, 1, 0x0082, "v12.13"},
    {"TwoDigitMajorMinorZero", {{"USB\\VID_0D8C&PID_0082&REV_1210"}}, 1, 0x0082, "v12.1"},
    {"OtherProductAndVersionOne", {{"USB\\VID_0D8C&PID_00A1&REV_0100"}}, 1, 0x00A1, "v1.0"},
    {"LowerCaseIdWithInterfaceField",
     {{"usb\\vid_0d8c&pid_0082&rev_0813&mi_00"}},
     1,
     0x0082,
     "v8.13"},
    {"LowerCaseHexProduct", {{"usb\\vid_0d8c&pid_00a1&rev_0813"}}, 1, 0x00A1, "v8.13"},
    {"LaterStringsOfTheListAreIgnored",
     {{"USB\\VID_1234&PID_0001&REV_0100", "USB\\VID_0D8C&PID_0082&REV_0813"}},
     0,
     0,
     ""},
    {"FirstStringMatchesLaterStringsIgnored",
     {{"USB\\VID_0D8C&PID_0082&REV_0813", "USB\\VID_0D8C&PID_0099&REV_0803"}},
     1,
     0x0082,
     "v8.13"},
    {"FirstMatchingDeviceWins",
     {{"USB\\VID_046D&PID_0A44&REV_0100"},
      {"USB\\VID_0D8C&PID_0011&REV_0813"},
      {"USB\\VID_0D8C&PID_0022&REV_0803"}},
     1,
     0x0011,
     "v8.13"},
    {"UnreadableDeviceIsSkipped", {{}, {"USB\\VID_0D8C&PID_0082&REV_0803"}}, 1, 0x0082, "v8.03"},
    {"OnlyUnreadableDevices", {{}, {}}, 0, 0, ""},
    {"NoDevices", {}, 0, 0, ""},
    {"OtherVendorOnly", {{"USB\\VID_0D8D&PID_0082&REV_0813"}}, 0, 0, ""},
    {"PrefixCutShort", {{"USB\\VID_0D8C&PID"}}, 0, 0, ""},
    {"EndsRightAfterPrefix", {{"USB\\VID_0D8C&PID_"}}, 1, 0, "v."},
    {"ShortProductId", {{"USB\\VID_0D8C&PID_8"}}, 1, 0x0008, "v."},
    {"NoRevisionDigits", {{"USB\\VID_0D8C&PID_0082&REV_"}}, 1, 0x0082, "v."},
    {"ShortRevision", {{"USB\\VID_0D8C&PID_0082&REV_08"}}, 1, 0x0082, "v8.08"},
    {"ProductStopsAtFirstNonHexDigit", {{"USB\\VID_0D8C&PID_0G82&REV_0813"}}, 1, 0x0000, "v8.13"},
    {"ProductWithoutDigits", {{"USB\\VID_0D8C&PID_&REV_0813"}}, 1, 0x0000, "v."},
    {"PrefixNotAtStart", {{"SWD\\USB\\VID_0D8C&PID_0082&REV_0813"}}, 1, 0x0082, "v8.13"},
};

INSTANTIATE_TEST_SUITE_P(Table, HardwareIdSearch, ::testing::ValuesIn(kSearchCases),
                         [](const auto& info) { return std::string(info.param.name); });

UsbDeviceInfo Device(uint16_t vid, uint16_t pid, uint16_t bcd, std::vector<uint8_t> classes) {
    UsbDeviceInfo info;
    info.path = "fake:" + std::to_string(vid) + ":" + std::to_string(pid);
    info.vid = vid;
    info.pid = pid;
    info.bcdDevice = bcd;
    info.interfaceClasses = std::move(classes);
    return info;
}

TEST(HardwareIdLists, OneUpperCaseIdPerAudioDevice) {
    const std::vector<UsbDeviceInfo> devices = {
        Device(0x0d8c, 0xabcd, 0x0813, {kUsbClassAudio, kUsbClassAudio, kUsbClassHid}),
        Device(0x0d8c, 0x0082, 0x0803, {kUsbClassHid}), // no audio function
        Device(0x0d8c, 0x0082, 0x0803, {}),             // configuration unreadable
        Device(0x046d, 0x0a44, 0x0100, {kUsbClassAudio}),
    };
    const Lists expected = {{"USB\\VID_0D8C&PID_ABCD&REV_0813"},
                            {"USB\\VID_046D&PID_0A44&REV_0100"}};
    EXPECT_EQ(HardwareIdLists(devices), expected);
}

class FakeBackend : public UsbBackend {
public:
    const char* Name() const override { return "fake"; }
    UsbResult Init() override { return initResult; }
    UsbResult Enumerate(std::vector<UsbDeviceInfo>& out) override {
        ++enumerations;
        out = devices;
        return enumerateResult;
    }
    UsbResult Open(const std::string&, std::unique_ptr<UsbDevice>&) override {
        return UsbResult::NotSupported;
    }

    UsbResult initResult = UsbResult::Ok;
    UsbResult enumerateResult = UsbResult::Ok;
    std::vector<UsbDeviceInfo> devices;
    int enumerations = 0;
};

struct SourceCase {
    const char* name;
    UsbResult init;
    UsbResult enumerate;
    std::vector<UsbDeviceInfo> devices;
    int result;
    uint16_t pid;
    const char* version;
};

class BackendSearch : public ::testing::TestWithParam<SourceCase> {};

TEST_P(BackendSearch, SearchesTheAudioDevicesTheBackendLists) {
    const SourceCase& c = GetParam();
    FakeBackend backend;
    backend.initResult = c.init;
    backend.enumerateResult = c.enumerate;
    backend.devices = c.devices;
    uint16_t pid = kUntouchedPid;
    std::string version = kUntouchedText;
    EXPECT_EQ(FindUsbSpeakerOn(&backend, pid, version), c.result);
    EXPECT_EQ(pid, c.result ? c.pid : kUntouchedPid);
    EXPECT_EQ(version, c.result ? c.version : kUntouchedText);
}

const SourceCase kSourceCases[] = {
    {"Speaker",
     UsbResult::Ok,
     UsbResult::Ok,
     {Device(0x0d8c, 0x0082, 0x0813, {1, 3})},
     1,
     0x0082,
     "v8.13"},
    {"SpeakerBehindHidOnlyDeviceOfSameVendor",
     UsbResult::Ok,
     UsbResult::Ok,
     {Device(0x0d8c, 0x0013, 0x0100, {kUsbClassHid}), Device(0x0d8c, 0x00a1, 0x0803, {1})},
     1,
     0x00A1,
     "v8.03"},
    {"UnreadableConfigurationSkipped",
     UsbResult::Ok,
     UsbResult::Ok,
     {Device(0x0d8c, 0x0013, 0x0813, {}), Device(0x0d8c, 0x0082, 0x1210, {1})},
     1,
     0x0082,
     "v12.1"},
    {"OnlyOtherVendors",
     UsbResult::Ok,
     UsbResult::Ok,
     {Device(0x046d, 0x0a44, 0x0813, {1})},
     0,
     0,
     ""},
    {"NoDevices", UsbResult::Ok, UsbResult::Ok, {}, 0, 0, ""},
    {"EnumerationFails",
     UsbResult::Ok,
     UsbResult::Io,
     {Device(0x0d8c, 0x0082, 0x0813, {1})},
     0,
     0,
     ""},
    {"NoUsbSubsystem",
     UsbResult::NotSupported,
     UsbResult::Ok,
     {Device(0x0d8c, 0x0082, 0x0813, {1})},
     0,
     0,
     ""},
};

INSTANTIATE_TEST_SUITE_P(Table, BackendSearch, ::testing::ValuesIn(kSourceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BackendSearch, NoBackendFindsNothing) {
    uint16_t pid = kUntouchedPid;
    std::string version = kUntouchedText;
    EXPECT_EQ(FindUsbSpeakerOn(nullptr, pid, version), kSpeakerNotFound);
    EXPECT_EQ(pid, kUntouchedPid);
    EXPECT_EQ(version, kUntouchedText);
}

} // namespace
} // namespace dormane
