#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

// A 24C-series serial EEPROM at the level of I2C bus events, as the datasheets describe it:
// device-address matching, one or two address bytes by density, a page buffer that wraps
// inside its page, reads that wrap at the end of the array, and a write cycle (tWR) after a
// write's stop during which the chip does not acknowledge its address.
namespace dormane::sim {

class Eeprom24C {
public:
    using Time = std::chrono::nanoseconds;

    // size: a power of two from 256 to 65536 bytes (ValidSize tells).
    explicit Eeprom24C(uint32_t size, Time writeCycle = std::chrono::microseconds(3000));

    static bool ValidSize(uint32_t size);

    uint32_t Size() const { return static_cast<uint32_t>(m_vMemory.size()); }
    uint32_t PageSize() const { return m_nPageSize; }
    // Chips below 4 KB take one address byte (the block bits travel in the device byte);
    // 4 KB and more take two, high byte first.
    int AddressBytes() const { return Size() >= 4096 ? 2 : 1; }
    // Whether a device byte (R/W bit ignored) selects this chip. Small chips answer 0xA0 and
    // the block addresses above it; large chips answer 0xA8 (the speaker's wiring).
    bool Answers(uint8_t deviceByte) const;

    // Bus events. now is the time of the event on the simulation's clock.
    void Start();                           // start or repeated start
    bool WriteByte(uint8_t byte, Time now); // a byte from the master; true = ACK
    uint8_t ReadByte();                     // a byte to the master
    void Stop(Time now);                    // a write takes effect here

    bool InWriteCycle(Time now) const { return now < m_tWriteCycleEnd; }
    uint32_t AddressCounter() const { return m_nCounter; }

    const std::vector<uint8_t>& Memory() const { return m_vMemory; }
    std::vector<uint8_t>& Memory() { return m_vMemory; }

    // Called after a write took effect, with the first position and the byte count of the
    // page range it touched (for writing a backing file back).
    void SetCommitHook(std::function<void(uint32_t first, uint32_t count)> hook) {
        m_fnCommit = std::move(hook);
    }

private:
    enum class Phase { Idle, DeviceByte, Address, WriteData, ReadData, Ignore };

    uint32_t Mask() const { return Size() - 1; }

    std::vector<uint8_t> m_vMemory;
    uint32_t m_nPageSize;
    Time m_tWriteCycle;
    Time m_tWriteCycleEnd{Time::min()};

    Phase m_phase = Phase::Idle;
    uint32_t m_nCounter = 0;     // the internal address counter
    uint32_t m_nBlock = 0;       // block bits of a small chip's device byte
    int m_nAddressSeen = 0;      // address bytes received in this transaction
    uint32_t m_nAddressHigh = 0; // first byte of a two-byte address
    // The page buffer: writes in arrival order, applied at the stop.
    std::vector<std::pair<uint32_t, uint8_t>> m_vPending;

    std::function<void(uint32_t, uint32_t)> m_fnCommit;
};

} // namespace dormane::sim
