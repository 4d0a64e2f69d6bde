// The libusb backend for real: the simulated speaker is presented to libusb as a usbfs device
// through umockdev, and a live ioctl handler forwards every control URB to the speaker model.
// So listing, opening, string descriptors and the transport's register traffic all run
// through libusb's own Linux code. Run under umockdev-wrapper; without it the emulated
// cases skip and only the plain machine's case runs.
#include "Clock.h"
#include "DebugOutput.h"
#include "Sim.h"
#include "ThreadChecker.h"
#include "Transport.h"
#include "UsbBackend.h"

#include <gtest/gtest.h>

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

using dormane::UsbDevice;
using dormane::UsbDeviceInfo;
using dormane::UsbResult;
using dormane::VirtualClock;
using dormane::sim::Scenario;
using dormane::sim::SimSpeaker;

namespace {

constexpr uint16_t kVid = 0x0D8C;
constexpr uint16_t kPid = 0x0082;

bool UnderUmockdev() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "umockdev") != nullptr;
}

struct GObjectUnref {
    void operator()(gpointer p) const {
        if (p != nullptr)
            g_object_unref(p);
    }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectUnref>;

// One emulated usbfs node: answers libusb's ioctls with the speaker model on umockdev's
// handler thread, one ioctl at a time; the test's thread only creates and destroys it.
class UsbfsNode {
public:
    explicit UsbfsNode(std::shared_ptr<SimSpeaker> speaker)
        : m_pSpeaker(std::move(speaker)), m_pHandler(umockdev_ioctl_base_new()) {
        g_signal_connect(m_pHandler.get(), "handle-ioctl", G_CALLBACK(&UsbfsNode::OnIoctl), this);
        dormane::HandOver(this); // to umockdev's handler thread, through GLib
    }
    ~UsbfsNode() {
        std::lock_guard<std::mutex> guard(m_lock); // the handler thread may not be joined yet
        for (const Completed& c : m_vReady) {
            g_object_unref(c.urb);
            g_object_unref(c.client);
        }
    }
    UsbfsNode(const UsbfsNode&) = delete;
    UsbfsNode& operator=(const UsbfsNode&) = delete;

    UMockdevIoctlBase* Handler() const { return m_pHandler.get(); }

private:
    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        dormane::TakeOver(self);
        auto* node = static_cast<UsbfsNode*>(self);
        std::lock_guard<std::mutex> guard(node->m_lock);
        return node->Handle(client);
    }

    gboolean Handle(UMockdevIoctlClient* client) {
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            GPtr<UMockdevIoctlData> caps(
                umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr));
            *reinterpret_cast<guint32*>(caps->data) =
                USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESET:
        case USBDEVFS_RESETEP:
        case USBDEVFS_SETCONFIGURATION:
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        case USBDEVFS_SUBMITURB:
            Submit(client, arg);
            return TRUE;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            Reap(client, arg);
            return TRUE;
        case USBDEVFS_DISCARDURB:
            // Every URB completes at once: nothing is left in flight to discard. The argument
            // is the URB's address itself, not a pointer to resolve.
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
        default:
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            return TRUE;
        }
    }

    void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        if (m_pSpeaker->Unplugged()) {
            // What the kernel answers once the device has left the bus.
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return;
        }
        UMockdevIoctlData* urbData =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->buffer_length < 8) {
            g_object_unref(urbData);
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        GPtr<UMockdevIoctlData> buffer(umockdev_ioctl_data_resolve(
            urbData, offsetof(usbdevfs_urb, buffer), urb->buffer_length, nullptr));
        uint8_t* setup = static_cast<uint8_t*>(buffer->data);
        const uint16_t wValue = static_cast<uint16_t>(setup[2] | setup[3] << 8);
        const uint16_t wIndex = static_cast<uint16_t>(setup[4] | setup[5] << 8);
        const uint16_t wLength = static_cast<uint16_t>(setup[6] | setup[7] << 8);
        const uint16_t length =
            static_cast<uint16_t>(std::min<int>(wLength, urb->buffer_length - 8));
        uint16_t actual = 0;
        const UsbResult r =
            m_pSpeaker->Control(setup[0], setup[1], wValue, wIndex, setup + 8, length, actual);
        switch (r) {
        case UsbResult::Ok:
            urb->status = 0;
            break;
        case UsbResult::Stall:
            urb->status = -EPIPE;
            break;
        case UsbResult::NotFound:
            urb->status = -ENODEV;
            break;
        default:
            urb->status = -EPROTO;
            break;
        }
        urb->actual_length = r == UsbResult::Ok ? actual : 0;
        // Reaped later through the same file descriptor; the references go with it.
        m_vReady.push_back({static_cast<UMockdevIoctlClient*>(g_object_ref(client)), urbData});
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        // Each opened descriptor reaps only its own URBs, as with the kernel.
        auto it = std::find_if(m_vReady.begin(), m_vReady.end(),
                               [client](const Completed& c) { return c.client == client; });
        if (it == m_vReady.end()) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return;
        }
        const Completed done = *it;
        m_vReady.erase(it);
        GPtr<UMockdevIoctlData> slot(
            umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr));
        umockdev_ioctl_data_set_ptr(slot.get(), 0, done.urb);
        g_object_unref(done.urb);
        g_object_unref(done.client);
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    struct Completed {
        UMockdevIoctlClient* client;
        UMockdevIoctlData* urb;
    };

    std::shared_ptr<SimSpeaker> m_pSpeaker;
    GPtr<UMockdevIoctlBase> m_pHandler;
    std::deque<Completed> m_vReady;
    std::mutex m_lock;
};

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// The sysfs record of a full-speed device at bus 1, port `port`, as the kernel shows it.
std::string SysfsRecord(const SimSpeaker& speaker, int port) {
    char buf[1024];
    std::snprintf(buf, sizeof buf,
                  "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d\n"
                  "N: bus/usb/001/%03d\n"
                  "E: DEVNAME=/dev/bus/usb/001/%03d\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DRIVER=usb\n"
                  "E: BUSNUM=001\n"
                  "E: DEVNUM=%03d\n"
                  "E: MAJOR=189\n"
                  "E: MINOR=%d\n"
                  "A: busnum=1\\n\n"
                  "A: devnum=%d\\n\n"
                  "A: speed=12\\n\n"
                  "A: bcdDevice=%04x\\n\n"
                  "A: idVendor=%04x\\n\n"
                  "A: idProduct=%04x\\n\n"
                  "A: bConfigurationValue=1\\n\n",
                  port, port + 1, port + 1, port + 1, port, port + 1, speaker.BcdDevice(),
                  speaker.Vid(), speaker.Pid());
    return std::string(buf) + "H: descriptors=" + Hex(speaker.Descriptors()) + "\n";
}

class Emulated : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UnderUmockdev())
            GTEST_SKIP() << "needs umockdev-wrapper (LD_PRELOAD of the umockdev interposer)";
        m_pTestbed.reset(umockdev_testbed_new());
        ASSERT_TRUE(m_pTestbed);
        m_clock = std::make_shared<VirtualClock>();
        dormane::SetCurrentClock(m_clock);
    }

    void TearDown() override {
        rmSetBackend(nullptr);
        dormane::SetCurrentClock(nullptr);
        m_backend.reset();
        m_pTestbed.reset();
        m_vNodes.clear();
    }

    std::shared_ptr<SimSpeaker> AddSpeaker(const std::string& scenarioText, int port) {
        Scenario s;
        std::string error;
        EXPECT_TRUE(dormane::sim::ParseScenario(scenarioText, s, error)) << error;
        auto speaker = SimSpeaker::Create(s, m_clock, error);
        EXPECT_TRUE(speaker) << error;
        Present(speaker, port);
        return speaker;
    }

    void Present(const std::shared_ptr<SimSpeaker>& speaker, int port) {
        m_vNodes.push_back(std::make_unique<UsbfsNode>(speaker));
        char node[64];
        std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", port + 1);
        GError* error = nullptr;
        // The handler first, so that the node answers as soon as the device appears.
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(m_pTestbed.get(), node,
                                                  m_vNodes.back()->Handler(), &error))
            << (error ? error->message : "");
        ASSERT_TRUE(umockdev_testbed_add_from_string(m_pTestbed.get(),
                                                     SysfsRecord(*speaker, port).c_str(), &error))
            << (error ? error->message : "");
    }

    // libusb reads the bus when its context starts: create the backend after the devices.
    dormane::UsbBackend& Backend() {
        if (!m_backend)
            m_backend = dormane::MakeLibusbBackend();
        return *m_backend;
    }

    void UseTransport() {
        Backend();
        rmSetBackend(m_backend);
        ASSERT_EQ(rmInitialize(), 1);
    }

    GPtr<UMockdevTestbed> m_pTestbed;
    std::shared_ptr<VirtualClock> m_clock;
    std::vector<std::unique_ptr<UsbfsNode>> m_vNodes;
    std::shared_ptr<dormane::UsbBackend> m_backend;
};

TEST_F(Emulated, EmptyBusListsNothing) {
    std::vector<UsbDeviceInfo> list{UsbDeviceInfo{}};
    ASSERT_EQ(Backend().Init(), UsbResult::Ok);
    EXPECT_EQ(Backend().Enumerate(list), UsbResult::Ok);
    EXPECT_TRUE(list.empty());
    UseTransport();
    EXPECT_EQ(rmDeviceStart(kVid, kPid), 0);
    EXPECT_EQ(rmLastError(), UsbResult::NotFound);
    std::unique_ptr<UsbDevice> device;
    EXPECT_EQ(Backend().Open("1-1", device), UsbResult::NotFound);
}

TEST_F(Emulated, ListsDevicesWithIdentityAndInterfaceClasses) {
    auto speaker = AddSpeaker("clock=virtual,fw=0x0803", 1);
    auto hidOnly = std::make_shared<SimSpeaker>(Scenario{}, m_clock);
    hidOnly->SetIdentity(kVid, kPid, {dormane::kUsbClassHid});
    Present(hidOnly, 2);

    std::vector<UsbDeviceInfo> list;
    ASSERT_EQ(Backend().Enumerate(list), UsbResult::Ok);
    ASSERT_EQ(list.size(), 2u);
    std::sort(list.begin(), list.end(),
              [](const UsbDeviceInfo& a, const UsbDeviceInfo& b) { return a.path < b.path; });
    EXPECT_EQ(list[0].path, "1-1");
    EXPECT_EQ(list[0].vid, kVid);
    EXPECT_EQ(list[0].pid, kPid);
    EXPECT_EQ(list[0].bcdDevice, 0x0803);
    // The device descriptor, written back from libusb's fields, is the one the device sent.
    const std::vector<uint8_t> sent = speaker->Descriptors();
    EXPECT_EQ(list[0].descriptors, std::vector<uint8_t>(sent.begin(), sent.begin() + 18));
    EXPECT_TRUE(list[0].HasInterfaceClass(dormane::kUsbClassAudio));
    EXPECT_TRUE(list[0].HasInterfaceClass(dormane::kUsbClassHid));
    EXPECT_EQ(list[1].path, "1-2");
    EXPECT_FALSE(list[1].HasInterfaceClass(dormane::kUsbClassAudio));
    EXPECT_TRUE(list[1].HasInterfaceClass(dormane::kUsbClassHid));

    // Selection passes over the device without an audio function.
    UseTransport();
    ASSERT_EQ(rmDeviceStart(kVid, kPid), 1);
    ASSERT_NE(rmSelectedDevice(), nullptr);
    EXPECT_EQ(rmSelectedDevice()->path, "1-1");
    EXPECT_EQ(hidOnly->Counters().controlTransfers, 0u);
    EXPECT_GE(speaker->Counters().controlTransfers, 1u);
}

TEST_F(Emulated, OpensAndReadsString50) {
    AddSpeaker("clock=virtual,string50=5023C", 1);
    std::unique_ptr<UsbDevice> device;
    ASSERT_EQ(Backend().Open("1-1", device), UsbResult::Ok);
    std::string text;
    ASSERT_EQ(device->ReadString(50, text), UsbResult::Ok);
    EXPECT_EQ(text, "5023C");
    EXPECT_EQ(device->ReadString(2, text), UsbResult::Ok);
    EXPECT_EQ(text, "Pelko Zuro");
}

TEST_F(Emulated, RegistersAndAStallGoThroughLibusb) {
    auto speaker = AddSpeaker("clock=virtual", 1);
    UseTransport();
    ASSERT_EQ(rmDeviceStart(kVid, kPid), 1);
    const uint8_t value[2] = {0x12, 0x34};
    ASSERT_EQ(rmRegWrite(0x40, 2, value), 1);
    EXPECT_EQ(speaker->Register(0x40), 0x12);
    EXPECT_EQ(speaker->Register(0x41), 0x34);
    uint8_t back[2] = {};
    ASSERT_EQ(rmRegRead(0x40, 2, back), 1);
    EXPECT_EQ(back[0], 0x12);
    EXPECT_EQ(back[1], 0x34);

    std::unique_ptr<UsbDevice> device;
    ASSERT_EQ(rmBackend()->Open("1-1", device), UsbResult::Ok);
    uint8_t beyond[4] = {};
    EXPECT_EQ(device->ControlTransfer(0xC0, 0x02, 0xFE, 0, beyond, 4), UsbResult::Stall);
    EXPECT_EQ(rmRegRead(0xFE, 4, beyond), 0);
    // A stall ends that request only.
    EXPECT_EQ(rmRegRead(0x40, 2, back), 1);
}

// A controller that answers a vendor read short: the driver's way, success with the missing
// bytes zero, and the speaker is still found by its register probe.
TEST_F(Emulated, AShortAnswerSucceedsWithZerosAndTheSpeakerIsStillFound) {
    auto speaker = AddSpeaker("clock=virtual", 1);
    speaker->SetShortIn(8);
    UseTransport();
    EXPECT_EQ(rmDeviceStart(kVid, kPid), 1);
    std::unique_ptr<UsbDevice> device;
    ASSERT_EQ(rmBackend()->Open("1-1", device), UsbResult::Ok);
    uint8_t probe[16];
    std::fill(std::begin(probe), std::end(probe), 0xAA);
    dormane::SetDebugOutputEcho(true);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(device->ControlTransfer(0xC0, 0x02, 0x00, 0, probe, 16), UsbResult::Ok);
    const std::string note = ::testing::internal::GetCapturedStderr();
    dormane::SetDebugOutputEcho(false);
    EXPECT_EQ(probe[0], 0x65); // the controller's identity, as far as it came
    for (int i = 8; i < 16; ++i)
        EXPECT_EQ(probe[i], 0) << "byte " << i;
    EXPECT_EQ(note,
              "short IN transfer: 8 of 16 bytes (request 0x02, value 0x0000), the rest reads as "
              "zero\n");
}

TEST_F(Emulated, WholeEepromWriteAndReadBack) {
    auto speaker = AddSpeaker("clock=virtual,eeprom=4096", 1);
    UseTransport();
    ASSERT_EQ(rmDeviceStart(kVid, kPid), 1);
    rmSetEepromSize(4096);
    std::vector<uint8_t> data(4096);
    std::mt19937 rng(5);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng());
    ASSERT_EQ(rmEepromAccess(1, 0, data.data(), 4096), 1);
    EXPECT_EQ(speaker->Eeprom(), data);
    std::vector<uint8_t> back(4096, 0);
    ASSERT_EQ(rmEepromAccess(0, 0, back.data(), 4096), 1);
    EXPECT_EQ(back, data);
}

TEST_F(Emulated, VanishingDeviceFailsItsTransfersAndLeavesTheList) {
    auto speaker = AddSpeaker("clock=virtual", 1);
    UseTransport();
    ASSERT_EQ(rmDeviceStart(kVid, kPid), 1);
    std::unique_ptr<UsbDevice> device;
    ASSERT_EQ(rmBackend()->Open("1-1", device), UsbResult::Ok);

    speaker->Unplug();
    uint8_t b[16] = {};
    EXPECT_EQ(device->ControlTransfer(0xC0, 0x02, 0x0000, 0, b, 16), UsbResult::NotFound);
    EXPECT_EQ(rmEepromAccess(0, 0, b, 16), 0);

    umockdev_testbed_uevent(m_pTestbed.get(), "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1",
                            "remove");
    umockdev_testbed_remove_device(m_pTestbed.get(),
                                   "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1");
    // libusb learns of the removal on its event thread; give it a moment.
    std::vector<UsbDeviceInfo> list;
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(rmBackend()->Enumerate(list), UsbResult::Ok);
        if (list.empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(rmDeviceStart(kVid, kPid), 0);
    EXPECT_EQ(rmLastError(), UsbResult::NotFound);
}

// The machine without any USB bus (the plain test machine): no device, no error.
TEST(Plain, NoBusMeansNoDevice) {
    auto backend = dormane::MakeLibusbBackend();
    ASSERT_EQ(backend->Init(), UsbResult::Ok);
    std::vector<UsbDeviceInfo> list;
    ASSERT_EQ(backend->Enumerate(list), UsbResult::Ok);
    std::error_code ec;
    if (!std::filesystem::exists("/sys/bus/usb/devices", ec)) {
        EXPECT_TRUE(list.empty());
    }
    for (const UsbDeviceInfo& info : list)
        EXPECT_FALSE(info.path.empty());
    rmSetBackend(backend);
    ASSERT_EQ(rmInitialize(), 1);
    bool speakerPresent = false;
    for (const UsbDeviceInfo& info : list)
        speakerPresent = speakerPresent || (info.vid == kVid && info.pid == kPid);
    if (!speakerPresent) {
        EXPECT_EQ(rmDeviceStart(kVid, kPid), 0);
        EXPECT_EQ(rmLastError(), UsbResult::NotFound);
    }
    rmSetBackend(nullptr);
}

} // namespace
