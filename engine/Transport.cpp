#include "Transport.h"

#include "DebugOutput.h"

#include "Clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

using dormane::UsbDevice;
using dormane::UsbDeviceInfo;
using dormane::UsbResult;

namespace {

// Vendor requests of the audio controller.
constexpr uint8_t kRequestTypeIn = 0xC0;  // device to host, vendor, device recipient
constexpr uint8_t kRequestTypeOut = 0x40; // host to device, vendor, device recipient
constexpr uint8_t kRequestRegRead = 0x02;
constexpr uint8_t kRequestRegWrite = 0x01;

// Controller registers.
constexpr uint16_t kRegProbe = 0x0000;
constexpr uint16_t kRegBlockHead = 0x80; // block bytes 0 to 15
constexpr uint16_t kRegBlockTail = 0x90; // block bytes 16 to 20; the last one is the command
constexpr uint16_t kRegReadData = 0x83;
constexpr uint16_t kRegStatus = 0x94;
constexpr uint16_t kRegAccess = 0x95;
constexpr uint8_t kStatusIdle = 0x50; // written to 0x94 before a transfer and after an access
constexpr uint8_t kStatusNack = 0x01;
constexpr uint8_t kStatusBusy = 0x80;
constexpr uint8_t kAccessActive = 0x80;

constexpr size_t kBlockSize = 21;
constexpr size_t kChunk = 16;
constexpr int kAttempts = 4;
constexpr int kWritePolls = 4;
// A write waits until more than this has passed; the single-precision value of 0.01 s.
constexpr double kWriteWaitSeconds = static_cast<double>(0.01f);
// A 16-byte I2C read lasts about 1.8 ms at 100 kHz: poll in short sleeps so that a read is
// not slowed down, and give up on the attempt after a bound far above any real transfer.
constexpr auto kReadPollSleep = std::chrono::microseconds(500);
constexpr auto kReadPollBound = std::chrono::milliseconds(20);
// While the EEPROM runs its internal write cycle (up to 10 ms in the 24C series) it does not
// acknowledge its address. A fast host spends the four attempts well inside that time, so a
// transfer that met a NACK goes on trying, a short sleep apart, until the longest write
// cycle has passed since its first NACK; only a chip that stays silent fails it.
constexpr auto kWriteCycleBound = std::chrono::milliseconds(10);
constexpr auto kNackRetrySleep = std::chrono::microseconds(500);

constexpr uint32_t kTwoByteAddressSize = 4096;

struct TransportState {
    std::shared_ptr<dormane::UsbBackend> backend;
    bool initialised = false;
    bool selected = false;
    std::string selectedPath; // the device that answered last during selection
    std::optional<UsbDeviceInfo> selectedInfo;
    std::unique_ptr<UsbDevice> device; // where all register requests go while selected
    uint32_t eepromSize = 4096;
    uint8_t i2cAddress = 0xA8;
    UsbResult lastError = UsbResult::Ok;
    std::function<void(const std::string&)> trace;
};

TransportState& State() {
    static TransportState state;
    return state;
}

struct Counters {
    std::atomic<uint64_t> controlTransfers{0};
    std::atomic<uint64_t> failedTransfers{0};
    std::atomic<uint64_t> i2cBlocks{0};
    std::atomic<uint64_t> nacks{0};
    std::atomic<uint64_t> busyGiveUps{0};
    std::atomic<uint64_t> writeWaits{0};
    std::atomic<uint64_t> readWaits{0};
};

Counters& Stats() {
    static Counters counters;
    return counters;
}

void Count(std::atomic<uint64_t>& counter) {
    counter.fetch_add(1, std::memory_order_relaxed);
}

// The transport's two messages go to the diagnostic channel whether or not a log is on.
void Diagnostic(const char* message) {
    dormane::DebugOutput(message);
}

bool Transfer(UsbDevice* device, uint8_t requestType, uint8_t request, uint16_t reg, uint8_t* data,
              uint16_t count) {
    if (device == nullptr)
        return false;
    Count(Stats().controlTransfers);
    const UsbResult r = device->ControlTransfer(requestType, request, reg, 0, data, count);
    if (r != UsbResult::Ok) {
        Count(Stats().failedTransfers);
        return false;
    }
    return true;
}

bool RegRead(UsbDevice* device, uint16_t reg, uint16_t count, uint8_t* buffer) {
    return Transfer(device, kRequestTypeIn, kRequestRegRead, reg, buffer, count);
}

bool RegWrite(UsbDevice* device, uint16_t reg, uint16_t count, const uint8_t* buffer) {
    // The backend interface takes one buffer for both directions; an OUT transfer only
    // reads it, but the caller's bytes stay untouched either way.
    std::vector<uint8_t> copy(buffer, buffer + count);
    return Transfer(device, kRequestTypeOut, kRequestRegWrite, reg, copy.data(), count);
}

bool RegWriteByte(uint16_t reg, uint8_t value) {
    return RegWrite(State().device.get(), reg, 1, &value);
}

enum class Outcome { Ok, Nack, Busy, Fail };

const char* OutcomeName(Outcome o) {
    switch (o) {
    case Outcome::Ok:
        return "ok";
    case Outcome::Nack:
        return "nack";
    case Outcome::Busy:
        return "busy";
    case Outcome::Fail:
        return "fail";
    }
    return "fail";
}

void Trace(bool write, const uint8_t* block, uint32_t position, Outcome outcome) {
    const auto& sink = State().trace;
    if (!sink)
        return;
    char line[96];
    std::snprintf(line, sizeof line, "i2c %s dev=0x%02X pos=0x%04X count=%u cmd=0x%02X -> %s",
                  write ? "write" : "read", block[0], static_cast<unsigned>(position),
                  static_cast<unsigned>(block[19]), block[20], OutcomeName(outcome));
    sink(line);
}

// Device byte and position bytes of a chunk at position p.
void FillAddress(uint8_t* block, uint32_t p, bool read) {
    const TransportState& st = State();
    if (st.eepromSize >= kTwoByteAddressSize) {
        block[0] = st.i2cAddress;
        block[1] = static_cast<uint8_t>(p & 0xFF);
        block[2] = static_cast<uint8_t>((p >> 8) & 0xFF);
    } else {
        // Small chips take the position bits from bit 8 up in the device byte.
        block[0] = static_cast<uint8_t>(st.i2cAddress | ((p >> 7) & 0xFE));
        block[1] = static_cast<uint8_t>(p & 0xFF);
        block[2] = 0;
    }
    if (read)
        block[0] |= 0x01;
}

// The position a block addresses, for the trace of a block handed in from outside.
uint32_t PositionOf(const uint8_t* block) {
    if (State().eepromSize >= kTwoByteAddressSize)
        return block[1] | (block[2] << 8);
    return block[1] | ((block[0] & 0x0E) << 7);
}

// Loads the block into registers 0x80 to 0x94; writing 0x94 starts the transfer.
bool LoadBlock(const uint8_t* block) {
    UsbDevice* device = State().device.get();
    return RegWriteByte(kRegStatus, kStatusIdle) && RegWrite(device, kRegBlockHead, 16, block) &&
           RegWrite(device, kRegBlockTail, 5, block + 16);
}

// Sleeps until more than 0.01 s has passed, on the process-wide clock.
void WaitWriteStep() {
    Count(Stats().writeWaits);
    std::shared_ptr<dormane::Clock> clock = dormane::CurrentClock();
    const auto start = clock->Now();
    for (;;) {
        const double elapsed = std::chrono::duration<double>(clock->Now() - start).count();
        if (elapsed > kWriteWaitSeconds)
            return;
        const auto rest = std::chrono::nanoseconds(
            static_cast<int64_t>(std::ceil((kWriteWaitSeconds - elapsed) * 1e9)) + 1);
        clock->SleepFor(rest);
    }
}

// Decides whether a transfer gets another attempt: the designed four, then more only while
// a NACK may still be the write cycle of the transfer before.
class Attempts {
public:
    Attempts() : m_clock(dormane::CurrentClock()) {}

    bool Another() {
        if (m_nMade < kAttempts) {
            ++m_nMade;
            return true;
        }
        if (!m_firstNack || m_clock->Now() - *m_firstNack >= kWriteCycleBound)
            return false;
        m_clock->SleepFor(kNackRetrySleep);
        ++m_nMade;
        return true;
    }
    void Nack() {
        if (!m_firstNack)
            m_firstNack = m_clock->Now();
    }

private:
    std::shared_ptr<dormane::Clock> m_clock;
    int m_nMade = 0;
    std::optional<dormane::Clock::Duration> m_firstNack;
};

int WriteTransfer(uint8_t* block, uint32_t position) {
    UsbDevice* device = State().device.get();
    for (Attempts attempts; attempts.Another();) {
        Count(Stats().i2cBlocks);
        if (!LoadBlock(block)) {
            Trace(true, block, position, Outcome::Fail);
            return 0;
        }
        Outcome outcome = Outcome::Fail;
        for (int poll = 0; poll < kWritePolls; ++poll) {
            uint8_t status = 0;
            if (!RegRead(device, kRegStatus, 1, &status)) {
                outcome = Outcome::Fail;
                continue;
            }
            if (status & kStatusNack) {
                Count(Stats().nacks);
                Diagnostic("NACK!!");
                attempts.Nack();
                outcome = Outcome::Nack;
                break;
            }
            if (!(status & kStatusBusy)) {
                Trace(true, block, position, Outcome::Ok);
                return 1;
            }
            outcome = Outcome::Busy;
            WaitWriteStep();
        }
        if (outcome == Outcome::Busy)
            Count(Stats().busyGiveUps);
        Trace(true, block, position, outcome);
    }
    return 0;
}

int EepromWrite(uint32_t position, const uint8_t* buffer, uint32_t count) {
    const uint32_t size = State().eepromSize;
    const uint8_t command = size >= kTwoByteAddressSize ? 0xB0 : 0x90;
    uint32_t page = 1;
    bool aligned = false;
    uint8_t block[kBlockSize] = {};
    for (uint32_t done = 0; done < count;) {
        const uint32_t p = position + done;
        if (!aligned) {
            // Byte by byte up to the first page boundary, then page by page, so that no
            // transfer crosses a page of the chip.
            if (size >= 1024 && p % 16 == 0) {
                page = 16;
                aligned = true;
            } else if (size < 1024 && p % 8 == 0) {
                page = 8;
                aligned = true;
            }
        }
        const uint32_t n = std::min(count - done, page);
        FillAddress(block, p, false);
        std::memcpy(block + 3, buffer + done, n);
        block[19] = static_cast<uint8_t>(n);
        block[20] = command;
        if (!WriteTransfer(block, p))
            return 0;
        done += n;
    }
    return 1;
}

// One read chunk: waits for the transfer and retries a NACK or a lasting busy status like a
// write does; a chunk that never comes through fails the read rather than leaving stale bytes.
bool ReadChunk(const uint8_t* block, uint32_t position, uint8_t* out, uint32_t n) {
    UsbDevice* device = State().device.get();
    std::shared_ptr<dormane::Clock> clock = dormane::CurrentClock();
    for (Attempts attempts; attempts.Another();) {
        Count(Stats().i2cBlocks);
        if (!LoadBlock(block)) {
            Trace(false, block, position, Outcome::Fail);
            return false;
        }
        const auto started = clock->Now();
        for (;;) {
            uint8_t status = 0;
            if (!RegRead(device, kRegStatus, 1, &status)) {
                Trace(false, block, position, Outcome::Fail);
                return false;
            }
            if (status & kStatusNack) {
                Count(Stats().nacks);
                attempts.Nack();
                Trace(false, block, position, Outcome::Nack);
                break;
            }
            if (!(status & kStatusBusy)) {
                uint8_t data[kChunk] = {};
                if (!RegRead(device, kRegReadData, kChunk, data)) {
                    Trace(false, block, position, Outcome::Fail);
                    return false;
                }
                std::memcpy(out, data, n);
                Trace(false, block, position, Outcome::Ok);
                return true;
            }
            if (clock->Now() - started >= kReadPollBound) {
                Count(Stats().busyGiveUps);
                Trace(false, block, position, Outcome::Busy);
                break;
            }
            Count(Stats().readWaits);
            clock->SleepFor(kReadPollSleep);
        }
    }
    return false;
}

int EepromRead(uint32_t position, uint8_t* buffer, uint32_t count) {
    const uint8_t command = State().eepromSize >= kTwoByteAddressSize ? 0xBA : 0x9A;
    uint8_t block[kBlockSize] = {};
    for (uint32_t done = 0; done < count;) {
        const uint32_t p = position + done;
        const uint32_t n = std::min<uint32_t>(count - done, kChunk);
        FillAddress(block, p, true);
        block[19] = static_cast<uint8_t>(n);
        block[20] = command;
        if (!ReadChunk(block, p, buffer + done, n))
            return 0;
        done += n;
    }
    return 1;
}

// Remembers the most useful reason for a failed selection: a permission problem tells the
// user what to do, so it wins over the others; "not found" is the fallback.
void NoteFailure(UsbResult& why, UsbResult r) {
    if (r == UsbResult::Ok || why == UsbResult::NoPermission)
        return;
    if (why == UsbResult::NotFound || r == UsbResult::NoPermission)
        why = r;
}

} // namespace

void rmSetBackend(std::shared_ptr<dormane::UsbBackend> backend) {
    TransportState& st = State();
    st.device.reset();
    st.backend = std::move(backend);
    st.initialised = false;
    st.selected = false;
    st.selectedPath.clear();
    st.selectedInfo.reset();
    st.eepromSize = 4096;
    st.i2cAddress = 0xA8;
    st.lastError = UsbResult::Ok;
}

dormane::UsbBackend* rmBackend() {
    TransportState& st = State();
    if (!st.backend)
        st.backend = dormane::MakeSystemUsbBackend();
    return st.backend.get();
}

std::shared_ptr<dormane::UsbBackend> rmSharedBackend() {
    rmBackend();
    return State().backend;
}

int rmInitialize() {
    TransportState& st = State();
    st.selectedPath.clear();
    const UsbResult r = rmBackend()->Init();
    if (r != UsbResult::Ok) {
        st.lastError = r;
        Diagnostic("Driver Handle invalid!!");
        return 0;
    }
    st.initialised = true;
    st.lastError = UsbResult::Ok;
    return 1;
}

int rmSelectAudioDevice(uint16_t vid, uint16_t pid) {
    TransportState& st = State();
    st.selectedPath.clear();
    st.selectedInfo.reset();
    if (!st.initialised)
        return 0;
    std::vector<UsbDeviceInfo> devices;
    UsbResult r = rmBackend()->Enumerate(devices);
    if (r != UsbResult::Ok) {
        st.lastError = r;
        return 0;
    }
    int count = 0;
    UsbResult why = UsbResult::NotFound;
    for (const UsbDeviceInfo& info : devices) {
        if (!info.HasInterfaceClass(dormane::kUsbClassAudio) || info.vid != vid || info.pid != pid)
            continue;
        std::unique_ptr<UsbDevice> device;
        r = rmBackend()->Open(info.path, device);
        if (r != UsbResult::Ok || !device) {
            NoteFailure(why, r == UsbResult::Ok ? UsbResult::Io : r);
            continue;
        }
        uint8_t probe[16] = {};
        Count(Stats().controlTransfers);
        r = device->ControlTransfer(kRequestTypeIn, kRequestRegRead, kRegProbe, 0, probe,
                                    sizeof probe);
        if (r != UsbResult::Ok) {
            Count(Stats().failedTransfers);
            NoteFailure(why, r);
            continue;
        }
        // Every answering device is visited; the last one enumerated is the one kept.
        st.selectedPath = info.path;
        st.selectedInfo = info;
        count = std::min(count + 1, 255);
    } // each probed device is closed again here
    st.lastError = count > 0 ? UsbResult::Ok : why;
    return count;
}

int rmDeviceStart(uint16_t vid, uint16_t pid) {
    TransportState& st = State();
    if (!st.initialised) {
        if (st.lastError == UsbResult::Ok)
            st.lastError = UsbResult::NotSupported;
        return 0;
    }
    if (st.selected)
        rmDeviceStop();
    if (rmSelectAudioDevice(vid, pid) == 0)
        return 0;
    // The device answered a moment ago; if it cannot be opened again now (it was unplugged
    // in between), no device is selected rather than one that fails every request.
    const UsbResult r = rmBackend()->Open(st.selectedPath, st.device);
    if (r != UsbResult::Ok || !st.device) {
        st.device.reset();
        st.lastError = r == UsbResult::Ok ? UsbResult::Io : r;
        return 0;
    }
    st.selected = true;
    st.lastError = UsbResult::Ok;
    return 1;
}

int rmDeviceStop() {
    TransportState& st = State();
    if (!st.initialised)
        return 0;
    st.device.reset();
    st.selected = false;
    return 1;
}

void rmSetEepromSize(uint32_t size) {
    State().eepromSize = size;
}

uint32_t rmGetEepromSize() {
    return State().eepromSize;
}

int rmEepromAccess(int write, uint32_t position, uint8_t* buffer, uint32_t count) {
    TransportState& st = State();
    if (!st.initialised || !st.selected || !st.device)
        return 0;
    st.i2cAddress = st.eepromSize >= kTwoByteAddressSize ? 0xA8 : 0xA0;

    uint8_t access = 0;
    if (!RegRead(st.device.get(), kRegAccess, 1, &access))
        access = 0;
    RegWriteByte(kRegAccess, static_cast<uint8_t>(access | kAccessActive));

    int result = 0;
    if (count != 0 && buffer != nullptr)
        result = write ? EepromWrite(position, buffer, count) : EepromRead(position, buffer, count);

    RegWriteByte(kRegStatus, kStatusIdle);
    RegWriteByte(kRegAccess, static_cast<uint8_t>(access & ~kAccessActive));
    return result;
}

int rmI2CTransfer(uint8_t block[21]) {
    if (block == nullptr || !State().device)
        return 0;
    return WriteTransfer(block, PositionOf(block));
}

int rmRegRead(uint16_t reg, uint16_t count, uint8_t* buffer) {
    if (buffer == nullptr && count != 0)
        return 0;
    return RegRead(State().device.get(), reg, count, buffer) ? 1 : 0;
}

int rmRegWrite(uint16_t reg, uint16_t count, const uint8_t* buffer) {
    if (buffer == nullptr && count != 0)
        return 0;
    return RegWrite(State().device.get(), reg, count, buffer) ? 1 : 0;
}

const dormane::UsbDeviceInfo* rmSelectedDevice() {
    const TransportState& st = State();
    if (!st.selected || !st.selectedInfo)
        return nullptr;
    return &*st.selectedInfo;
}

dormane::UsbResult rmLastError() {
    return State().lastError;
}

void rmSetTraceSink(std::function<void(const std::string&)> sink) {
    State().trace = std::move(sink);
}

rmStats rmGetStats() {
    const Counters& c = Stats();
    rmStats s;
    s.controlTransfers = c.controlTransfers.load(std::memory_order_relaxed);
    s.failedTransfers = c.failedTransfers.load(std::memory_order_relaxed);
    s.i2cBlocks = c.i2cBlocks.load(std::memory_order_relaxed);
    s.nacks = c.nacks.load(std::memory_order_relaxed);
    s.busyGiveUps = c.busyGiveUps.load(std::memory_order_relaxed);
    s.writeWaits = c.writeWaits.load(std::memory_order_relaxed);
    s.readWaits = c.readWaits.load(std::memory_order_relaxed);
    return s;
}

void rmResetStats() {
    Counters& c = Stats();
    for (auto* counter : {&c.controlTransfers, &c.failedTransfers, &c.i2cBlocks, &c.nacks,
                          &c.busyGiveUps, &c.writeWaits, &c.readWaits})
        counter->store(0, std::memory_order_relaxed);
}
