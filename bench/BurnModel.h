#pragma once

#include <chrono>
#include <cstdint>

// What a burn costs under the timing model of the simulated speaker, worked out on paper
// rather than measured: the protocol's lower bounds and the designed algorithm's own time.
// Every control transfer takes the latency L before the controller acts on it; an I2C byte
// takes 9 bit times, a start, repeated start or stop one; after a write's stop the EEPROM
// does not acknowledge its address for tWR. The EEPROM is taken to use two address bytes
// (4 KB and more), as the speaker's does.
namespace dormane::bench {

using Nanos = std::chrono::nanoseconds;

struct TimingProfile {
    uint32_t latencyUs = 250; // per control transfer
    uint32_t i2cKhz = 100;    // bus clock
    uint32_t twrUs = 3000;    // EEPROM write cycle

    Nanos Latency() const { return std::chrono::microseconds(latencyUs); }
    Nanos Bit() const;
    Nanos WriteCycle() const { return std::chrono::microseconds(twrUs); }
};

// The simulated speaker's defaults, and the profile of the summary line.
inline constexpr TimingProfile kDefaultProfile{};

// 16-byte chunks of an image of total bytes, the last one possibly short.
uint64_t Chunks(uint32_t total);

// Bus time of one 16-byte chunk: a write sends device byte, two address bytes and 16 data
// bytes (9 x 19 + 2 bits); a read adds the repeated start and the second device byte and
// returns 16 bytes (9 x 20 + 3 bits).
Nanos ChunkWriteBusTime(const TimingProfile& p);
Nanos ChunkReadBusTime(const TimingProfile& p);

// Lower bounds: a write chunk cannot follow the one before sooner than its bus time plus the
// longer of the write cycle and the four transfers of a status read and a block load; a read
// chunk needs the block load (3 L), its bus time, a status read and the data read.
Nanos WriteLowerBound(uint32_t total, const TimingProfile& p);
Nanos ReadLowerBound(uint32_t total, const TimingProfile& p);

struct PhaseCost {
    Nanos time{0};
    uint64_t controlTransfers = 0;
    uint64_t nacks = 0;      // status reads that showed a NACK
    uint64_t writeWaits = 0; // 10 ms steps
    uint64_t skippedChunks = 0;
    bool ok = true; // every write went through / every read chunk came back
};

// The designed write phase of a burn of total bytes, step by step as the burn and the
// transport are designed: 101 progress steps of total / 100 bytes (the last one the
// remainder), each one EEPROM access that goes byte by byte up to the next 16-byte boundary
// and then in 16-byte pages; every transfer up to 4 attempts of a block load and up to 4
// status polls, a 10 ms step after each busy status. A step with nothing to write fails the
// access and ends the phase there.
PhaseCost DesignWritePhase(uint32_t total, const TimingProfile& p);

// The designed read-back: one access, 16-byte chunks, each polled 4 times without waiting;
// a chunk still busy after the fourth poll is skipped (its bytes are not read).
PhaseCost DesignReadPhase(uint32_t total, const TimingProfile& p);

} // namespace dormane::bench
