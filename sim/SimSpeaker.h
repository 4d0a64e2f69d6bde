#pragma once

#include "Clock.h"
#include "Eeprom24C.h"
#include "FileSystem.h"
#include "Scenario.h"
#include "UsbBackend.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

// The simulated speaker: its USB identity and descriptors, the audio controller's registers
// and I2C master, and the 24C EEPROM behind it, all timed on one clock. It answers control
// transfers exactly as the transport and libusb see them, so the same object serves the
// simulated backend and the usbfs emulation of the libusb tests.
namespace dormane::sim {

struct ControlRecord {
    uint8_t bmRequestType = 0;
    uint8_t bRequest = 0;
    uint16_t wValue = 0;
    uint16_t wIndex = 0;
    uint16_t wLength = 0;
    std::vector<uint8_t> data; // OUT: the bytes sent; IN: the bytes returned
    UsbResult result = UsbResult::Ok;
    Clock::Duration time{0}; // on the speaker's clock, when the transfer took effect
};

struct SimCounters {
    uint64_t controlTransfers = 0;  // every control transfer that reached the speaker
    uint64_t failedTransfers = 0;   // of those, answered with a failure (stall, unplugged)
    uint64_t i2cTransfers = 0;      // transfers the I2C master ran on the bus
    uint64_t nacksAnswered = 0;     // of those, ended by a missing acknowledge
    uint64_t commandsWhileBusy = 0; // commands ignored because a transfer was still running
    uint64_t eepromWrites = 0;      // write cycles the EEPROM started
    uint64_t fileWriteErrors = 0;   // failed write-backs to the eeprom-file
};

class SimSpeaker {
public:
    // Content from the scenario: eeprom-file when given (created with the default content
    // when missing), else the sample image. Null with error naming the key on failure.
    static std::shared_ptr<SimSpeaker> Create(const Scenario& scenario,
                                              std::shared_ptr<Clock> clock, std::string& error);
    // Default content (the sample image for scenario.fw), never a file.
    SimSpeaker(const Scenario& scenario, std::shared_ptr<Clock> clock);
    ~SimSpeaker();
    SimSpeaker(const SimSpeaker&) = delete;
    SimSpeaker& operator=(const SimSpeaker&) = delete;

    // USB identity as enumeration reports it (the path is the backend's business).
    uint16_t Vid() const { return m_wVid; }
    uint16_t Pid() const { return m_wPid; }
    uint16_t BcdDevice() const { return m_wRev.load(std::memory_order_acquire); }
    std::vector<uint8_t> InterfaceClasses() const { return m_vClasses; }
    // Another identity, for tests: a second vendor's device or one without an audio function.
    void SetIdentity(uint16_t vid, uint16_t pid, std::vector<uint8_t> interfaceClasses);

    // One control transfer on endpoint 0. actual receives the length of the data stage.
    // Sleeps the control-transfer latency on the clock first.
    UsbResult Control(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                      uint8_t* data, uint16_t length, uint16_t& actual);
    // The string descriptor with this index as UTF-8, or nothing.
    std::optional<std::string> String(uint8_t index) const;
    // Device descriptor followed by the configuration descriptor, as sysfs shows them.
    std::vector<uint8_t> Descriptors() const;

    // "sim-eeprom:" and the eeprom-file's real path, or empty without a file: what the
    // speaker lock and the burn journal know this speaker by.
    std::string FileKey() const { return m_strFileKey; }

    // Inspection, safe from any thread.
    std::vector<uint8_t> Eeprom() const;
    void PokeEeprom(uint32_t position, const std::vector<uint8_t>& bytes);
    uint32_t EepromSize() const;
    uint8_t Register(uint16_t reg) const;
    SimCounters Counters() const;
    void ResetCounters();

    // Faults and test hooks.
    void Unplug();
    bool Unplugged() const { return m_bUnplugged.load(std::memory_order_acquire); }
    // replug-after-ms: the speaker is off the bus for a power cycle now. When the cycle is
    // over it comes back with the release number of the firmware in its EEPROM, as a new
    // device: Plugging counts its arrivals, so that a handle opened before can tell.
    bool PowerCycling() const;
    uint64_t Plugging() const;
    // Called before a transfer is processed; a value other than nothing fails it with that
    // result. Runs under the speaker's lock: it must not call back into the speaker.
    using Interceptor = std::function<std::optional<UsbResult>(const ControlRecord&)>;
    void SetInterceptor(Interceptor fn);
    // Vendor reads deliver at most this many bytes of their data stage (nothing: all), as a
    // controller that answers short does.
    void SetShortIn(std::optional<uint16_t> limit);
    // The next n I2C transfers find no acknowledge for their device byte.
    void ForceNacks(uint32_t n);
    // Keeps every transfer from now on (off again with false); TakeRecords hands them over.
    void Record(bool on);
    std::vector<ControlRecord> TakeRecords();

private:
    using Time = Clock::Duration;

    bool LoadFile(const std::string& path, std::string& error);
    bool SyncFromFile();
    void WriteBack(uint32_t first, uint32_t count);
    UsbResult Vendor(bool in, uint16_t reg, uint8_t* data, uint16_t length, Time now);
    UsbResult Standard(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t* data,
                       uint16_t length, uint16_t& actual);
    void Settle(Time now);
    void RunCommand(uint8_t command, Time now);
    bool InjectNack();
    void ArmReplug(Time now);

    const std::shared_ptr<Clock> m_pClock;
    const Time m_tLatency;
    const uint32_t m_nI2cKhz;
    const double m_dNackPercent;
    const std::optional<uint64_t> m_nUnplugAfter;
    const std::string m_strString50;

    uint16_t m_wVid = 0x0D8C;
    uint16_t m_wPid;
    mutable std::atomic<uint16_t> m_wRev; // changes when a power cycle ends
    std::vector<uint8_t> m_vClasses{kUsbClassAudio, kUsbClassHid};
    const std::optional<uint32_t> m_nReplugAfterMs;
    const bool m_bRevPinned; // rev= given: the release number stays whatever the EEPROM holds

    mutable std::mutex m_replugLock; // the power cycle below; taken after m_lock, never before
    mutable std::optional<Time> m_tReplugAt;
    mutable uint16_t m_wReplugRev = 0;
    mutable uint64_t m_nPlugging = 1;

    mutable std::mutex m_lock; // everything below
    Eeprom24C m_eeprom;
    uint8_t m_regs[256] = {};
    Time m_tBusyUntil{Time::min()};
    bool m_bNack = false;
    std::optional<std::vector<uint8_t>> m_vPendingRead; // lands in 0x83.. when the transfer ends
    std::mt19937_64 m_rng;
    uint32_t m_nForcedNacks = 0;
    std::optional<uint16_t> m_nShortIn;
    std::string m_strFile;
    std::string m_strFileKey;
    dormane::files::RandomAccessFile m_file;
    uint64_t m_nFileSize = 0;
    Interceptor m_fnInterceptor;
    bool m_bRecording = false;
    bool m_bWrittenSinceReplug = false; // an EEPROM write since start or the last power cycle
    bool m_bSessionWrote = false;       // the EEPROM access under way has written
    std::vector<ControlRecord> m_vRecords;

    std::atomic<bool> m_bUnplugged{false};
    std::atomic<uint64_t> m_nTransfers{0};
    struct AtomicCounters {
        std::atomic<uint64_t> controlTransfers{0}, failedTransfers{0}, i2cTransfers{0},
            nacksAnswered{0}, commandsWhileBusy{0}, eepromWrites{0}, fileWriteErrors{0};
    } m_counters;
};

} // namespace dormane::sim
