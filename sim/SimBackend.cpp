#include "SimBackend.h"

#include "ReplayBackend.h"
#include "Transport.h"

namespace dormane::sim {
namespace {

constexpr const char* kPathPrefix = "sim-";

class SimDevice final : public UsbDevice {
public:
    explicit SimDevice(std::shared_ptr<SimSpeaker> speaker)
        : m_pSpeaker(std::move(speaker)), m_nPlugging(m_pSpeaker->Plugging()) {}

    UsbResult ControlTransfer(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
                              uint16_t wIndex, uint8_t* data, uint16_t length) override {
        // A speaker that went through a power cycle is a new device: this handle is stale.
        if (m_pSpeaker->Plugging() != m_nPlugging)
            return UsbResult::NotFound;
        uint16_t actual = 0;
        const UsbResult r =
            m_pSpeaker->Control(bmRequestType, bRequest, wValue, wIndex, data, length, actual);
        if (r != UsbResult::Ok)
            return r;
        // As the speaker's driver ends it, and the libusb backend too.
        return CompleteDataStage(bmRequestType, bRequest, wValue, data, length, actual);
    }

    UsbResult ReadString(uint8_t index, std::string& utf8) override {
        if (m_pSpeaker->Plugging() != m_nPlugging)
            return UsbResult::NotFound;
        // The same request libusb sends, so that faults and counters apply to it too.
        uint8_t buf[255] = {};
        uint16_t actual = 0;
        const UsbResult r = m_pSpeaker->Control(0x80, 0x06, static_cast<uint16_t>(0x0300 | index),
                                                0x0409, buf, sizeof buf, actual);
        if (r != UsbResult::Ok)
            return r;
        return StringDescriptorText(buf, actual, utf8);
    }

private:
    std::shared_ptr<SimSpeaker> m_pSpeaker;
    uint64_t m_nPlugging;
};

std::mutex& InstalledLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<SimBackend>& Installed() {
    static std::shared_ptr<SimBackend> backend;
    return backend;
}

} // namespace

SimBackend::SimBackend(std::shared_ptr<Clock> clock)
    : m_pClock(clock ? std::move(clock) : CurrentClock()) {}

std::shared_ptr<SimBackend> SimBackend::Create(const Scenario& scenario,
                                               std::shared_ptr<Clock> clock, std::string& error) {
    auto backend = std::make_shared<SimBackend>(std::move(clock));
    backend->SetNoDriver(scenario.noDriver);
    if (!scenario.absent) {
        std::shared_ptr<SimSpeaker> speaker =
            SimSpeaker::Create(scenario, backend->GetClock(), error);
        if (!speaker)
            return nullptr;
        backend->AddSpeaker(std::move(speaker));
    }
    return backend;
}

UsbResult SimBackend::Init() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bNoDriver ? UsbResult::NotSupported : UsbResult::Ok;
}

UsbResult SimBackend::Enumerate(std::vector<UsbDeviceInfo>& out) {
    out.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bNoDriver)
        return UsbResult::NotSupported;
    for (size_t i = 0; i < m_vSpeakers.size(); ++i) {
        const SimSpeaker& s = *m_vSpeakers[i];
        if (s.Unplugged() || s.PowerCycling())
            continue;
        UsbDeviceInfo info;
        info.path = kPathPrefix + std::to_string(i + 1);
        info.vid = s.Vid();
        info.pid = s.Pid();
        info.bcdDevice = s.BcdDevice();
        info.interfaceClasses = s.InterfaceClasses();
        info.lockKey = s.FileKey();
        info.journalKey = s.FileKey();
        info.descriptors = s.Descriptors();
        out.push_back(std::move(info));
    }
    return UsbResult::Ok;
}

UsbResult SimBackend::Open(const std::string& path, std::unique_ptr<UsbDevice>& out) {
    out.reset();
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bNoDriver)
        return UsbResult::NotSupported;
    for (size_t i = 0; i < m_vSpeakers.size(); ++i) {
        if (path != kPathPrefix + std::to_string(i + 1))
            continue;
        if (m_vSpeakers[i]->Unplugged() || m_vSpeakers[i]->PowerCycling())
            return UsbResult::NotFound;
        out = std::make_unique<SimDevice>(m_vSpeakers[i]);
        return UsbResult::Ok;
    }
    return UsbResult::NotFound;
}

std::string SimBackend::AddSpeaker(std::shared_ptr<SimSpeaker> speaker) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_vSpeakers.push_back(std::move(speaker));
    return kPathPrefix + std::to_string(m_vSpeakers.size());
}

std::shared_ptr<SimSpeaker> SimBackend::Speaker(size_t index) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return index < m_vSpeakers.size() ? m_vSpeakers[index] : nullptr;
}

size_t SimBackend::SpeakerCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_vSpeakers.size();
}

void SimBackend::SetNoDriver(bool on) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bNoDriver = on;
}

bool InstallSimulatedSpeaker(const std::string& scenarioText, std::string& error) {
    Scenario scenario;
    if (!ParseScenario(scenarioText, scenario, error))
        return false;
    if (!scenario.replayFile.empty()) {
        // A replay runs on the virtual clock whatever clock= says: it moves to the recorded
        // times itself.
        auto clock = std::make_shared<VirtualClock>();
        std::shared_ptr<ReplayBackend> replay =
            ReplayBackend::Load(scenario.replayFile, clock, error);
        if (!replay ||
            (!scenario.eepromFile.empty() && !replay->SetEepromFile(scenario.eepromFile, error)))
            return false;
        SetCurrentClock(clock);
        rmSetBackend(replay);
        std::lock_guard<std::mutex> guard(InstalledLock());
        Installed().reset();
        return true;
    }
    std::shared_ptr<Clock> clock;
    if (scenario.virtualClock)
        clock = std::make_shared<VirtualClock>();
    else
        clock = std::make_shared<RealClock>();
    std::shared_ptr<SimBackend> backend = SimBackend::Create(scenario, clock, error);
    if (!backend)
        return false;
    SetCurrentClock(clock);
    rmSetBackend(backend);
    std::lock_guard<std::mutex> guard(InstalledLock());
    Installed() = std::move(backend);
    return true;
}

std::shared_ptr<SimBackend> InstalledSimBackend() {
    std::lock_guard<std::mutex> guard(InstalledLock());
    return Installed();
}

void UninstallSimulatedSpeaker() {
    rmDeviceStop();
    rmSetBackend(nullptr);
    std::lock_guard<std::mutex> guard(InstalledLock());
    Installed().reset();
}

} // namespace dormane::sim
