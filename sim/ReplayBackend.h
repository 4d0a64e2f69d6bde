#pragma once

#include "Clock.h"
#include "UsbBackend.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// --simulate=replay=FILE: a backend that answers from a recording made with --record, call by
// call. Every call must be the one the recording holds next (the same operation on the same
// device, the same request and the same data sent); the first one that is not ends the replay
// with a message that names the recording's line, what it expected and what came. Time runs
// on the virtual clock and is moved on to each line's time as it is answered, so the waits of
// the recorded run are replayed without being slept.
//
// With eeprom-file=PATH the writes the conversation makes to the EEPROM (the I2C transfers
// the controller acknowledged) are applied to that file, so a replay ends with the EEPROM the
// recorded run left when the file held what the speaker held at its start.
namespace dormane::sim {

// The exit status of both programs when a replay diverged from its recording.
inline constexpr int kExitReplayDiverged = 6;

class ReplayBackend final : public UsbBackend, public std::enable_shared_from_this<ReplayBackend> {
public:
    // Loads the recording. Null with error naming the line when it cannot be read.
    static std::shared_ptr<ReplayBackend>
    Load(const std::string& path, std::shared_ptr<VirtualClock> clock, std::string& error);
    ~ReplayBackend() override;
    ReplayBackend(const ReplayBackend&) = delete;
    ReplayBackend& operator=(const ReplayBackend&) = delete;

    const char* Name() const override { return "replay"; }
    UsbResult Init() override;
    UsbResult Enumerate(std::vector<UsbDeviceInfo>& out) override;
    UsbResult Open(const std::string& path, std::unique_ptr<UsbDevice>& out) override;

    // Applies the EEPROM writes to this file from now on. False with error when it cannot be
    // opened for reading and writing.
    bool SetEepromFile(const std::string& path, std::string& error);
    // Called once, at the first call that differs from the recording, with the message; that
    // call and every later one fail with UsbResult::Io. The programs print and end there.
    void SetDivergenceHandler(std::function<void(const std::string&)> handler);
    std::string Divergence() const;
    // Lines answered so far, and lines the recording holds (the first one not counted).
    size_t Answered() const;
    size_t Events() const;

    struct Event;
    // Used by the devices this backend opens.
    UsbResult Control(const std::string& path, uint8_t bmRequestType, uint8_t bRequest,
                      uint16_t wValue, uint16_t wIndex, uint8_t* data, uint16_t length);
    UsbResult String(const std::string& path, uint8_t index, std::string& utf8);

private:
    ReplayBackend(std::string file, std::shared_ptr<VirtualClock> clock);
    // The next event when it is what came (described by came, matched by same), else null
    // after reporting the divergence. Runs under the lock.
    const Event* Take(const std::string& came, const std::function<bool(const Event&)>& same);
    void Diverge(const std::string& message);
    void TrackEeprom(uint8_t bmRequestType, uint16_t wValue, const uint8_t* data, uint16_t length);

    const std::string m_strFile;
    const std::shared_ptr<VirtualClock> m_pClock;
    const Clock::Duration m_tStart;
    std::vector<Event> m_vEvents;

    mutable std::mutex m_lock; // everything below
    size_t m_nNext = 0;
    std::string m_strDivergence;
    std::function<void(const std::string&)> m_fnDiverged;
    uint8_t m_regs[256] = {};
    bool m_bWritePending = false;
    std::FILE* m_pEeprom = nullptr;
    long m_nEepromSize = 0;
};

// The divergence handler that InstallSimulatedSpeaker gives the replay backends it creates;
// by default none (the replay only fails the calls).
void SetReplayDivergenceHandler(std::function<void(const std::string&)> handler);
std::function<void(const std::string&)> ReplayDivergenceHandler();

} // namespace dormane::sim
