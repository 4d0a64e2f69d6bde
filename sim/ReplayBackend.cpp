#include "ReplayBackend.h"

#include "UsbRecorder.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace dormane::sim {

struct ReplayBackend::Event {
    size_t line = 0;
    int64_t t = 0; // microseconds since the recording's start
    std::string op;
    std::string path;
    UsbResult result = UsbResult::Ok;
    // control
    uint8_t bmRequestType = 0;
    uint8_t bRequest = 0;
    uint16_t wValue = 0;
    uint16_t wIndex = 0;
    uint16_t wLength = 0;
    std::vector<uint8_t> out;
    std::vector<uint8_t> in;
    // enumerate
    std::vector<UsbDeviceInfo> devices;
    // string
    uint8_t index = 0;
    std::string text;
};

namespace {

constexpr uint16_t kRegBlockDevice = 0x80;
constexpr uint16_t kRegBlockLow = 0x81;
constexpr uint16_t kRegBlockHigh = 0x82;
constexpr uint16_t kRegBlockData = 0x83;
constexpr uint16_t kRegCount = 0x93;
constexpr uint16_t kRegCommand = 0x94; // the command when written, the status when read
constexpr uint8_t kCmdWrite1 = 0x90;   // one position byte, block bits in the device byte
constexpr uint8_t kCmdWrite2 = 0xB0;   // two position bytes
constexpr uint8_t kStatusNack = 0x01;
constexpr uint8_t kStatusBusy = 0x80;

std::mutex& HandlerLock() {
    static std::mutex lock;
    return lock;
}

std::function<void(const std::string&)>& Handler() {
    static std::function<void(const std::string&)> handler;
    return handler;
}

// A line that is not what the format says; the message names the field.
struct BadLine {
    std::string what;
};

UsbResult ResultOf(const std::string& name) {
    for (UsbResult r :
         {UsbResult::Ok, UsbResult::NotFound, UsbResult::NoPermission, UsbResult::Stall,
          UsbResult::Timeout, UsbResult::Io, UsbResult::NotSupported})
        if (name == UsbResultName(r))
            return r;
    throw BadLine{"unknown result \"" + name + "\""};
}

unsigned HexField(const nlohmann::json& j, const char* key, unsigned max) {
    if (!j.contains(key) || !j[key].is_string())
        throw BadLine{std::string("\"") + key + "\" missing or not a text"};
    const std::string text = j[key].get<std::string>();
    size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, 16);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value > max)
        throw BadLine{std::string("\"") + key + "\" is not a hex number up to " +
                      std::to_string(max)};
    return static_cast<unsigned>(value);
}

std::vector<uint8_t> BytesField(const nlohmann::json& j, const char* key) {
    const std::string text = j.value(key, std::string());
    if (text.size() % 2 != 0)
        throw BadLine{std::string("\"") + key + "\" has an odd number of hex digits"};
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto nibble = [&](char c) -> unsigned {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            throw BadLine{std::string("\"") + key + "\" holds a character that is not hex"};
        };
        bytes.push_back(static_cast<uint8_t>(nibble(text[i]) << 4 | nibble(text[i + 1])));
    }
    return bytes;
}

ReplayBackend::Event ParseEvent(const nlohmann::json& j) {
    ReplayBackend::Event e;
    e.op = j.value("op", std::string());
    if (!j.contains("t") || !j["t"].is_number_integer())
        throw BadLine{"\"t\" missing or not a whole number"};
    e.t = j["t"].get<int64_t>();
    e.result = ResultOf(j.value("result", std::string()));
    e.path = j.value("path", std::string());
    if (e.op == "init" || e.op == "open") {
    } else if (e.op == "enumerate") {
        for (const auto& d : j.value("devices", nlohmann::json::array())) {
            UsbDeviceInfo info;
            info.path = d.value("path", std::string());
            info.vid = static_cast<uint16_t>(HexField(d, "vid", 0xFFFF));
            info.pid = static_cast<uint16_t>(HexField(d, "pid", 0xFFFF));
            info.bcdDevice = static_cast<uint16_t>(HexField(d, "bcdDevice", 0xFFFF));
            for (const auto& c : d.value("classes", nlohmann::json::array()))
                info.interfaceClasses.push_back(c.get<uint8_t>());
            info.descriptors = BytesField(d, "descriptors");
            e.devices.push_back(std::move(info));
        }
    } else if (e.op == "control") {
        e.bmRequestType = static_cast<uint8_t>(HexField(j, "bmRequestType", 0xFF));
        e.bRequest = static_cast<uint8_t>(HexField(j, "bRequest", 0xFF));
        e.wValue = static_cast<uint16_t>(HexField(j, "wValue", 0xFFFF));
        e.wIndex = static_cast<uint16_t>(HexField(j, "wIndex", 0xFFFF));
        e.wLength = j.value("wLength", uint16_t{0});
        e.out = BytesField(j, "out");
        e.in = BytesField(j, "in");
        if (e.result == UsbResult::Ok && (e.bmRequestType & 0x80) && e.in.size() != e.wLength)
            throw BadLine{"\"in\" does not hold wLength bytes"};
    } else if (e.op == "string") {
        e.index = j.value("index", uint8_t{0});
        e.text = j.value("text", std::string());
    } else {
        throw BadLine{"unknown op \"" + e.op + "\""};
    }
    return e;
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string DescribeControl(const std::string& path, uint8_t bmRequestType, uint8_t bRequest,
                            uint16_t wValue, uint16_t wIndex, uint16_t length, const uint8_t* out) {
    std::string text = "control on " + path + " bmRequestType=" + Hex(bmRequestType, 2) +
                       " bRequest=" + Hex(bRequest, 2) + " wValue=" + Hex(wValue, 4) +
                       " wIndex=" + Hex(wIndex, 4) + " wLength=" + std::to_string(length);
    if (!(bmRequestType & 0x80) && out && length > 0)
        text += " out=" + HexBytes(out, length);
    return text;
}

std::string Describe(const ReplayBackend::Event& e) {
    if (e.op == "control")
        return DescribeControl(e.path, e.bmRequestType, e.bRequest, e.wValue, e.wIndex, e.wLength,
                               e.out.data());
    if (e.op == "open")
        return "open " + e.path;
    if (e.op == "string")
        return "string " + std::to_string(e.index) + " of " + e.path;
    return e.op;
}

class ReplayDevice final : public UsbDevice {
public:
    ReplayDevice(std::shared_ptr<ReplayBackend> backend, std::string path)
        : m_pBackend(std::move(backend)), m_strPath(std::move(path)) {}

    UsbResult ControlTransfer(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
                              uint16_t wIndex, uint8_t* data, uint16_t length) override {
        return m_pBackend->Control(m_strPath, bmRequestType, bRequest, wValue, wIndex, data,
                                   length);
    }
    UsbResult ReadString(uint8_t index, std::string& utf8) override {
        return m_pBackend->String(m_strPath, index, utf8);
    }

private:
    std::shared_ptr<ReplayBackend> m_pBackend;
    std::string m_strPath;
};

} // namespace

ReplayBackend::ReplayBackend(std::string file, std::shared_ptr<VirtualClock> clock)
    : m_strFile(std::move(file)), m_pClock(std::move(clock)), m_tStart(m_pClock->Now()) {}

ReplayBackend::~ReplayBackend() {
    if (m_pEeprom)
        std::fclose(m_pEeprom);
}

std::shared_ptr<ReplayBackend> ReplayBackend::Load(const std::string& path,
                                                   std::shared_ptr<VirtualClock> clock,
                                                   std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "replay: cannot open " + path;
        return nullptr;
    }
    if (!clock)
        clock = std::make_shared<VirtualClock>();
    std::shared_ptr<ReplayBackend> backend(new ReplayBackend(path, std::move(clock)));
    std::string text;
    size_t line = 0;
    while (std::getline(in, text)) {
        ++line;
        if (text.empty())
            continue;
        const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
        std::string what;
        if (j.is_discarded() || !j.is_object()) {
            what = "not a JSON object";
        } else if (line == 1) {
            if (j.value("recording", 0) != kRecordingFormat)
                what = "not a recording of format " + std::to_string(kRecordingFormat);
        } else {
            try {
                Event e = ParseEvent(j);
                e.line = line;
                backend->m_vEvents.push_back(std::move(e));
            } catch (const BadLine& bad) {
                what = bad.what;
            } catch (const nlohmann::json::exception& bad) {
                what = bad.what();
            }
        }
        if (!what.empty()) {
            error = "replay: " + path + " line " + std::to_string(line) + ": " + what;
            return nullptr;
        }
    }
    if (line == 0) {
        error = "replay: " + path + " is empty";
        return nullptr;
    }
    backend->SetDivergenceHandler(ReplayDivergenceHandler());
    return backend;
}

bool ReplayBackend::SetEepromFile(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (!file || std::fseek(file, 0, SEEK_END) != 0) {
        if (file)
            std::fclose(file);
        error = "eeprom-file: cannot open " + path + " for reading and writing";
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_pEeprom)
        std::fclose(m_pEeprom);
    m_pEeprom = file;
    m_nEepromSize = std::ftell(file);
    return true;
}

void ReplayBackend::SetDivergenceHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_fnDiverged = std::move(handler);
}

std::string ReplayBackend::Divergence() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_strDivergence;
}

size_t ReplayBackend::Answered() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nNext;
}

size_t ReplayBackend::Events() const {
    return m_vEvents.size();
}

void ReplayBackend::Diverge(const std::string& message) {
    m_strDivergence = message;
    if (m_fnDiverged)
        m_fnDiverged(message);
}

const ReplayBackend::Event* ReplayBackend::Take(const std::string& came,
                                                const std::function<bool(const Event&)>& same) {
    if (!m_strDivergence.empty())
        return nullptr;
    if (m_nNext >= m_vEvents.size()) {
        Diverge("replay diverged: " + m_strFile + " ends at line " +
                std::to_string(m_vEvents.empty() ? 1 : m_vEvents.back().line) +
                ", but the program went on with: " + came);
        return nullptr;
    }
    const Event& e = m_vEvents[m_nNext];
    if (!same(e)) {
        Diverge("replay diverged at line " + std::to_string(e.line) + " of " + m_strFile +
                ": the recording expected " + Describe(e) + ", but came " + came);
        return nullptr;
    }
    ++m_nNext;
    // The recorded run's time, on the virtual clock: its waits replay without being slept.
    const Clock::Duration at = m_tStart + std::chrono::microseconds(e.t);
    const Clock::Duration now = m_pClock->Now();
    if (now < at)
        m_pClock->Advance(at - now);
    return &e;
}

UsbResult ReplayBackend::Init() {
    std::lock_guard<std::mutex> guard(m_lock);
    const Event* e = Take("init", [](const Event& x) { return x.op == "init"; });
    return e ? e->result : UsbResult::Io;
}

UsbResult ReplayBackend::Enumerate(std::vector<UsbDeviceInfo>& out) {
    out.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    const Event* e = Take("enumerate", [](const Event& x) { return x.op == "enumerate"; });
    if (!e)
        return UsbResult::Io;
    out = e->devices;
    for (UsbDeviceInfo& d : out) {
        // Nothing outside this process reaches a replayed speaker: no lock. Its burn journal
        // is kept under the recording's name.
        d.lockKey.clear();
        d.journalKey = "replay:" + m_strFile;
    }
    return e->result;
}

UsbResult ReplayBackend::Open(const std::string& path, std::unique_ptr<UsbDevice>& out) {
    out.reset();
    UsbResult r = UsbResult::Io;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const Event* e =
            Take("open " + path, [&](const Event& x) { return x.op == "open" && x.path == path; });
        if (e)
            r = e->result;
    }
    if (r == UsbResult::Ok)
        out = std::make_unique<ReplayDevice>(shared_from_this(), path);
    return r;
}

UsbResult ReplayBackend::Control(const std::string& path, uint8_t bmRequestType, uint8_t bRequest,
                                 uint16_t wValue, uint16_t wIndex, uint8_t* data, uint16_t length) {
    const bool in = bmRequestType & 0x80;
    std::lock_guard<std::mutex> guard(m_lock);
    const Event* e = Take(
        DescribeControl(path, bmRequestType, bRequest, wValue, wIndex, length, data),
        [&](const Event& x) {
            if (x.op != "control" || x.path != path || x.bmRequestType != bmRequestType ||
                x.bRequest != bRequest || x.wValue != wValue || x.wIndex != wIndex ||
                x.wLength != length)
                return false;
            if (in)
                return true;
            if (length == 0)
                return x.out.empty();
            return data && x.out.size() == length && std::equal(x.out.begin(), x.out.end(), data);
        });
    if (!e)
        return UsbResult::Io;
    if (e->result != UsbResult::Ok)
        return e->result;
    if (in && data)
        std::copy(e->in.begin(), e->in.end(), data);
    TrackEeprom(bmRequestType, wValue, data, length);
    return UsbResult::Ok;
}

UsbResult ReplayBackend::String(const std::string& path, uint8_t index, std::string& utf8) {
    std::lock_guard<std::mutex> guard(m_lock);
    const Event* e = Take("string " + std::to_string(index) + " of " + path, [&](const Event& x) {
        return x.op == "string" && x.path == path && x.index == index;
    });
    if (!e)
        return UsbResult::Io;
    if (e->result == UsbResult::Ok)
        utf8 = e->text;
    return e->result;
}

// Follows the controller's I2C master through its registers: a write transfer whose status
// then reads done, without a NACK, has put its bytes into the EEPROM. Runs under the lock.
void ReplayBackend::TrackEeprom(uint8_t bmRequestType, uint16_t wValue, const uint8_t* data,
                                uint16_t length) {
    if (!m_pEeprom || (bmRequestType & 0x60) != 0x40 || !data)
        return;
    const bool in = bmRequestType & 0x80;
    for (uint16_t i = 0; i < length; ++i) {
        const uint32_t reg = uint32_t{wValue} + i;
        if (reg >= sizeof m_regs)
            break;
        if (!in && reg == kRegCommand) {
            m_bWritePending = data[i] == kCmdWrite1 || data[i] == kCmdWrite2;
            m_regs[reg] = data[i];
        } else if (!in) {
            m_regs[reg] = data[i];
        } else if (reg == kRegCommand && m_bWritePending &&
                   !(data[i] & (kStatusBusy | kStatusNack))) {
            m_bWritePending = false;
            const bool twoBytes = m_regs[kRegCommand] == kCmdWrite2;
            const uint32_t position =
                twoBytes ? m_regs[kRegBlockLow] | (m_regs[kRegBlockHigh] << 8)
                         : m_regs[kRegBlockLow] | ((m_regs[kRegBlockDevice] & 0x0Eu) << 7);
            const uint8_t count = std::min<uint8_t>(m_regs[kRegCount], 16);
            for (uint8_t k = 0; k < count && m_nEepromSize > 0; ++k) {
                // An EEPROM ignores the address bits above its size.
                const long at = static_cast<long>((position + k) % m_nEepromSize);
                if (std::fseek(m_pEeprom, at, SEEK_SET) == 0)
                    std::fputc(m_regs[kRegBlockData + k], m_pEeprom);
            }
            std::fflush(m_pEeprom);
        } else if (reg == kRegCommand && (data[i] & kStatusNack)) {
            m_bWritePending = false;
        }
    }
}

void SetReplayDivergenceHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard<std::mutex> guard(HandlerLock());
    Handler() = std::move(handler);
}

std::function<void(const std::string&)> ReplayDivergenceHandler() {
    std::lock_guard<std::mutex> guard(HandlerLock());
    return Handler();
}

} // namespace dormane::sim
