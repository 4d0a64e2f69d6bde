// The libusb-1.0 backend: the real speaker on Linux.
//
// Vendor requests go to the device recipient on endpoint 0, so no interface is claimed and
// the kernel's audio driver stays bound to the speaker: it keeps playing while its EEPROM is
// read or written.
#include "UsbBackend.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

namespace dormane {
namespace {

// Every control transfer ends within this time, answered or not.
constexpr unsigned kControlTimeoutMs = 1000;
constexpr uint16_t kDefaultLangId = 0x0409;

// The one place where libusb's codes become ours.
UsbResult FromLibusb(int code) {
    switch (code) {
    case LIBUSB_SUCCESS:
        return UsbResult::Ok;
    case LIBUSB_ERROR_ACCESS:
        return UsbResult::NoPermission;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return UsbResult::NotFound;
    case LIBUSB_ERROR_PIPE:
        return UsbResult::Stall;
    case LIBUSB_ERROR_TIMEOUT:
        return UsbResult::Timeout;
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return UsbResult::NotSupported;
    default:
        return UsbResult::Io;
    }
}

// Owns the libusb context; opened devices hold a reference so that it outlives them.
class Context {
public:
    explicit Context(libusb_context* ctx) : m_pCtx(ctx) {}
    ~Context() { libusb_exit(m_pCtx); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    libusb_context* Get() const { return m_pCtx; }

private:
    libusb_context* m_pCtx;
};

// The device list of one moment, released on every path out.
class DeviceList {
public:
    explicit DeviceList(libusb_context* ctx) { m_nCount = libusb_get_device_list(ctx, &m_pList); }
    ~DeviceList() {
        if (m_nCount >= 0)
            libusb_free_device_list(m_pList, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    ssize_t Count() const { return m_nCount; }
    libusb_device* operator[](ssize_t i) const { return m_pList[i]; }

private:
    libusb_device** m_pList = nullptr;
    ssize_t m_nCount = 0;
};

// Bus number and port chain, as the kernel names the device in sysfs ("1-1.4"): it stays
// the same while the device is plugged in.
std::string PathOf(libusb_device* dev) {
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    char text[64];
    int len = std::snprintf(text, sizeof text, "%u-", libusb_get_bus_number(dev));
    if (n <= 0) {
        std::snprintf(text + len, sizeof text - len, "addr%u", libusb_get_device_address(dev));
        return text;
    }
    for (int i = 0; i < n && len < static_cast<int>(sizeof text); ++i)
        len += std::snprintf(text + len, sizeof text - len, i == 0 ? "%u" : ".%u", ports[i]);
    return text;
}

bool Describe(libusb_device* dev, UsbDeviceInfo& info) {
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) != LIBUSB_SUCCESS)
        return false;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(dev, &config) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(dev, 0, &config) != LIBUSB_SUCCESS)
        return false;
    info.path = PathOf(dev);
    info.vid = desc.idVendor;
    info.pid = desc.idProduct;
    info.bcdDevice = desc.bcdDevice;
    // The port it sits on is the one thing all processes see alike; across a power cycle
    // only the vendor stays (the product ID follows the image it runs).
    info.lockKey = "usb-" + info.path;
    char vendor[32];
    std::snprintf(vendor, sizeof vendor, "usb-vid-%04X", desc.idVendor);
    info.journalKey = vendor;
    info.interfaceClasses.clear();
    for (uint8_t i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& itf = config->interface[i];
        for (int a = 0; a < itf.num_altsetting; ++a) {
            const uint8_t cls = itf.altsetting[a].bInterfaceClass;
            if (!info.HasInterfaceClass(cls))
                info.interfaceClasses.push_back(cls);
        }
    }
    libusb_free_config_descriptor(config);
    // libusb hands out the device descriptor parsed only; its 18 bytes are written back in
    // their wire order. The configuration descriptor has no raw form here.
    std::vector<uint8_t>& d = info.descriptors;
    auto le16 = [&d](uint16_t w) {
        d.push_back(static_cast<uint8_t>(w & 0xFF));
        d.push_back(static_cast<uint8_t>(w >> 8));
    };
    d = {desc.bLength, desc.bDescriptorType};
    le16(desc.bcdUSB);
    d.insert(d.end(),
             {desc.bDeviceClass, desc.bDeviceSubClass, desc.bDeviceProtocol, desc.bMaxPacketSize0});
    le16(desc.idVendor);
    le16(desc.idProduct);
    le16(desc.bcdDevice);
    d.insert(d.end(),
             {desc.iManufacturer, desc.iProduct, desc.iSerialNumber, desc.bNumConfigurations});
    return true;
}

int LIBUSB_CALL NoteHotplug(libusb_context*, libusb_device*, libusb_hotplug_event, void* changed) {
    static_cast<std::atomic<bool>*>(changed)->store(true, std::memory_order_release);
    return 0; // stay registered until the wait deregisters
}

class LibusbDevice final : public UsbDevice {
public:
    LibusbDevice(std::shared_ptr<Context> ctx, libusb_device_handle* handle)
        : m_pCtx(std::move(ctx)), m_hDevice(handle) {}
    ~LibusbDevice() override { libusb_close(m_hDevice); }
    LibusbDevice(const LibusbDevice&) = delete;
    LibusbDevice& operator=(const LibusbDevice&) = delete;

    UsbResult ControlTransfer(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
                              uint16_t wIndex, uint8_t* data, uint16_t length) override {
        const int r = libusb_control_transfer(m_hDevice, bmRequestType, bRequest, wValue, wIndex,
                                              data, length, kControlTimeoutMs);
        if (r < 0)
            return FromLibusb(r);
        return CompleteDataStage(bmRequestType, bRequest, wValue, data, length,
                                 static_cast<uint16_t>(r));
    }

    UsbResult ReadString(uint8_t index, std::string& utf8) override {
        unsigned char buf[255];
        uint16_t langId = kDefaultLangId;
        int r = libusb_get_string_descriptor(m_hDevice, 0, 0, buf, sizeof buf);
        if (r >= 4 && buf[1] == LIBUSB_DT_STRING)
            langId = static_cast<uint16_t>(buf[2] | (buf[3] << 8));
        r = libusb_get_string_descriptor(m_hDevice, index, langId, buf, sizeof buf);
        if (r < 0)
            return FromLibusb(r);
        return StringDescriptorText(buf, static_cast<size_t>(r), utf8);
    }

private:
    std::shared_ptr<Context> m_pCtx;
    libusb_device_handle* m_hDevice;
};

class LibusbBackend final : public UsbBackend {
public:
    const char* Name() const override { return "libusb"; }

    UsbResult Init() override {
        std::shared_ptr<Context> ctx;
        return Acquire(ctx);
    }

    UsbResult Enumerate(std::vector<UsbDeviceInfo>& out) override {
        out.clear();
        std::shared_ptr<Context> ctx;
        if (UsbResult r = Acquire(ctx); r != UsbResult::Ok)
            return r;
        DeviceList list(ctx->Get());
        if (list.Count() < 0)
            return FromLibusb(static_cast<int>(list.Count()));
        for (ssize_t i = 0; i < list.Count(); ++i) {
            UsbDeviceInfo info;
            if (Describe(list[i], info))
                out.push_back(std::move(info));
        }
        return UsbResult::Ok;
    }

    UsbResult Open(const std::string& path, std::unique_ptr<UsbDevice>& out) override {
        out.reset();
        std::shared_ptr<Context> ctx;
        if (UsbResult r = Acquire(ctx); r != UsbResult::Ok)
            return r;
        DeviceList list(ctx->Get());
        if (list.Count() < 0)
            return FromLibusb(static_cast<int>(list.Count()));
        for (ssize_t i = 0; i < list.Count(); ++i) {
            if (PathOf(list[i]) != path)
                continue;
            libusb_device_handle* handle = nullptr;
            const int r = libusb_open(list[i], &handle);
            if (r != LIBUSB_SUCCESS)
                return FromLibusb(r);
            out = std::make_unique<LibusbDevice>(ctx, handle);
            return UsbResult::Ok;
        }
        return UsbResult::NotFound;
    }

    // Hotplug where the platform has it: returns at the first device that arrives or leaves.
    UsbResult WaitForChange(Clock::Duration timeout) override {
        std::shared_ptr<Context> ctx;
        if (Acquire(ctx) != UsbResult::Ok || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
            return UsbBackend::WaitForChange(timeout);
        std::atomic<bool> changed{false};
        libusb_hotplug_callback_handle handle = 0;
        if (libusb_hotplug_register_callback(
                ctx->Get(),
                static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                  LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY,
                LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, NoteHotplug, &changed,
                &handle) != LIBUSB_SUCCESS)
            return UsbBackend::WaitForChange(timeout);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!changed.load(std::memory_order_acquire)) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            timeval tv{0, static_cast<suseconds_t>(std::min<int64_t>(left.count(), 100000))};
            libusb_handle_events_timeout_completed(ctx->Get(), &tv, nullptr);
        }
        libusb_hotplug_deregister_callback(ctx->Get(), handle);
        return UsbResult::Ok;
    }

private:
    UsbResult Acquire(std::shared_ptr<Context>& ctx) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_pCtx) {
            libusb_context* raw = nullptr;
            const int r = libusb_init(&raw);
            if (r != LIBUSB_SUCCESS)
                return FromLibusb(r);
            m_pCtx = std::make_shared<Context>(raw);
        }
        ctx = m_pCtx;
        return UsbResult::Ok;
    }

    std::mutex m_lock;
    std::shared_ptr<Context> m_pCtx;
};

} // namespace

std::shared_ptr<UsbBackend> MakeLibusbBackend() {
    return std::make_shared<LibusbBackend>();
}

std::shared_ptr<UsbBackend> MakeSystemUsbBackend() {
    return MakeLibusbBackend();
}

std::string UsbStackVersion() {
    const libusb_version* v = libusb_get_version();
    char text[64];
    std::snprintf(text, sizeof text, "libusb %u.%u.%u%s", v->major, v->minor, v->micro,
                  v->rc ? v->rc : "");
    return text;
}

} // namespace dormane
