#pragma once

#include "Clock.h"
#include "UsbBackend.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// --record FILE: a backend that wraps any other (libusb, the simulated speaker, a replay) and
// writes everything that crosses the USB boundary to FILE as it happens, one JSON object a
// line: the stack's initialisation, each enumeration with the identity of every device, each
// open, each control transfer with its request, the data sent, the result and the data
// received, and each string read, every line with the time since the start in microseconds.
// Each line is flushed before the call returns, so a crash or a kill keeps everything up to
// it. docs/RECORDING.md describes the lines; sim/ReplayBackend answers from them.
namespace dormane {

inline constexpr int kRecordingFormat = 1;

class RecordingBackend final : public UsbBackend {
public:
    // Takes the open file; program and version go into the first line.
    RecordingBackend(std::shared_ptr<UsbBackend> inner, std::FILE* file, std::string program,
                     std::string version);
    ~RecordingBackend() override;
    RecordingBackend(const RecordingBackend&) = delete;
    RecordingBackend& operator=(const RecordingBackend&) = delete;

    const char* Name() const override { return m_pInner->Name(); }
    UsbResult Init() override;
    UsbResult Enumerate(std::vector<UsbDeviceInfo>& out) override;
    UsbResult Open(const std::string& path, std::unique_ptr<UsbDevice>& out) override;
    UsbResult WaitForChange(Clock::Duration timeout) override;

    // One event line: the fields given (already JSON) after "t" and "op". Thread-safe.
    void Write(const char* op, const std::string& fields);
    // Lines that could not be written (a full disk); the backend answers the same regardless.
    uint64_t WriteErrors() const;

private:
    std::shared_ptr<UsbBackend> m_pInner;
    std::shared_ptr<Clock> m_pClock;
    Clock::Duration m_tStart;
    mutable std::mutex m_lock; // the file and the error count
    std::FILE* m_pFile;
    uint64_t m_nWriteErrors = 0;
};

// Opens path for writing (replacing it) and wraps the backend the transport uses now into a
// RecordingBackend that the transport then uses. Remembers path as the newest recording.
// False with the reason when the file cannot be created.
bool StartRecording(const std::string& path, const std::string& program, const std::string& version,
                    std::string& reason);

// Where the newest recording's path is kept, and that path ("" when none was made or the
// note cannot be read).
std::string LastRecordingNotePath();
std::string LastRecordingPath();

// Bytes as a recording writes them: two upper-case hex digits each, nothing between.
std::string HexBytes(const uint8_t* data, size_t size);

} // namespace dormane
