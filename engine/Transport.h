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
// is wanted). Without a call the libusb backend is used. Setting a backend returns the
// transport to its state at program start: not initialised, nothing selected, EEPROM size
// 4096. A null backend means the libusb one.
void rmSetBackend(std::shared_ptr<dormane::UsbBackend> backend);
dormane::UsbBackend* rmBackend();
// The same backend, shared: for a wrapper that takes its place (the recorder of --record).
std::shared_ptr<dormane::UsbBackend> rmSharedBackend();

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

// Receives one line per I2C transfer block sent (the command line's --trace), one per attempt:
// "i2c write dev=0xA8 pos=0x0120 count=16 cmd=0xB0 -> ok" (ok, nack, busy or fail). An empty
// function turns tracing off. Set it before the transport is used, not while it runs.
void rmSetTraceSink(std::function<void(const std::string&)> sink);

// What the transport has done since the last reset; safe to read from any thread while
// another one drives the transport (the benchmark and the progress display do).
struct rmStats {
    uint64_t controlTransfers = 0; // vendor requests sent, register reads and writes
    uint64_t failedTransfers = 0;  // of those, the ones the backend reported as failed
    uint64_t i2cBlocks = 0;        // transfer blocks started, one per attempt
    uint64_t nacks = 0;            // status reads that showed the EEPROM's NACK
    uint64_t busyGiveUps = 0;      // attempts abandoned because the status stayed busy
    uint64_t writeWaits = 0;       // the write's waits of more than 10 ms
    uint64_t readWaits = 0;        // the read's short waits between status polls
};
rmStats rmGetStats();
void rmResetStats();
