#pragma once

#include "UsbBackend.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The Windows USB backend (engine/usb_winusb.cpp) reaches the system only through this
// table of calls: SetupAPI for the present devices, WinUSB for the transfers. Tests give it
// a fake that answers as Windows would, so that every request block can be checked byte by
// byte without a speaker.
namespace dormane::winusb {

// One present device node of the USB bus: a whole device, or one interface of a composite
// device (its first hardware ID then ends in &MI_nn).
struct PresentDevice {
    std::string instanceId;                 // USB\VID_0D8C&PID_0082&MI_03\7&1A2B&0&0003
    std::string parentInstanceId;           // the composite device an interface belongs to
    std::vector<std::string> hardwareIds;   // most specific first
    std::vector<std::string> compatibleIds; // USB\Class_03&SubClass_00 ...
    std::string service;                    // the bound driver's service: WinUSB, HidUsb ...
    std::string interfacePath;              // the WinUSB device interface; empty when not bound
};

class System {
public:
    virtual ~System() = default;
    // The first hardware ID of every present device of the media setup class, in enumeration
    // order; an empty list for a device whose IDs cannot be read. False when the device list
    // cannot be opened.
    virtual bool ListMediaDevices(std::vector<std::vector<std::string>>& hardwareIdLists) = 0;
    // Every present device node of the USB bus. False when the list cannot be opened.
    virtual bool ListUsbDevices(std::vector<PresentDevice>& out) = 0;
    // CreateFileW + WinUsb_Initialize on a WinUSB device interface. error is the Windows
    // error code on failure.
    virtual bool Open(const std::string& interfacePath, intptr_t& handle, uint32_t& error) = 0;
    virtual void Close(intptr_t handle) = 0;
    // WinUsb_ControlTransfer with the 8-byte setup packet as it goes on the wire.
    virtual bool ControlTransfer(intptr_t handle, const uint8_t setup[8], uint8_t* data,
                                 uint32_t length, uint32_t& transferred, uint32_t& error) = 0;
    // WinUsb_GetDescriptor.
    virtual bool GetDescriptor(intptr_t handle, uint8_t type, uint8_t index, uint16_t language,
                               uint8_t* buffer, uint32_t length, uint32_t& got,
                               uint32_t& error) = 0;
};

// SetupAPI and WinUSB themselves (engine/usb_winusb.cpp, Windows only).
std::shared_ptr<System> MakeRealSystem();

// Windows error codes the backend tells apart.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorBadCommand = 22;
inline constexpr uint32_t kErrorGenFailure = 31; // WinUSB's word for a STALL
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// Every control transfer ends within this time, answered or not (the pipe policy of
// endpoint 0).
inline constexpr uint32_t kControlTimeoutMs = 1000;

// The backend over a system. The speaker's whole device is one UsbDeviceInfo; its path is
// the device interface of whichever of its interfaces is bound to WinUSB, and empty when
// none is: such a speaker is present, but cannot be opened (NoPermission).
std::shared_ptr<UsbBackend> MakeWinUsbBackend(std::shared_ptr<System> system);

// Parses "USB\VID_vvvv&PID_pppp&REV_rrrr..." (any case); false when the VID or PID is missing.
bool ParseUsbHardwareId(const std::string& id, uint16_t& vid, uint16_t& pid, uint16_t& rev,
                        int& interfaceNumber);

} // namespace dormane::winusb
