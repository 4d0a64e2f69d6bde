// The WinUSB backend over a fake system: which present device node is the speaker, the
// setup packet of every request byte by byte, Windows' errors, string 50, a speaker without
// a WinUSB binding, and discovery from SetupAPI's own hardware IDs.
#include "Discovery.h"
#include "Sim.h"
#include "Transport.h"
#include "WinUsbSystem.h"

#include <gtest/gtest.h>

#include <array>
#include <map>

using dormane::UsbDeviceInfo;
using dormane::UsbResult;
using namespace dormane::winusb;

namespace {

constexpr const char* kInterfacePath = "\\\\?\\usb#vid_0d8c&pid_0082&mi_03#7&1a2b&0&0003#{guid}";

// The speaker as Windows lists it: the composite device, its audio interface and its HID
// interface, the latter bound to WinUSB; and a mouse beside it.
std::vector<PresentDevice> SpeakerNodes(bool boundToWinUsb = true) {
    return {
        {"USB\\VID_046D&PID_C077\\5&AA&0&1",
         "",
         {"USB\\VID_046D&PID_C077&REV_7200"},
         {"USB\\Class_03&SubClass_01"},
         "HidUsb",
         ""},
        {"USB\\VID_0D8C&PID_0082\\5&1F&0&3",
         "",
         {"USB\\VID_0D8C&PID_0082&REV_0813", "USB\\VID_0D8C&PID_0082"},
         {"USB\\DevClass_00&SubClass_00", "USB\\COMPOSITE"},
         "usbccgp",
         ""},
        {"USB\\VID_0D8C&PID_0082&MI_00\\7&1A2B&0&0000",
         "USB\\VID_0D8C&PID_0082\\5&1F&0&3",
         {"USB\\VID_0D8C&PID_0082&REV_0813&MI_00"},
         {"USB\\Class_01&SubClass_01&Prot_00"},
         "usbaudio",
         ""},
        {"USB\\VID_0D8C&PID_0082&MI_03\\7&1A2B&0&0003",
         "USB\\VID_0D8C&PID_0082\\5&1F&0&3",
         {"USB\\VID_0D8C&PID_0082&REV_0813&MI_03"},
         {"USB\\Class_03&SubClass_00&Prot_00"},
         boundToWinUsb ? "WinUSB" : "HidUsb",
         boundToWinUsb ? kInterfacePath : ""},
    };
}

// Answers as SetupAPI and WinUSB would; the transfers go to a simulated speaker.
class FakeSystem final : public System {
public:
    FakeSystem() {
        dormane::sim::Scenario scenario;
        scenario.virtualClock = true;
        std::string error;
        m_sim = dormane::sim::SimBackend::Create(scenario,
                                                 std::make_shared<dormane::VirtualClock>(), error);
        std::vector<UsbDeviceInfo> devices;
        m_sim->Enumerate(devices);
        m_sim->Open(devices.at(0).path, m_device);
        nodes = SpeakerNodes();
    }

    bool ListMediaDevices(std::vector<std::vector<std::string>>& lists) override {
        lists = mediaLists;
        return mediaListOk;
    }
    bool ListUsbDevices(std::vector<PresentDevice>& out) override {
        out = nodes;
        return true;
    }
    bool Open(const std::string& path, intptr_t& handle, uint32_t& error) override {
        openedPaths.push_back(path);
        if (openError) {
            error = openError;
            return false;
        }
        handle = 7;
        ++openHandles;
        return true;
    }
    void Close(intptr_t handle) override {
        EXPECT_EQ(handle, 7);
        --openHandles;
    }
    bool ControlTransfer(intptr_t, const uint8_t setup[8], uint8_t* data, uint32_t length,
                         uint32_t& transferred, uint32_t& error) override {
        std::array<uint8_t, 8> packet{};
        std::copy(setup, setup + 8, packet.begin());
        packets.push_back(packet);
        if (transferError) {
            error = transferError;
            return false;
        }
        const uint16_t wValue = static_cast<uint16_t>(setup[2] | setup[3] << 8);
        const uint16_t wIndex = static_cast<uint16_t>(setup[4] | setup[5] << 8);
        const UsbResult r = m_device->ControlTransfer(setup[0], setup[1], wValue, wIndex, data,
                                                      static_cast<uint16_t>(length));
        if (r != UsbResult::Ok) {
            error = kErrorGenFailure;
            return false;
        }
        transferred = shortBy < length ? length - shortBy : 0;
        return true;
    }
    bool GetDescriptor(intptr_t, uint8_t type, uint8_t index, uint16_t language, uint8_t* buffer,
                       uint32_t length, uint32_t& got, uint32_t& error) override {
        descriptorRequests.push_back({type, index, language});
        std::vector<uint8_t> descriptor;
        if (index == 0) {
            descriptor = {4, 3, 0x07, 0x04}; // one language: 0x0407
        } else {
            std::string text;
            if (m_device->ReadString(index, text) != UsbResult::Ok) {
                error = kErrorGenFailure;
                return false;
            }
            const std::vector<uint8_t> utf16 = dormane::Utf8ToUtf16Le(text);
            descriptor = {static_cast<uint8_t>(2 + utf16.size()), 3};
            descriptor.insert(descriptor.end(), utf16.begin(), utf16.end());
        }
        got = static_cast<uint32_t>(std::min<size_t>(descriptor.size(), length));
        std::copy(descriptor.begin(), descriptor.begin() + got, buffer);
        return true;
    }

    std::vector<PresentDevice> nodes;
    std::vector<std::vector<std::string>> mediaLists;
    bool mediaListOk = true;
    uint32_t openError = 0;
    uint32_t transferError = 0;
    uint32_t shortBy = 0;
    int openHandles = 0;
    std::vector<std::string> openedPaths;
    std::vector<std::array<uint8_t, 8>> packets;
    struct DescriptorRequest {
        uint8_t type, index;
        uint16_t language;
    };
    std::vector<DescriptorRequest> descriptorRequests;

private:
    std::shared_ptr<dormane::sim::SimBackend> m_sim;
    std::unique_ptr<dormane::UsbDevice> m_device;
};

class WinUsbBackendTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeSystem> system = std::make_shared<FakeSystem>();
    std::shared_ptr<dormane::UsbBackend> backend = MakeWinUsbBackend(system);

    std::unique_ptr<dormane::UsbDevice> OpenSpeaker() {
        std::vector<UsbDeviceInfo> devices;
        EXPECT_EQ(backend->Enumerate(devices), UsbResult::Ok);
        std::unique_ptr<dormane::UsbDevice> device;
        EXPECT_EQ(backend->Open(devices.at(1).path, device), UsbResult::Ok);
        return device;
    }
};

TEST_F(WinUsbBackendTest, TheCompositeSpeakerIsOneDeviceReachedThroughItsWinUsbInterface) {
    std::vector<UsbDeviceInfo> devices;
    ASSERT_EQ(backend->Enumerate(devices), UsbResult::Ok);
    ASSERT_EQ(devices.size(), 2u); // the mouse and the speaker; interfaces are not devices
    const UsbDeviceInfo& speaker = devices[1];
    EXPECT_EQ(speaker.vid, 0x0D8C);
    EXPECT_EQ(speaker.pid, 0x0082);
    EXPECT_EQ(speaker.bcdDevice, 0x0813);
    EXPECT_TRUE(speaker.HasInterfaceClass(dormane::kUsbClassAudio));
    EXPECT_TRUE(speaker.HasInterfaceClass(dormane::kUsbClassHid));
    EXPECT_EQ(speaker.path, kInterfacePath);
    EXPECT_EQ(speaker.lockKey, "usb-USB\\VID_0D8C&PID_0082\\5&1F&0&3");
    EXPECT_EQ(speaker.journalKey, "usb-vid-0D8C");
    EXPECT_TRUE(devices[0].path.empty()); // the mouse has no WinUSB interface
}

TEST_F(WinUsbBackendTest, ASpeakerWithoutWinUsbIsPresentButCannotBeOpened) {
    system->nodes = SpeakerNodes(false);
    std::vector<UsbDeviceInfo> devices;
    ASSERT_EQ(backend->Enumerate(devices), UsbResult::Ok);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(devices[1].path.empty());
    std::unique_ptr<dormane::UsbDevice> device;
    EXPECT_EQ(backend->Open(devices[1].path, device), UsbResult::NoPermission);
    EXPECT_EQ(device, nullptr);
    EXPECT_TRUE(system->openedPaths.empty());

    // The transport reports it as a speaker it may not open, which the front ends explain.
    rmSetBackend(backend);
    ASSERT_EQ(rmInitialize(), 1);
    EXPECT_EQ(rmDeviceStart(0x0D8C, 0x0082), 0);
    EXPECT_EQ(rmLastError(), UsbResult::NoPermission);
    rmSetBackend(nullptr);
}

TEST_F(WinUsbBackendTest, EveryRequestGoesOutAsItsSetupPacketByteForByte) {
    auto device = OpenSpeaker();
    ASSERT_NE(device, nullptr);
    struct Case {
        uint8_t type, request;
        uint16_t value, index, length;
        std::array<uint8_t, 8> wire;
    };
    const Case cases[] = {
        {0xC0, 0x02, 0x0094, 0x0000, 1, {0xC0, 0x02, 0x94, 0x00, 0x00, 0x00, 0x01, 0x00}},
        {0x40, 0x01, 0x0080, 0x0000, 16, {0x40, 0x01, 0x80, 0x00, 0x00, 0x00, 0x10, 0x00}},
        {0x40, 0x01, 0x0090, 0x0000, 5, {0x40, 0x01, 0x90, 0x00, 0x00, 0x00, 0x05, 0x00}},
        {0xC0, 0x02, 0x0083, 0x0000, 16, {0xC0, 0x02, 0x83, 0x00, 0x00, 0x00, 0x10, 0x00}},
        {0xC0, 0x02, 0x1234, 0xABCD, 2, {0xC0, 0x02, 0x34, 0x12, 0xCD, 0xAB, 0x02, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        system->packets.clear();
        std::vector<uint8_t> data(c.length, 0);
        device->ControlTransfer(c.type, c.request, c.value, c.index, data.data(), c.length);
        ASSERT_EQ(system->packets.size(), 1u);
        EXPECT_EQ(system->packets[0], c.wire);
    }
}

TEST_F(WinUsbBackendTest, WindowsErrorsBecomeTheBackendsResults) {
    auto device = OpenSpeaker();
    ASSERT_NE(device, nullptr);
    const std::pair<uint32_t, UsbResult> cases[] = {
        {kErrorGenFailure, UsbResult::Stall},
        {kErrorSemTimeout, UsbResult::Timeout},
        {kErrorDeviceNotConnected, UsbResult::NotFound},
        {kErrorBadCommand, UsbResult::NotFound},
        {kErrorAccessDenied, UsbResult::NoPermission},
        {87, UsbResult::Io},
    };
    for (const auto& [error, expected] : cases) {
        system->transferError = error;
        uint8_t status = 0;
        EXPECT_EQ(device->ControlTransfer(0xC0, 0x02, 0x94, 0, &status, 1), expected) << error;
    }
}

TEST_F(WinUsbBackendTest, AShortReadIsZeroFilledAndAShortWriteFails) {
    auto device = OpenSpeaker();
    ASSERT_NE(device, nullptr);
    system->shortBy = 2;
    uint8_t in[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(device->ControlTransfer(0xC0, 0x02, 0x83, 0, in, sizeof in), UsbResult::Ok);
    EXPECT_EQ(in[2], 0);
    EXPECT_EQ(in[3], 0);
    uint8_t out[4] = {};
    EXPECT_EQ(device->ControlTransfer(0x40, 0x01, 0x83, 0, out, sizeof out), UsbResult::Io);
}

TEST_F(WinUsbBackendTest, String50IsReadInTheDevicesOwnLanguage) {
    auto device = OpenSpeaker();
    ASSERT_NE(device, nullptr);
    std::string text;
    ASSERT_EQ(device->ReadString(50, text), UsbResult::Ok);
    EXPECT_EQ(text, "5023B");
    ASSERT_EQ(system->descriptorRequests.size(), 2u);
    EXPECT_EQ(system->descriptorRequests[0].index, 0);
    EXPECT_EQ(system->descriptorRequests[1].type, 3);
    EXPECT_EQ(system->descriptorRequests[1].index, 50);
    EXPECT_EQ(system->descriptorRequests[1].language, 0x0407);
}

TEST_F(WinUsbBackendTest, OpenFailuresAndTheHandleIsClosedWithTheDevice) {
    const std::pair<uint32_t, UsbResult> cases[] = {
        {kErrorAccessDenied, UsbResult::NoPermission}, // another program has it open
        {kErrorFileNotFound, UsbResult::NotFound},     // unplugged since the enumeration
        {1, UsbResult::Io},
    };
    for (const auto& [error, expected] : cases) {
        system->openError = error;
        std::unique_ptr<dormane::UsbDevice> device;
        EXPECT_EQ(backend->Open(kInterfacePath, device), expected);
    }
    system->openError = 0;
    {
        auto device = OpenSpeaker();
        EXPECT_EQ(system->openHandles, 1);
    }
    EXPECT_EQ(system->openHandles, 0);
}

TEST_F(WinUsbBackendTest, TheEngineReadsTheSpeakerThroughTheBackend) {
    rmSetBackend(backend);
    ASSERT_EQ(rmInitialize(), 1);
    ASSERT_EQ(rmDeviceStart(0x0D8C, 0x0082), 1);
    uint8_t head[2] = {};
    EXPECT_EQ(rmEepromAccess(0, 0, head, 2), 1);
    EXPECT_EQ(head[0], 0x56); // the image's magic word
    EXPECT_EQ(head[1], 0x58);
    rmDeviceStop();
    rmSetBackend(nullptr);
}

TEST(WinUsbHardwareId, Parsing) {
    struct Case {
        const char* id;
        bool ok;
        uint16_t vid, pid, rev;
        int mi;
    };
    const Case cases[] = {
        {"USB\\VID_0D8C&PID_0082&REV_0813", true, 0x0D8C, 0x0082, 0x0813, -1},
        {"usb\\vid_0d8c&pid_0082&rev_0813&mi_03", true, 0x0D8C, 0x0082, 0x0813, 3},
        {"USB\\VID_0D8C&PID_0082", true, 0x0D8C, 0x0082, 0, -1},
        {"USB\\VID_0D8C", false, 0, 0, 0, -1},
        {"HID\\VID_0D8C&PID_0082", false, 0, 0, 0, -1},
        {"USB\\ROOT_HUB30", false, 0, 0, 0, -1},
    };
    for (const Case& c : cases) {
        uint16_t vid = 0, pid = 0, rev = 0;
        int mi = -1;
        EXPECT_EQ(ParseUsbHardwareId(c.id, vid, pid, rev, mi), c.ok) << c.id;
        if (!c.ok)
            continue;
        EXPECT_EQ(vid, c.vid) << c.id;
        EXPECT_EQ(pid, c.pid) << c.id;
        EXPECT_EQ(rev, c.rev) << c.id;
        EXPECT_EQ(mi, c.mi) << c.id;
    }
}

// Discovery takes SetupAPI's own lists of the media class, not the enumeration.
TEST_F(WinUsbBackendTest, DiscoveryReadsTheSystemsHardwareIds) {
    system->mediaLists = {
        {"HDAUDIO\\FUNC_01&VEN_10EC"}, {}, {"usb\\vid_0d8c&pid_00a1&rev_0803&mi_00"}};
    uint16_t pid = 0xFFFF;
    std::string version;
    EXPECT_EQ(dormane::FindUsbSpeakerOn(backend.get(), pid, version), dormane::kSpeakerFound);
    EXPECT_EQ(pid, 0x00A1);
    EXPECT_EQ(version, "v8.03");

    system->mediaListOk = false; // the device list cannot be opened
    pid = 0xFFFF;
    EXPECT_EQ(dormane::FindUsbSpeakerOn(backend.get(), pid, version), dormane::kSpeakerNotFound);
    EXPECT_EQ(pid, 0xFFFF);
}

} // namespace
