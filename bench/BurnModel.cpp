#include "BurnModel.h"

#include <algorithm>
#include <cmath>

namespace dormane::bench {
namespace {

constexpr uint32_t kChunk = 16;
constexpr int kProgressSteps = 100;
constexpr int kAttempts = 4;
constexpr int kPolls = 4;
constexpr Nanos kWriteStep = std::chrono::milliseconds(10);
// A block load is three register writes: 0x94 = 0x50, 0x80..0x8F, then 0x90..0x94, whose
// last byte starts the transfer.
constexpr int kLoadTransfers = 3;

enum class Status { Ok, Busy, Nack };

// The controller and the EEPROM as the model sees them, on one time line.
class Timeline {
public:
    explicit Timeline(const TimingProfile& p) : m_p(p), m_bit(p.Bit()) {}

    PhaseCost& Cost() { return m_cost; }
    Nanos Now() const { return m_now; }

    // One control transfer; the controller acts on it once the latency has passed.
    void Transfer() {
        m_now += m_p.Latency();
        ++m_cost.controlTransfers;
    }
    // 0x94 = 0x50: clears a NACK unless a transfer is still running.
    void WriteIdle() {
        Transfer();
        if (m_now >= m_busyUntil)
            m_nack = false;
    }
    // Loads a block and starts it: a write of n data bytes, or a read of n bytes.
    void LoadAndStart(bool read, uint32_t n) {
        WriteIdle();
        for (int i = 1; i < kLoadTransfers; ++i)
            Transfer();
        if (m_now < m_busyUntil)
            return; // the controller ignores a command while a transfer runs
        Nanos t = m_now + m_bit + 9 * m_bit; // start, device byte
        if (t < m_cycleEnd) {
            // The EEPROM is still writing and does not acknowledge its address.
            m_busyUntil = t + m_bit;
            m_nack = true;
            return;
        }
        t += 2 * 9 * m_bit; // two address bytes
        if (read)
            t += m_bit + 9 * m_bit; // repeated start, device byte with the read bit
        t += static_cast<int64_t>(n) * 9 * m_bit + m_bit; // data, stop
        m_busyUntil = t;
        m_nack = false;
        if (!read)
            m_cycleEnd = t + m_p.WriteCycle();
    }
    Status Poll() {
        Transfer();
        if (m_now < m_busyUntil)
            return Status::Busy;
        return m_nack ? Status::Nack : Status::Ok;
    }
    void WaitStep() {
        m_now += kWriteStep;
        ++m_cost.writeWaits;
    }

private:
    const TimingProfile& m_p;
    const Nanos m_bit;
    Nanos m_now{0};
    Nanos m_busyUntil{Nanos::min()};
    Nanos m_cycleEnd{Nanos::min()};
    bool m_nack = false;
    PhaseCost m_cost;
};

bool DesignWriteTransfer(Timeline& tl, uint32_t n) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        tl.LoadAndStart(false, n);
        for (int poll = 0; poll < kPolls; ++poll) {
            const Status s = tl.Poll();
            if (s == Status::Nack) {
                ++tl.Cost().nacks;
                break;
            }
            if (s == Status::Ok)
                return true;
            tl.WaitStep();
        }
    }
    return false;
}

// One EEPROM access: register 0x95 read and written before, 0x94 and 0x95 written after.
template <typename Body> bool Access(Timeline& tl, Body body) {
    tl.Transfer();
    tl.Transfer();
    const bool ok = body();
    tl.WriteIdle();
    tl.Transfer();
    return ok;
}

bool DesignWrite(Timeline& tl, uint32_t position, uint32_t count) {
    return Access(tl, [&] {
        if (count == 0)
            return false;
        uint32_t page = 1;
        for (uint32_t done = 0; done < count;) {
            if (page == 1 && (position + done) % kChunk == 0)
                page = kChunk;
            const uint32_t n = std::min(count - done, page);
            if (!DesignWriteTransfer(tl, n))
                return false;
            done += n;
        }
        return true;
    });
}

} // namespace

Nanos TimingProfile::Bit() const {
    return Nanos(static_cast<int64_t>(std::llround(1e6 / std::max<uint32_t>(i2cKhz, 1))));
}

uint64_t Chunks(uint32_t total) {
    return (uint64_t{total} + kChunk - 1) / kChunk;
}

Nanos ChunkWriteBusTime(const TimingProfile& p) {
    return (9 * 19 + 2) * p.Bit();
}

Nanos ChunkReadBusTime(const TimingProfile& p) {
    return (9 * 20 + 3) * p.Bit();
}

Nanos WriteLowerBound(uint32_t total, const TimingProfile& p) {
    const Nanos perChunk = ChunkWriteBusTime(p) + std::max(p.WriteCycle(), 4 * p.Latency());
    return static_cast<int64_t>(Chunks(total)) * perChunk;
}

Nanos ReadLowerBound(uint32_t total, const TimingProfile& p) {
    return static_cast<int64_t>(Chunks(total)) * (5 * p.Latency() + ChunkReadBusTime(p));
}

PhaseCost DesignWritePhase(uint32_t total, const TimingProfile& p) {
    Timeline tl(p);
    const uint32_t chunk = total / kProgressSteps;
    const uint32_t remainder = total % kProgressSteps;
    uint32_t offset = 0;
    for (int step = 0; step <= kProgressSteps; ++step) {
        const uint32_t length = step < kProgressSteps ? chunk : remainder;
        if (!DesignWrite(tl, offset, length)) {
            tl.Cost().ok = length == 0 && offset == total; // only a last empty step may fail
            break;
        }
        offset += length;
    }
    tl.Cost().time = tl.Now();
    return tl.Cost();
}

PhaseCost DesignReadPhase(uint32_t total, const TimingProfile& p) {
    Timeline tl(p);
    Access(tl, [&] {
        for (uint32_t done = 0; done < total; done += kChunk) {
            const uint32_t n = std::min(total - done, kChunk);
            tl.LoadAndStart(true, n);
            bool read = false;
            for (int poll = 0; poll < kPolls && !read; ++poll) {
                const Status s = tl.Poll();
                if (s == Status::Nack)
                    break;
                read = s == Status::Ok;
            }
            if (read)
                tl.Transfer(); // the 16 data bytes from 0x83
            else
                ++tl.Cost().skippedChunks;
        }
        return true;
    });
    tl.Cost().ok = tl.Cost().skippedChunks == 0;
    tl.Cost().time = tl.Now();
    return tl.Cost();
}

} // namespace dormane::bench
