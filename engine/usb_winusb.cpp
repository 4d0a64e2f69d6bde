// The speaker on Windows: SetupAPI finds the present devices, WinUSB carries the vendor
// requests on endpoint 0. WinUSB stands in for a driver of our own: every Windows has it,
// and it is bound to one of the speaker's interfaces once (README, "Windows").
#include "WinUsbSystem.h"

#include "WinText.h"

#include <cfgmgr32.h>
#include <devguid.h>
#include <initguid.h>
#include <objbase.h>
#include <setupapi.h>
#include <winusb.h>

#include <cstring>

namespace dormane::winusb {

namespace {

using win::Narrow;
using win::Widen;

class DeviceList {
public:
    explicit DeviceList(HDEVINFO set) : m_set(set) {}
    ~DeviceList() {
        if (m_set != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(m_set);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    bool Ok() const { return m_set != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return m_set; }

private:
    HDEVINFO m_set;
};

// A REG_MULTI_SZ property as UTF-8 strings. The 2048-byte buffer is asked first and a larger
// one when the system says it needs more; false when the property cannot be read.
bool MultiStringProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property,
                         std::vector<std::string>& out) {
    std::vector<BYTE> buffer(2048);
    DWORD needed = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, buffer.data(),
                                           static_cast<DWORD>(buffer.size()), &needed)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
            return false;
        buffer.assign(needed + 4, 0);
        if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, buffer.data(),
                                               static_cast<DWORD>(buffer.size()), &needed))
            return false;
    }
    buffer.insert(buffer.end(), 4, 0); // terminated whatever the system wrote
    const auto* text = reinterpret_cast<const wchar_t*>(buffer.data());
    out.clear();
    while (*text) {
        const std::wstring one(text);
        out.push_back(Narrow(one));
        text += one.size() + 1;
    }
    return true;
}

std::string StringProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    std::vector<std::string> strings;
    return MultiStringProperty(set, device, property, strings) && !strings.empty() ? strings.front()
                                                                                   : std::string();
}

std::string InstanceIdOf(DEVINST node) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    return CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? Narrow(id)
                                                                           : std::string();
}

// The device interface a WinUSB installation registered for the device: its GUID is in the
// device's registry key (DeviceInterfaceGUIDs, or DeviceInterfaceGUID).
std::string WinUsbInterfacePath(HDEVINFO set, SP_DEVINFO_DATA& device,
                                const std::string& instanceId) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t value[512] = {};
    DWORD size = sizeof value - sizeof(wchar_t) * 2;
    DWORD type = 0;
    LONG result = RegQueryValueExW(key, L"DeviceInterfaceGUIDs", nullptr, &type,
                                   reinterpret_cast<BYTE*>(value), &size);
    if (result != ERROR_SUCCESS) {
        size = sizeof value - sizeof(wchar_t) * 2;
        result = RegQueryValueExW(key, L"DeviceInterfaceGUID", nullptr, &type,
                                  reinterpret_cast<BYTE*>(value), &size);
    }
    RegCloseKey(key);
    GUID guid{};
    if (result != ERROR_SUCCESS || CLSIDFromString(value, &guid) != NOERROR)
        return {};
    DeviceList interfaces(SetupDiGetClassDevsW(&guid, Widen(instanceId).c_str(), nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!interfaces.Ok())
        return {};
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(interfaces.Get(), nullptr, &guid, 0, &data))
        return {};
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailW(interfaces.Get(), &data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        return {};
    std::vector<BYTE> buffer(needed);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(interfaces.Get(), &data, detail, needed, nullptr,
                                          nullptr))
        return {};
    return Narrow(detail->DevicePath);
}

struct OpenDevice {
    HANDLE file = INVALID_HANDLE_VALUE;
    WINUSB_INTERFACE_HANDLE usb = nullptr;
};

class RealSystem final : public System {
public:
    bool ListMediaDevices(std::vector<std::vector<std::string>>& lists) override {
        DeviceList set(SetupDiGetClassDevsW(&GUID_DEVCLASS_MEDIA, nullptr, nullptr, DIGCF_PRESENT));
        if (!set.Ok())
            return false;
        lists.clear();
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set.Get(), i, &device); ++i) {
            std::vector<std::string> ids;
            // A list that cannot be read is kept empty, never matched on an old buffer.
            if (!MultiStringProperty(set.Get(), device, SPDRP_HARDWAREID, ids))
                ids.clear();
            if (ids.size() > 1)
                ids.resize(1);
            lists.push_back(std::move(ids));
        }
        return true;
    }

    bool ListUsbDevices(std::vector<PresentDevice>& out) override {
        DeviceList set(
            SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
        if (!set.Ok())
            return false;
        out.clear();
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set.Get(), i, &device); ++i) {
            PresentDevice node;
            node.instanceId = InstanceIdOf(device.DevInst);
            DEVINST parent = 0;
            if (CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS)
                node.parentInstanceId = InstanceIdOf(parent);
            MultiStringProperty(set.Get(), device, SPDRP_HARDWAREID, node.hardwareIds);
            MultiStringProperty(set.Get(), device, SPDRP_COMPATIBLEIDS, node.compatibleIds);
            node.service = StringProperty(set.Get(), device, SPDRP_SERVICE);
            if (_stricmp(node.service.c_str(), "WinUSB") == 0)
                node.interfacePath = WinUsbInterfacePath(set.Get(), device, node.instanceId);
            out.push_back(std::move(node));
        }
        return true;
    }

    bool Open(const std::string& interfacePath, intptr_t& handle, uint32_t& error) override {
        auto device = std::make_unique<OpenDevice>();
        device->file = CreateFileW(Widen(interfacePath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (device->file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            return false;
        }
        if (!WinUsb_Initialize(device->file, &device->usb)) {
            error = GetLastError();
            CloseHandle(device->file);
            return false;
        }
        ULONG timeout = kControlTimeoutMs;
        WinUsb_SetPipePolicy(device->usb, 0, PIPE_TRANSFER_TIMEOUT, sizeof timeout, &timeout);
        handle = reinterpret_cast<intptr_t>(device.release());
        return true;
    }

    void Close(intptr_t handle) override {
        auto* device = reinterpret_cast<OpenDevice*>(handle);
        if (!device)
            return;
        WinUsb_Free(device->usb);
        CloseHandle(device->file);
        delete device;
    }

    bool ControlTransfer(intptr_t handle, const uint8_t setup[8], uint8_t* data, uint32_t length,
                         uint32_t& transferred, uint32_t& error) override {
        auto* device = reinterpret_cast<OpenDevice*>(handle);
        WINUSB_SETUP_PACKET packet{};
        packet.RequestType = setup[0];
        packet.Request = setup[1];
        packet.Value = static_cast<USHORT>(setup[2] | (setup[3] << 8));
        packet.Index = static_cast<USHORT>(setup[4] | (setup[5] << 8));
        packet.Length = static_cast<USHORT>(setup[6] | (setup[7] << 8));
        ULONG done = 0;
        if (!WinUsb_ControlTransfer(device->usb, packet, data, length, &done, nullptr)) {
            error = GetLastError();
            return false;
        }
        transferred = done;
        return true;
    }

    bool GetDescriptor(intptr_t handle, uint8_t type, uint8_t index, uint16_t language,
                       uint8_t* buffer, uint32_t length, uint32_t& got, uint32_t& error) override {
        auto* device = reinterpret_cast<OpenDevice*>(handle);
        ULONG done = 0;
        if (!WinUsb_GetDescriptor(device->usb, type, index, language, buffer, length, &done)) {
            error = GetLastError();
            return false;
        }
        got = done;
        return true;
    }
};

} // namespace

std::shared_ptr<System> MakeRealSystem() {
    return std::make_shared<RealSystem>();
}

} // namespace dormane::winusb

namespace dormane {

std::shared_ptr<UsbBackend> MakeSystemUsbBackend() {
    return winusb::MakeWinUsbBackend(winusb::MakeRealSystem());
}

} // namespace dormane
