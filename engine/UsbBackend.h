#pragma once

#include "Clock.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The one boundary between the engine and a USB stack. Each backend (libusb on Linux, WinUSB
// on Windows, the simulated speaker) implements it in a file of its own; nothing above it knows
// which runs. No operation throws; every operation returns a UsbResult.
namespace dormane {

enum class UsbResult : int {
    Ok = 0,
    NotFound,     // no such device (or it vanished)
    NoPermission, // the device exists but may not be opened (no udev rule)
    Stall,        // the device answered the control transfer with a STALL
    Timeout,      // the transfer did not complete in time
    Io,           // any other failure of the stack or the device
    NotSupported, // no USB subsystem on this machine
};

const char* UsbResultName(UsbResult r);

inline constexpr uint8_t kUsbClassAudio = 1;
inline constexpr uint8_t kUsbClassHid = 3;

struct UsbDeviceInfo {
    std::string path; // stable for as long as the device stays plugged in
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t bcdDevice = 0; // release number; the speaker sets it to its firmware version
    std::vector<uint8_t> interfaceClasses;
    // Names the EEPROM behind the device for the speaker lock: the same for every process
    // and user that can reach it; empty when nothing outside this process can (no lock).
    std::string lockKey;
    // Names the speaker across unplugging and power cycles, for the burn journal; empty
    // when nothing about it outlives this process.
    std::string journalKey;
    // The descriptors as the device sent them, for recordings: the device descriptor, then
    // the configuration descriptor where the backend holds it raw; empty when unknown.
    std::vector<uint8_t> descriptors;

    bool HasInterfaceClass(uint8_t cls) const {
        for (uint8_t c : interfaceClasses)
            if (c == cls)
                return true;
        return false;
    }
};

// An opened device. Closing is destruction.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    // One control transfer on endpoint 0. For IN transfers (bmRequestType bit 7) the data
    // stage is written into data; for OUT transfers it is read from it. May block up to the
    // backend's finite timeout.
    virtual UsbResult ControlTransfer(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
                                      uint16_t wIndex, uint8_t* data, uint16_t length) = 0;
    // String descriptor by index, read as UTF-16LE and returned as UTF-8.
    virtual UsbResult ReadString(uint8_t index, std::string& utf8) = 0;
};

class UsbBackend {
public:
    virtual ~UsbBackend() = default;
    virtual const char* Name() const = 0;
    // Prepares the stack; may be called more than once.
    virtual UsbResult Init() = 0;
    // Lists the devices present now. A device whose descriptors cannot be read is left out.
    virtual UsbResult Enumerate(std::vector<UsbDeviceInfo>& out) = 0;
    virtual UsbResult Open(const std::string& path, std::unique_ptr<UsbDevice>& out) = 0;
    // The system's own hardware-ID lists of the present audio devices, where the system keeps
    // such lists (SetupAPI on Windows); NotSupported where the lists are built from the
    // enumeration instead.
    virtual UsbResult SystemHardwareIdLists(std::vector<std::vector<std::string>>& /*out*/) {
        return UsbResult::NotSupported;
    }
    // Returns once a device may have arrived or left, or when timeout has passed on the
    // process-wide clock. A backend without hotplug notification polls: by default it sleeps
    // the whole timeout, and the caller enumerates again.
    virtual UsbResult WaitForChange(Clock::Duration timeout);
};

// The libusb-1.0 backend (engine/usb_libusb.cpp): the real speaker on Linux.
std::shared_ptr<UsbBackend> MakeLibusbBackend();
// The platform's own backend: libusb on Linux, WinUSB on Windows (engine/usb_winusb.cpp).
std::shared_ptr<UsbBackend> MakeSystemUsbBackend();
// The USB stack the real backend runs on and its version ("libusb 1.0.26"), for the support
// report; defined by the real backend's file.
std::string UsbStackVersion();

// How every backend ends a control transfer whose data stage came back with actual of length
// bytes. The speaker's driver completes a vendor read with wLength bytes whatever the device
// sent, so a short IN data stage succeeds with the missing bytes zero (the read-back compare
// guards the data), noted on the debugger output; a short OUT data stage is a failure.
UsbResult CompleteDataStage(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint8_t* data,
                            uint16_t length, uint16_t actual);

// String descriptors travel as UTF-16LE. Unpaired surrogates become U+FFFD; a trailing odd
// byte is dropped.
std::string Utf16LeToUtf8(const uint8_t* data, size_t bytes);
// The text of a string descriptor as the device sent it (got bytes); Io when the bytes are
// no whole string descriptor.
UsbResult StringDescriptorText(const uint8_t* descriptor, size_t got, std::string& utf8);
std::vector<uint8_t> Utf8ToUtf16Le(const std::string& utf8);

} // namespace dormane
