#include "SimSpeaker.h"

#include "ImageBuilder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace dormane::sim {
namespace {

constexpr uint16_t kRegReadData = 0x83;
constexpr uint16_t kRegCount = 0x93;
constexpr uint16_t kRegCommand = 0x94; // the command when written, the status when read
constexpr uint16_t kRegAccess = 0x95;

constexpr uint8_t kCmdIdle = 0x50;
constexpr uint8_t kCmdWrite1 = 0x90; // one position byte, block bits in the device byte
constexpr uint8_t kCmdRead1 = 0x9A;
constexpr uint8_t kCmdWrite2 = 0xB0; // two position bytes
constexpr uint8_t kCmdRead2 = 0xBA;

constexpr uint8_t kStatusNack = 0x01;
constexpr uint8_t kStatusBusy = 0x80;

// Some bits of 0x95 are set at power-up, so that a caller that clobbers them shows.
constexpr uint8_t kAccessPowerUp = 0x21;

// How long the speaker stays off the bus in a replug-after-ms power cycle.
constexpr std::chrono::milliseconds kPowerCycleOff(1000);

constexpr uint8_t kStringManufacturer = 1;
constexpr uint8_t kStringProduct = 2;
constexpr uint8_t kString50 = 50;

void Put16(std::vector<uint8_t>& v, uint16_t w) {
    v.push_back(static_cast<uint8_t>(w & 0xFF));
    v.push_back(static_cast<uint8_t>(w >> 8));
}

std::vector<uint8_t> DeviceDescriptor(uint16_t vid, uint16_t pid, uint16_t rev) {
    std::vector<uint8_t> d = {18, 0x01};
    Put16(d, 0x0110);                 // USB 1.1, full speed
    d.insert(d.end(), {0, 0, 0, 64}); // class per interface, max packet 64
    Put16(d, vid);
    Put16(d, pid);
    Put16(d, rev);
    d.insert(d.end(), {kStringManufacturer, kStringProduct, 0, 1});
    return d;
}

// An audio function (control interface plus a streaming interface with a zero-bandwidth and
// a 48 kHz stereo setting) and a HID interface, each only when the identity lists its class.
std::vector<uint8_t> ConfigDescriptor(const std::vector<uint8_t>& classes) {
    const bool audio = std::find(classes.begin(), classes.end(), kUsbClassAudio) != classes.end();
    const bool hid = std::find(classes.begin(), classes.end(), kUsbClassHid) != classes.end();
    std::vector<uint8_t> body;
    uint8_t interfaces = 0;
    if (audio) {
        const uint8_t control = interfaces++;
        const uint8_t streaming = interfaces++;
        body.insert(body.end(), {9, 0x04, control, 0, 0, 0x01, 0x01, 0, 0});
        body.insert(body.end(), {9, 0x24, 0x01, 0x00, 0x01, 9, 0, 1, streaming});
        body.insert(body.end(), {9, 0x04, streaming, 0, 0, 0x01, 0x02, 0, 0});
        body.insert(body.end(), {9, 0x04, streaming, 1, 1, 0x01, 0x02, 0, 0});
        body.insert(body.end(), {7, 0x24, 0x01, 0x01, 0x01, 0x01, 0x00});
        body.insert(body.end(), {11, 0x24, 0x02, 0x01, 0x02, 0x02, 0x10, 0x01, 0x80, 0xBB, 0x00});
        body.insert(body.end(), {9, 0x05, 0x01, 0x09, 0xC0, 0x00, 0x01, 0x00, 0x00});
        body.insert(body.end(), {7, 0x25, 0x01, 0x00, 0x00, 0x00, 0x00});
    }
    if (hid) {
        const uint8_t itf = interfaces++;
        body.insert(body.end(), {9, 0x04, itf, 0, 1, 0x03, 0x00, 0x00, 0});
        body.insert(body.end(), {9, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 0x21, 0x00});
        body.insert(body.end(), {7, 0x05, 0x81, 0x03, 0x08, 0x00, 0x0A});
    }
    for (uint8_t cls : classes) {
        if (cls == kUsbClassAudio || cls == kUsbClassHid)
            continue;
        const uint8_t itf = interfaces++;
        body.insert(body.end(), {9, 0x04, itf, 0, 0, cls, 0x00, 0x00, 0});
    }
    std::vector<uint8_t> d = {9, 0x02};
    Put16(d, static_cast<uint16_t>(9 + body.size()));
    d.insert(d.end(), {interfaces, 1, 0, 0x80, 50}); // bus powered, 100 mA
    d.insert(d.end(), body.begin(), body.end());
    return d;
}

std::vector<uint8_t> DefaultContent(const Scenario& s) {
    std::vector<uint8_t> content(s.eepromSize, 0xFF);
    const std::vector<uint8_t> image = s.broken ? imagebuilder::BuildSampleImageBroken(s.fw)
                                                : imagebuilder::BuildSampleImage(s.fw);
    std::copy_n(image.begin(), std::min<size_t>(image.size(), content.size()), content.begin());
    return content;
}

// The firmware version word of the image at the start of memory, read the way the engine
// reads it (the extension block at the end of the last image region); nothing when there is
// no image.
std::optional<uint16_t> FirmwareWordOf(const std::vector<uint8_t>& memory) {
    if (memory.size() < 61 || memory[0] != 'V' || memory[1] != 'X')
        return std::nullopt;
    uint32_t end = 0;
    for (uint32_t offset = 12; offset < 60 && memory[offset] != 0x7F; offset += 4) {
        const uint8_t b0 = memory[offset], b1 = memory[offset + 1], b2 = memory[offset + 2],
                      b3 = memory[offset + 3];
        if ((b0 & 0x80) && (b2 & 0xF0) == 0xB0) {
            const uint32_t start = ((b0 & 0x7Fu) << 6) | (b1 >> 2);
            const uint32_t size = ((b1 & 0x03u) << 12) | ((b2 & 0x0Fu) << 8) | b3;
            end = start + size;
        }
    }
    if (end < 13 || end > memory.size())
        return std::nullopt;
    return static_cast<uint16_t>((memory[end - 5] << 8) | memory[end - 4]);
}

} // namespace

SimSpeaker::SimSpeaker(const Scenario& scenario, std::shared_ptr<Clock> clock)
    : m_pClock(clock ? std::move(clock) : CurrentClock()),
      m_tLatency(std::chrono::microseconds(scenario.latencyUs)),
      m_nI2cKhz(std::max<uint32_t>(scenario.i2cKhz, 1)), m_dNackPercent(scenario.nackPercent),
      m_nUnplugAfter(scenario.unplugAfter), m_strString50(scenario.string50), m_wPid(scenario.pid),
      m_wRev(scenario.Rev()), m_nReplugAfterMs(scenario.replugAfterMs),
      m_bRevPinned(scenario.rev.has_value()),
      m_eeprom(scenario.eepromSize, std::chrono::microseconds(scenario.twrUs)),
      m_rng(scenario.seed) {
    m_eeprom.Memory() = DefaultContent(scenario);
    m_eeprom.Memory().resize(m_eeprom.Size(), 0xFF);
    // The probe register block: the controller's identity bytes.
    const uint8_t probe[16] = {0x65, 0x01, 0x0D, 0x8C, 0x00, 0x82, 0x01, 0x00};
    std::memcpy(m_regs, probe, sizeof probe);
    m_regs[kRegAccess] = kAccessPowerUp;
    m_eeprom.SetCommitHook([this](uint32_t first, uint32_t count) {
        m_counters.eepromWrites.fetch_add(1, std::memory_order_relaxed);
        m_bWrittenSinceReplug = true;
        m_bSessionWrote = true;
        WriteBack(first, count);
    });
}

SimSpeaker::~SimSpeaker() = default;

std::shared_ptr<SimSpeaker> SimSpeaker::Create(const Scenario& scenario,
                                               std::shared_ptr<Clock> clock, std::string& error) {
    if (!Eeprom24C::ValidSize(scenario.eepromSize)) {
        error = "eeprom: expected a power of two from 256 to 65536";
        return nullptr;
    }
    auto speaker = std::make_shared<SimSpeaker>(scenario, std::move(clock));
    if (!scenario.eepromFile.empty() && !speaker->LoadFile(scenario.eepromFile, error))
        return nullptr;
    // The speaker reports its firmware version as its USB release number: a kept EEPROM file
    // that was burned with the other image must show that image's version, not fw=.
    if (!scenario.rev && !scenario.eepromFile.empty()) {
        std::lock_guard<std::mutex> guard(speaker->m_lock);
        if (auto word = FirmwareWordOf(speaker->m_eeprom.Memory()))
            speaker->m_wRev = *word;
    }
    return speaker;
}

bool SimSpeaker::LoadFile(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<uint8_t>& memory = m_eeprom.Memory();
    // Kept open for the speaker's life: every process that names the file shares one EEPROM.
    bool created = false;
    if (!m_file.OpenOrCreate(path, created)) {
        error = "eeprom-file: cannot open " + path + " as a regular file";
        return false;
    }
    const std::string canonical = files::CanonicalPath(path);
    m_strFileKey = "sim-eeprom:" + (canonical.empty() ? path : canonical);
    if (created) {
        // A new file starts with the default content, so that it can be inspected at once.
        if (!m_file.WriteAt(0, memory.data(), memory.size())) {
            error = "eeprom-file: cannot write " + path;
            return false;
        }
        m_strFile = path;
        return true;
    }
    const int64_t size = m_file.Size();
    if (size < 0 || static_cast<uint64_t>(size) > memory.size()) {
        error = "eeprom-file: " + path + " holds " + std::to_string(size) +
                " bytes, more than the EEPROM's " + std::to_string(memory.size());
        return false;
    }
    m_strFile = path;
    if (!SyncFromFile()) {
        error = "eeprom-file: cannot read " + path;
        return false;
    }
    return true;
}

// Runs under the lock. Another process may have written the file since: the file is the
// EEPROM, this process's copy only a cache of it. What the file does not cover reads as erased.
bool SimSpeaker::SyncFromFile() {
    if (!m_file.IsOpen())
        return true;
    std::vector<uint8_t>& memory = m_eeprom.Memory();
    std::vector<uint8_t> bytes(memory.size(), 0xFF);
    const int64_t done = m_file.ReadAt(0, bytes.data(), bytes.size());
    if (done < 0)
        return false;
    memory.swap(bytes);
    m_nFileSize = static_cast<uint64_t>(done);
    return true;
}

// Runs under the lock, right after a write took effect.
void SimSpeaker::WriteBack(uint32_t first, uint32_t count) {
    if (!m_file.IsOpen())
        return;
    const std::vector<uint8_t>& memory = m_eeprom.Memory();
    if (m_nFileSize < memory.size()) {
        // Grow the file to the whole EEPROM once, rather than leave a hole of zeros.
        first = 0;
        count = static_cast<uint32_t>(memory.size());
    }
    if (!m_file.WriteAt(first, memory.data() + first, count)) {
        m_counters.fileWriteErrors.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    m_nFileSize = std::max<uint64_t>(m_nFileSize, uint64_t{first} + count);
}

void SimSpeaker::SetIdentity(uint16_t vid, uint16_t pid, std::vector<uint8_t> interfaceClasses) {
    m_wVid = vid;
    m_wPid = pid;
    m_vClasses = std::move(interfaceClasses);
}

bool SimSpeaker::InjectNack() {
    if (m_nForcedNacks > 0) {
        --m_nForcedNacks;
        return true;
    }
    if (m_dNackPercent <= 0)
        return false;
    // 53 random bits as a fraction: the same sequence for the same seed on every platform.
    const double draw = static_cast<double>(m_rng() >> 11) * 0x1.0p-53 * 100.0;
    return draw < m_dNackPercent;
}

void SimSpeaker::Settle(Time now) {
    if (m_vPendingRead && now >= m_tBusyUntil) {
        std::copy(m_vPendingRead->begin(), m_vPendingRead->end(), m_regs + kRegReadData);
        m_vPendingRead.reset();
    }
}

// One I2C transfer as the block in 0x80 to 0x93 describes it, timed bit by bit at the bus
// clock: 9 bits per byte, one for each start, repeated start and stop.
void SimSpeaker::RunCommand(uint8_t command, Time now) {
    if (now < m_tBusyUntil) {
        m_counters.commandsWhileBusy.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (command == kCmdIdle) {
        m_bNack = false;
        return;
    }
    const bool twoBytes = command == kCmdWrite2 || command == kCmdRead2;
    const bool read = command == kCmdRead1 || command == kCmdRead2;
    if (command != kCmdWrite1 && command != kCmdWrite2 && !read)
        return; // not a transfer this controller knows

    m_counters.i2cTransfers.fetch_add(1, std::memory_order_relaxed);
    if (!SyncFromFile())
        m_counters.fileWriteErrors.fetch_add(1, std::memory_order_relaxed);
    const Time bit(static_cast<int64_t>(std::llround(1e6 / m_nI2cKhz)));
    const uint8_t device = m_regs[0x80];
    const uint8_t count = std::min<uint8_t>(m_regs[kRegCount], 16);
    Time t = now;
    auto send = [&](uint8_t byte) {
        t += 9 * bit;
        return m_eeprom.WriteByte(byte, t);
    };
    auto finish = [&](bool nack) {
        t += bit;
        m_eeprom.Stop(t);
        m_tBusyUntil = t;
        m_bNack = nack;
        if (nack)
            m_counters.nacksAnswered.fetch_add(1, std::memory_order_relaxed);
    };

    m_eeprom.Start();
    t += bit;
    if (InjectNack()) {
        t += 9 * bit; // the device byte went out, nobody acknowledged it
        finish(true);
        return;
    }
    if (!send(static_cast<uint8_t>(device & 0xFE)))
        return finish(true);
    if (twoBytes && !send(m_regs[0x82]))
        return finish(true);
    if (!send(m_regs[0x81]))
        return finish(true);
    if (!read) {
        for (uint8_t i = 0; i < count; ++i)
            if (!send(m_regs[kRegReadData + i]))
                return finish(true);
        return finish(false);
    }
    m_eeprom.Start(); // repeated start, then the device byte with the read bit
    t += bit;
    if (!send(static_cast<uint8_t>(device | 0x01)))
        return finish(true);
    std::vector<uint8_t> data(count);
    for (uint8_t i = 0; i < count; ++i) {
        data[i] = m_eeprom.ReadByte();
        t += 9 * bit;
    }
    m_vPendingRead = std::move(data);
    finish(false);
}

// Runs under the lock, when an EEPROM access ends. An access that only read, after writes that
// left a valid image, is a burn's read-back: the user switches the speaker off and on then.
void SimSpeaker::ArmReplug(Time now) {
    if (!m_nReplugAfterMs || !m_bWrittenSinceReplug || m_bSessionWrote)
        return;
    const std::optional<uint16_t> word = FirmwareWordOf(m_eeprom.Memory());
    if (!word)
        return;
    m_bWrittenSinceReplug = false;
    std::lock_guard<std::mutex> guard(m_replugLock);
    m_tReplugAt = now + std::chrono::milliseconds(*m_nReplugAfterMs);
    m_wReplugRev = m_bRevPinned ? m_wRev.load(std::memory_order_acquire) : *word;
}

bool SimSpeaker::PowerCycling() const {
    std::lock_guard<std::mutex> guard(m_replugLock);
    if (!m_tReplugAt)
        return false;
    const Time now = m_pClock->Now();
    if (now < *m_tReplugAt)
        return false;
    if (now < *m_tReplugAt + kPowerCycleOff)
        return true;
    // Back on the bus, running what the EEPROM held when it went off.
    m_wRev.store(m_wReplugRev, std::memory_order_release);
    m_tReplugAt.reset();
    ++m_nPlugging;
    return false;
}

uint64_t SimSpeaker::Plugging() const {
    PowerCycling(); // a cycle that is over counts as an arrival now
    std::lock_guard<std::mutex> guard(m_replugLock);
    return m_nPlugging;
}

UsbResult SimSpeaker::Vendor(bool in, uint16_t reg, uint8_t* data, uint16_t length, Time now) {
    if (uint32_t{reg} + length > sizeof m_regs)
        return UsbResult::Stall;
    Settle(now);
    for (uint16_t i = 0; i < length; ++i) {
        const uint16_t r = static_cast<uint16_t>(reg + i);
        if (in) {
            if (r == kRegCommand)
                data[i] = now < m_tBusyUntil ? kStatusBusy : (m_bNack ? kStatusNack : 0);
            else
                data[i] = m_regs[r];
        } else if (r == kRegCommand) {
            RunCommand(data[i], now);
        } else {
            const bool opens = r == kRegAccess && !(m_regs[r] & 0x80) && (data[i] & 0x80);
            const bool closes = r == kRegAccess && (m_regs[r] & 0x80) && !(data[i] & 0x80);
            m_regs[r] = data[i];
            if (opens)
                m_bSessionWrote = false;
            else if (closes)
                ArmReplug(now);
        }
    }
    return UsbResult::Ok;
}

std::optional<std::string> SimSpeaker::String(uint8_t index) const {
    switch (index) {
    case kStringManufacturer:
        return std::string("Tarvik");
    case kStringProduct:
        return std::string("Pelko Zuro");
    case kString50:
        return m_strString50;
    default:
        return std::nullopt;
    }
}

std::vector<uint8_t> SimSpeaker::Descriptors() const {
    std::vector<uint8_t> d = DeviceDescriptor(m_wVid, m_wPid, m_wRev);
    const std::vector<uint8_t> config = ConfigDescriptor(m_vClasses);
    d.insert(d.end(), config.begin(), config.end());
    return d;
}

UsbResult SimSpeaker::Standard(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t* data,
                               uint16_t length, uint16_t& actual) {
    constexpr uint8_t kGetDescriptor = 0x06;
    if (bRequest != kGetDescriptor)
        return UsbResult::Stall;
    const uint8_t type = static_cast<uint8_t>(wValue >> 8);
    const uint8_t index = static_cast<uint8_t>(wValue & 0xFF);
    std::vector<uint8_t> d;
    if (type == 0x01 && index == 0) {
        d = DeviceDescriptor(m_wVid, m_wPid, m_wRev);
    } else if (type == 0x02 && index == 0) {
        d = ConfigDescriptor(m_vClasses);
    } else if (type == 0x03 && index == 0) {
        d = {4, 0x03, 0x09, 0x04}; // English (United States) only
    } else if (type == 0x03) {
        const std::optional<std::string> text = String(index);
        if (!text || wIndex != 0x0409)
            return UsbResult::Stall;
        const std::vector<uint8_t> utf16 = Utf8ToUtf16Le(*text);
        d = {static_cast<uint8_t>(2 + std::min<size_t>(utf16.size(), 252)), 0x03};
        d.insert(d.end(), utf16.begin(), utf16.begin() + (d[0] - 2));
    } else {
        return UsbResult::Stall;
    }
    actual = static_cast<uint16_t>(std::min<size_t>(d.size(), length));
    std::copy_n(d.begin(), actual, data);
    return UsbResult::Ok;
}

UsbResult SimSpeaker::Control(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
                              uint16_t wIndex, uint8_t* data, uint16_t length, uint16_t& actual) {
    actual = 0;
    ControlRecord rec;
    rec.bmRequestType = bmRequestType;
    rec.bRequest = bRequest;
    rec.wValue = wValue;
    rec.wIndex = wIndex;
    rec.wLength = length;
    const bool in = bmRequestType & 0x80;
    if (!in && data != nullptr)
        rec.data.assign(data, data + length);
    m_counters.controlTransfers.fetch_add(1, std::memory_order_relaxed);
    const uint64_t number = m_nTransfers.fetch_add(1, std::memory_order_acq_rel) + 1;

    UsbResult result = UsbResult::Ok;
    std::unique_lock<std::mutex> guard(m_lock, std::defer_lock);
    if (PowerCycling()) {
        result = UsbResult::NotFound; // off for the power cycle; back later
        guard.lock();
    } else if (Unplugged() || (m_nUnplugAfter && number > *m_nUnplugAfter)) {
        // Gone from the bus: fails at once, as a vanished device does.
        m_bUnplugged.store(true, std::memory_order_release);
        result = UsbResult::NotFound;
        guard.lock();
    } else {
        m_pClock->SleepFor(m_tLatency);
        guard.lock();
        const Time now = m_pClock->Now();
        rec.time = now;
        std::optional<UsbResult> forced;
        if (m_fnInterceptor)
            forced = m_fnInterceptor(rec);
        if (forced && *forced != UsbResult::Ok) {
            result = *forced;
        } else if (length != 0 && data == nullptr) {
            result = UsbResult::Io;
        } else if ((bmRequestType & 0x60) == 0x40) {
            // The controller's registers: reads 0xC0/0x02, writes 0x40/0x01, wIndex 0.
            const bool valid = wIndex == 0 && (bmRequestType & 0x1F) == 0 &&
                               (in ? bRequest == 0x02 : bRequest == 0x01);
            result = valid ? Vendor(in, wValue, data, length, now) : UsbResult::Stall;
            if (result == UsbResult::Ok)
                actual = in && m_nShortIn ? std::min(length, *m_nShortIn) : length;
        } else if (bmRequestType == 0x80) {
            result = Standard(bRequest, wValue, wIndex, data, length, actual);
        } else {
            result = UsbResult::Stall;
        }
    }
    if (result != UsbResult::Ok)
        m_counters.failedTransfers.fetch_add(1, std::memory_order_relaxed);
    if (m_bRecording) {
        if (in && result == UsbResult::Ok)
            rec.data.assign(data, data + actual);
        rec.result = result;
        m_vRecords.push_back(std::move(rec));
    }
    return result;
}

std::vector<uint8_t> SimSpeaker::Eeprom() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_eeprom.Memory();
}

void SimSpeaker::PokeEeprom(uint32_t position, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<uint8_t>& memory = m_eeprom.Memory();
    for (size_t i = 0; i < bytes.size(); ++i)
        memory[(position + i) % memory.size()] = bytes[i];
    // The file is the EEPROM: a poke that stayed in memory would be undone by the next read.
    if (!bytes.empty())
        WriteBack(0, static_cast<uint32_t>(memory.size()));
}

uint32_t SimSpeaker::EepromSize() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_eeprom.Size();
}

uint8_t SimSpeaker::Register(uint16_t reg) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return reg < sizeof m_regs ? m_regs[reg] : 0;
}

SimCounters SimSpeaker::Counters() const {
    SimCounters c;
    c.controlTransfers = m_counters.controlTransfers.load(std::memory_order_relaxed);
    c.failedTransfers = m_counters.failedTransfers.load(std::memory_order_relaxed);
    c.i2cTransfers = m_counters.i2cTransfers.load(std::memory_order_relaxed);
    c.nacksAnswered = m_counters.nacksAnswered.load(std::memory_order_relaxed);
    c.commandsWhileBusy = m_counters.commandsWhileBusy.load(std::memory_order_relaxed);
    c.eepromWrites = m_counters.eepromWrites.load(std::memory_order_relaxed);
    c.fileWriteErrors = m_counters.fileWriteErrors.load(std::memory_order_relaxed);
    return c;
}

void SimSpeaker::ResetCounters() {
    for (auto* counter :
         {&m_counters.controlTransfers, &m_counters.failedTransfers, &m_counters.i2cTransfers,
          &m_counters.nacksAnswered, &m_counters.commandsWhileBusy, &m_counters.eepromWrites,
          &m_counters.fileWriteErrors})
        counter->store(0, std::memory_order_relaxed);
}

void SimSpeaker::SetShortIn(std::optional<uint16_t> limit) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nShortIn = limit;
}

void SimSpeaker::Unplug() {
    m_bUnplugged.store(true, std::memory_order_release);
}

void SimSpeaker::SetInterceptor(Interceptor fn) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_fnInterceptor = std::move(fn);
}

void SimSpeaker::ForceNacks(uint32_t n) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nForcedNacks = n;
}

void SimSpeaker::Record(bool on) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bRecording = on;
}

std::vector<ControlRecord> SimSpeaker::TakeRecords() {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::exchange(m_vRecords, {});
}

} // namespace dormane::sim
