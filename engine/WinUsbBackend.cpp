// The WinUSB backend's logic over the system's calls: which present device is which speaker,
// how a request becomes a setup packet and how Windows' errors become ours. Plain C++, so
// that it is tested on every platform over a fake system.
#include "WinUsbSystem.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace dormane::winusb {

namespace {

constexpr uint8_t kStringDescriptor = 3;
constexpr uint16_t kDefaultLangId = 0x0409;

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The hexadecimal field after tag ("VID_", "&PID_", ...): true with its value when the
// tag is there and at least one digit follows.
bool HexField(const std::string& id, const char* tag, size_t digits, unsigned long& value) {
    const size_t at = id.find(tag);
    if (at == std::string::npos)
        return false;
    const std::string text = id.substr(at + std::char_traits<char>::length(tag), digits);
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 16);
    return end != text.c_str();
}

UsbResult FromWindows(uint32_t error) {
    switch (error) {
    case kErrorAccessDenied:
        return UsbResult::NoPermission;
    case kErrorFileNotFound:
    case kErrorBadCommand:
    case kErrorDeviceNotConnected:
        return UsbResult::NotFound;
    case kErrorGenFailure:
        return UsbResult::Stall;
    case kErrorSemTimeout:
        return UsbResult::Timeout;
    default:
        return UsbResult::Io;
    }
}

std::vector<uint8_t> ClassesOf(const PresentDevice& node) {
    std::vector<uint8_t> classes;
    for (const std::string& compatible : node.compatibleIds) {
        unsigned long cls = 0;
        if (HexField(Upper(compatible), "CLASS_", 2, cls))
            classes.push_back(static_cast<uint8_t>(cls));
    }
    return classes;
}

bool IsWinUsb(const PresentDevice& node) {
    return Upper(node.service) == "WINUSB" && !node.interfacePath.empty();
}

class WinUsbDevice final : public UsbDevice {
public:
    WinUsbDevice(std::shared_ptr<System> system, intptr_t handle)
        : m_pSystem(std::move(system)), m_handle(handle) {}
    ~WinUsbDevice() override { m_pSystem->Close(m_handle); }
    WinUsbDevice(const WinUsbDevice&) = delete;
    WinUsbDevice& operator=(const WinUsbDevice&) = delete;

    UsbResult ControlTransfer(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
                              uint16_t wIndex, uint8_t* data, uint16_t length) override {
        const uint8_t setup[8] = {bmRequestType,
                                  bRequest,
                                  static_cast<uint8_t>(wValue & 0xFF),
                                  static_cast<uint8_t>(wValue >> 8),
                                  static_cast<uint8_t>(wIndex & 0xFF),
                                  static_cast<uint8_t>(wIndex >> 8),
                                  static_cast<uint8_t>(length & 0xFF),
                                  static_cast<uint8_t>(length >> 8)};
        uint32_t transferred = 0;
        uint32_t error = 0;
        if (!m_pSystem->ControlTransfer(m_handle, setup, data, length, transferred, error))
            return FromWindows(error);
        return CompleteDataStage(
            bmRequestType, bRequest, wValue, data, length,
            static_cast<uint16_t>(transferred > length ? length : transferred));
    }

    UsbResult ReadString(uint8_t index, std::string& utf8) override {
        uint8_t buf[255] = {};
        uint32_t got = 0;
        uint32_t error = 0;
        uint16_t langId = kDefaultLangId;
        if (m_pSystem->GetDescriptor(m_handle, kStringDescriptor, 0, 0, buf, sizeof buf, got,
                                     error) &&
            got >= 4 && buf[1] == kStringDescriptor)
            langId = static_cast<uint16_t>(buf[2] | (buf[3] << 8));
        if (!m_pSystem->GetDescriptor(m_handle, kStringDescriptor, index, langId, buf, sizeof buf,
                                      got, error))
            return FromWindows(error);
        return StringDescriptorText(buf, got, utf8);
    }

private:
    std::shared_ptr<System> m_pSystem;
    intptr_t m_handle;
};

class WinUsbBackend final : public UsbBackend {
public:
    explicit WinUsbBackend(std::shared_ptr<System> system) : m_pSystem(std::move(system)) {}

    const char* Name() const override { return "WinUSB"; }
    UsbResult Init() override { return m_pSystem ? UsbResult::Ok : UsbResult::NotSupported; }

    UsbResult Enumerate(std::vector<UsbDeviceInfo>& out) override {
        out.clear();
        std::vector<PresentDevice> nodes;
        if (!m_pSystem || !m_pSystem->ListUsbDevices(nodes))
            return UsbResult::Io;
        for (const PresentDevice& device : nodes) {
            uint16_t vid = 0, pid = 0, rev = 0;
            int number = -1;
            if (device.hardwareIds.empty() ||
                !ParseUsbHardwareId(device.hardwareIds.front(), vid, pid, rev, number) ||
                number >= 0)
                continue; // an interface of a composite device, or no USB device at all
            UsbDeviceInfo info;
            info.vid = vid;
            info.pid = pid;
            info.bcdDevice = rev;
            info.interfaceClasses = ClassesOf(device);
            if (IsWinUsb(device))
                info.path = device.interfacePath;
            for (const PresentDevice& child : nodes) {
                if (child.parentInstanceId.empty() ||
                    Upper(child.parentInstanceId) != Upper(device.instanceId))
                    continue;
                for (uint8_t cls : ClassesOf(child))
                    info.interfaceClasses.push_back(cls);
                if (info.path.empty() && IsWinUsb(child))
                    info.path = child.interfacePath;
            }
            // The instance ID names the port for a device without a serial number; across a
            // power cycle only the vendor stays (the product ID follows the image it runs).
            info.lockKey = "usb-" + Upper(device.instanceId);
            char vendor[32];
            std::snprintf(vendor, sizeof vendor, "usb-vid-%04X", vid);
            info.journalKey = vendor;
            out.push_back(std::move(info));
        }
        return UsbResult::Ok;
    }

    UsbResult Open(const std::string& path, std::unique_ptr<UsbDevice>& out) override {
        out.reset();
        if (path.empty())
            return UsbResult::NoPermission; // present, but no interface is bound to WinUSB
        intptr_t handle = 0;
        uint32_t error = 0;
        if (!m_pSystem->Open(path, handle, error))
            return FromWindows(error);
        out = std::make_unique<WinUsbDevice>(m_pSystem, handle);
        return UsbResult::Ok;
    }

    UsbResult SystemHardwareIdLists(std::vector<std::vector<std::string>>& out) override {
        out.clear();
        return m_pSystem && m_pSystem->ListMediaDevices(out) ? UsbResult::Ok : UsbResult::Io;
    }

private:
    std::shared_ptr<System> m_pSystem;
};

} // namespace

bool ParseUsbHardwareId(const std::string& id, uint16_t& vid, uint16_t& pid, uint16_t& rev,
                        int& interfaceNumber) {
    const std::string upper = Upper(id);
    if (upper.rfind("USB\\", 0) != 0)
        return false;
    unsigned long v = 0, p = 0, r = 0, mi = 0;
    if (!HexField(upper, "VID_", 4, v) || !HexField(upper, "&PID_", 4, p))
        return false;
    vid = static_cast<uint16_t>(v);
    pid = static_cast<uint16_t>(p);
    rev = HexField(upper, "&REV_", 4, r) ? static_cast<uint16_t>(r) : 0;
    interfaceNumber = HexField(upper, "&MI_", 2, mi) ? static_cast<int>(mi) : -1;
    return true;
}

std::shared_ptr<UsbBackend> MakeWinUsbBackend(std::shared_ptr<System> system) {
    return std::make_shared<WinUsbBackend>(std::move(system));
}

} // namespace dormane::winusb
