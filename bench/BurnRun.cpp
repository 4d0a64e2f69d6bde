#include "BurnRun.h"

#include "FWUpdateInterface.h"
#include "Sim.h"
#include "SizedImage.h"
#include "Status.h"

#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

namespace dormane::bench {
namespace {

constexpr const char* kFolderVariables[] = {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"};
constexpr uint16_t kVid = 0x0D8C;
constexpr uint16_t kPid = 0x0082;
constexpr uint16_t kRegAccess = 0x95;
constexpr uint16_t kRegBlockTail = 0x90;
constexpr uint8_t kReadCommand = 0xBA; // a read with two position bytes

Nanos ProcessCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + Nanos(ts.tv_nsec);
}

rmStats Minus(const rmStats& a, const rmStats& b) {
    rmStats d;
    d.controlTransfers = a.controlTransfers - b.controlTransfers;
    d.failedTransfers = a.failedTransfers - b.failedTransfers;
    d.i2cBlocks = a.i2cBlocks - b.i2cBlocks;
    d.nacks = a.nacks - b.nacks;
    d.busyGiveUps = a.busyGiveUps - b.busyGiveUps;
    d.writeWaits = a.writeWaits - b.writeWaits;
    d.readWaits = a.readWaits - b.readWaits;
    return d;
}

// Finds where the write phase ends, from the transfers the speaker sees: every EEPROM access
// begins with a read of register 0x95, and the read-back is the first access that loads a
// read command. Its 0x95 read marks the boundary; the counters are taken there too.
class PhaseProbe {
public:
    explicit PhaseProbe(Nanos latency) : m_tLatency(latency) {}

    void See(const sim::ControlRecord& rec) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bFound)
            return;
        const bool in = rec.bmRequestType & 0x80;
        if (in && rec.wValue == kRegAccess) {
            // The record carries the time the controller acted, a latency after the request
            // was sent; the counters already include this request.
            m_tAccessStart = rec.time - m_tLatency;
            m_accessStats = rmGetStats();
            --m_accessStats.controlTransfers;
        } else if (!in && rec.wValue == kRegBlockTail && rec.data.size() == 5 &&
                   rec.data[4] == kReadCommand) {
            m_bFound = true;
        }
    }
    bool Found(Nanos& at, rmStats& stats) const {
        std::lock_guard<std::mutex> guard(m_lock);
        at = m_tAccessStart;
        stats = m_accessStats;
        return m_bFound;
    }

private:
    const Nanos m_tLatency;
    mutable std::mutex m_lock;
    bool m_bFound = false;
    Nanos m_tAccessStart{0};
    rmStats m_accessStats;
};

// Puts the transport and the clock back as a program finds them, whatever happened.
struct TransportReset {
    ~TransportReset() {
        rmSetBackend(nullptr);
        SetCurrentClock(nullptr);
    }
};

} // namespace

BenchFolders::BenchFolders() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "dormane-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return;
    m_strRoot = pattern;
    for (const char* name : kFolderVariables) {
        const char* v = std::getenv(name);
        m_vSaved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        setenv(name, (m_strRoot + "/" + name).c_str(), 1);
    }
}

BenchFolders::~BenchFolders() {
    for (const auto& [name, value] : m_vSaved) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::error_code ec;
    if (!m_strRoot.empty())
        std::filesystem::remove_all(m_strRoot, ec);
}

bool MeasureBurn(const BurnRequest& request, const BenchFolders& folders, MeasuredBurn& out,
                 std::string& error) {
    out = MeasuredBurn{};
    if (!folders.Ok()) {
        error = "no private temp folder";
        return false;
    }
    const std::vector<uint8_t> image =
        imagebuilder::Build(SizedImageSpec(request.totalSize, request.totalSize));
    const std::string file = folders.Root() + "/image-" + std::to_string(request.totalSize);
    if (!imagebuilder::WriteFile(file, image)) {
        error = "cannot write " + file;
        return false;
    }

    sim::Scenario scenario;
    scenario.eepromSize = kBenchEepromSize;
    scenario.latencyUs = request.profile.latencyUs;
    scenario.i2cKhz = request.profile.i2cKhz;
    scenario.twrUs = request.profile.twrUs;
    std::shared_ptr<Clock> clock;
    if (request.realClock)
        clock = std::make_shared<RealClock>();
    else
        clock = std::make_shared<VirtualClock>();
    const TransportReset reset;
    SetCurrentClock(clock);
    std::shared_ptr<sim::SimBackend> backend = sim::SimBackend::Create(scenario, clock, error);
    if (!backend)
        return false;
    rmSetBackend(backend);
    const std::shared_ptr<sim::SimSpeaker> speaker = backend->Speaker(0);

    FWUpdateInterface engine;
    if (engine.Init() != status::kSuccess || engine.AttachDevice(kVid, kPid) != status::kSuccess) {
        error = "the simulated speaker does not attach";
        return false;
    }
    auto probe = std::make_shared<PhaseProbe>(request.profile.Latency());
    speaker->SetInterceptor([probe](const sim::ControlRecord& rec) {
        probe->See(rec);
        return std::optional<UsbResult>();
    });

    rmResetStats();
    const rmStats start = rmGetStats();
    const Nanos t0 = clock->Now();
    const Nanos cpu0 = ProcessCpuTime();
    const auto wall0 = std::chrono::steady_clock::now();
    out.updateResult = engine.UpdateFirmware(file.c_str());
    int progress = 0;
    out.state = engine.GteUpdateProgress(&progress);
    while (out.updateResult == status::kSuccess && out.state == status::kBurnRunning) {
        std::this_thread::sleep_for(request.pollInterval);
        out.state = engine.GteUpdateProgress(&progress);
    }
    out.wall = std::chrono::steady_clock::now() - wall0;
    out.cpu = ProcessCpuTime() - cpu0;
    const Nanos t1 = clock->Now();
    const rmStats end = rmGetStats();
    speaker->SetInterceptor(nullptr);

    Nanos boundary{0};
    rmStats atBoundary;
    if (probe->Found(boundary, atBoundary)) {
        out.writeTime = boundary - t0;
        out.readTime = t1 - boundary;
        out.write = Minus(atBoundary, start);
        out.read = Minus(end, atBoundary);
    } else {
        out.writeTime = t1 - t0; // no read-back was started
        out.write = Minus(end, start);
    }
    const std::vector<uint8_t> eeprom = speaker->Eeprom();
    out.contentOk = std::equal(image.begin(), image.end(), eeprom.begin());
    return true;
}

} // namespace dormane::bench
