#include "UsbRecorder.h"

#include "Backup.h"
#include "FileSystem.h"
#include "Settings.h"
#include "Transport.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace dormane {
namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
            out += escaped;
        } else {
            out += ch; // UTF-8 passes as it is
        }
    }
    return out + "\"";
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "\"0x%0*X\"", digits, value);
    return text;
}

std::string ResultField(UsbResult r) {
    return ",\"result\":" + JsonString(UsbResultName(r));
}

std::string DeviceJson(const UsbDeviceInfo& d) {
    std::string classes;
    for (uint8_t c : d.interfaceClasses)
        classes += (classes.empty() ? "" : ",") + std::to_string(c);
    return "{\"path\":" + JsonString(d.path) + ",\"vid\":" + Hex(d.vid, 4) +
           ",\"pid\":" + Hex(d.pid, 4) + ",\"bcdDevice\":" + Hex(d.bcdDevice, 4) +
           ",\"classes\":[" + classes + "],\"descriptors\":\"" +
           HexBytes(d.descriptors.data(), d.descriptors.size()) + "\"}";
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// An opened device whose transfers and string reads go to the recording.
class RecordingDevice final : public UsbDevice {
public:
    RecordingDevice(RecordingBackend& recorder, std::unique_ptr<UsbDevice> inner, std::string path)
        : m_recorder(recorder), m_pInner(std::move(inner)), m_strPath(std::move(path)) {}

    UsbResult ControlTransfer(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
                              uint16_t wIndex, uint8_t* data, uint16_t length) override {
        const bool in = bmRequestType & 0x80;
        // The bytes sent, taken before the call: a backend may use the buffer as it likes.
        const std::string out = in || !data ? std::string() : HexBytes(data, length);
        const UsbResult r =
            m_pInner->ControlTransfer(bmRequestType, bRequest, wValue, wIndex, data, length);
        const std::string received =
            in && r == UsbResult::Ok && data ? HexBytes(data, length) : std::string();
        m_recorder.Write(
            "control",
            ",\"path\":" + JsonString(m_strPath) + ",\"bmRequestType\":" + Hex(bmRequestType, 2) +
                ",\"bRequest\":" + Hex(bRequest, 2) + ",\"wValue\":" + Hex(wValue, 4) +
                ",\"wIndex\":" + Hex(wIndex, 4) + ",\"wLength\":" + std::to_string(length) +
                ",\"out\":\"" + out + "\"" + ResultField(r) + ",\"in\":\"" + received + "\"");
        return r;
    }

    UsbResult ReadString(uint8_t index, std::string& utf8) override {
        const UsbResult r = m_pInner->ReadString(index, utf8);
        m_recorder.Write("string",
                         ",\"path\":" + JsonString(m_strPath) +
                             ",\"index\":" + std::to_string(index) + ResultField(r) +
                             ",\"text\":" + JsonString(r == UsbResult::Ok ? utf8 : std::string()));
        return r;
    }

private:
    RecordingBackend& m_recorder;
    std::unique_ptr<UsbDevice> m_pInner;
    std::string m_strPath;
};

} // namespace

std::string HexBytes(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

RecordingBackend::RecordingBackend(std::shared_ptr<UsbBackend> inner, std::FILE* file,
                                   std::string program, std::string version)
    : m_pInner(std::move(inner)), m_pClock(CurrentClock()), m_tStart(m_pClock->Now()),
      m_pFile(file) {
    const std::string header = "{\"recording\":" + std::to_string(kRecordingFormat) +
                               ",\"program\":" + JsonString(program) +
                               ",\"version\":" + JsonString(version) +
                               ",\"backend\":" + JsonString(m_pInner->Name()) +
                               ",\"started\":" + JsonString(UtcNow()) + "}\n";
    std::lock_guard<std::mutex> guard(m_lock);
    if (std::fputs(header.c_str(), m_pFile) < 0 || std::fflush(m_pFile) != 0)
        ++m_nWriteErrors;
}

RecordingBackend::~RecordingBackend() {
    std::fclose(m_pFile);
}

void RecordingBackend::Write(const char* op, const std::string& fields) {
    const auto since =
        std::chrono::duration_cast<std::chrono::microseconds>(m_pClock->Now() - m_tStart);
    const std::string line =
        "{\"t\":" + std::to_string(since.count()) + ",\"op\":\"" + op + "\"" + fields + "}\n";
    std::lock_guard<std::mutex> guard(m_lock);
    if (std::fputs(line.c_str(), m_pFile) < 0 || std::fflush(m_pFile) != 0)
        ++m_nWriteErrors;
}

uint64_t RecordingBackend::WriteErrors() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nWriteErrors;
}

UsbResult RecordingBackend::Init() {
    const UsbResult r = m_pInner->Init();
    Write("init", ResultField(r));
    return r;
}

UsbResult RecordingBackend::Enumerate(std::vector<UsbDeviceInfo>& out) {
    const UsbResult r = m_pInner->Enumerate(out);
    std::string devices;
    for (const UsbDeviceInfo& d : out)
        devices += (devices.empty() ? "" : ",") + DeviceJson(d);
    Write("enumerate", ResultField(r) + ",\"devices\":[" + devices + "]");
    return r;
}

UsbResult RecordingBackend::Open(const std::string& path, std::unique_ptr<UsbDevice>& out) {
    std::unique_ptr<UsbDevice> inner;
    const UsbResult r = m_pInner->Open(path, inner);
    Write("open", ",\"path\":" + JsonString(path) + ResultField(r));
    if (r == UsbResult::Ok && inner)
        out = std::make_unique<RecordingDevice>(*this, std::move(inner), path);
    else
        out.reset();
    return r;
}

UsbResult RecordingBackend::WaitForChange(Clock::Duration timeout) {
    return m_pInner->WaitForChange(timeout);
}

bool StartRecording(const std::string& path, const std::string& program, const std::string& version,
                    std::string& reason) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        reason = "cannot create " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    std::shared_ptr<UsbBackend> inner = rmSharedBackend();
    rmSetBackend(std::make_shared<RecordingBackend>(std::move(inner), file, program, version));
    // Noted for the support report; a recording that cannot be noted is still made.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    const std::string full = ec ? path : absolute.string();
    std::filesystem::create_directories(
        std::filesystem::path(LastRecordingNotePath()).parent_path(), ec);
    std::ofstream note(LastRecordingNotePath(), std::ios::trunc);
    note << full << "\n";
    return true;
}

std::string LastRecordingNotePath() {
    return files::JoinPath(settings::DataFolder(), "last-recording");
}

std::string LastRecordingPath() {
    std::ifstream note(LastRecordingNotePath());
    std::string path;
    std::getline(note, path);
    return path;
}

} // namespace dormane
