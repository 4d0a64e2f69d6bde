#pragma once

#include "UsbBackend.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The vendor-command transport: reads and writes the speaker's EEPROM through the audio
// controller's I2C master, one USB vendor control transfer per register access. Its state
// (the backend, the selected device, the EEPROM size) is process-wide: one speaker at a time.
// All rm* functions return 1 for success and 0 for failure unless stated otherwise.

// Chooses the USB backend once, before rmInitialize (the real one unless a simulated speaker
// is wanted). Without a call the libusb backend is used.
void rmSetBackend(std::shared_ptr<dormane::UsbBackend> backend);
dormane::UsbBackend* rmBackend();

int rmInitialize();
int rmDeviceStart(uint16_t vid, uint16_t pid);
int rmDeviceStop();
void rmSetEepromSize(uint32_t size);
uint32_t rmGetEepromSize();
int rmEepromAccess(int write, uint32_t position, uint8_t* buffer, uint32_t count);

// Building blocks, exposed for tests and diagnostics.
int rmSelectAudioDevice(uint16_t vid, uint16_t pid); // number of matching devices that answered
int rmI2CTransfer(uint8_t block[21]);
int rmRegRead(uint16_t reg, uint16_t count, uint8_t* buffer);
int rmRegWrite(uint16_t reg, uint16_t count, const uint8_t* buffer);

// The selected device (null when none), so that the update manager can read its strings.
const dormane::UsbDeviceInfo* rmSelectedDevice();
// Why the last rmInitialize or rmDeviceStart failed, so that a caller can tell a missing
// speaker from one it may not open.
dormane::UsbResult rmLastError();

// Receives one line per I2C transfer block sent (the command line's --trace).
void rmSetTraceSink(std::function<void(const std::string&)> sink);
