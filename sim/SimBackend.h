#pragma once

#include "Clock.h"
#include "Scenario.h"
#include "SimSpeaker.h"
#include "UsbBackend.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The simulated speaker as a USB backend: the transport, the update manager and discovery
// run on it unchanged. It can hold several speakers (tests of device selection); the
// scenario's speaker is the first.
namespace dormane::sim {

class SimBackend final : public UsbBackend {
public:
    explicit SimBackend(std::shared_ptr<Clock> clock);
    // The backend a scenario describes: one speaker unless absent. Null with error naming
    // the key when the scenario's content cannot be set up (eeprom-file).
    static std::shared_ptr<SimBackend> Create(const Scenario& scenario,
                                              std::shared_ptr<Clock> clock, std::string& error);

    const char* Name() const override { return "simulated"; }
    UsbResult Init() override;
    UsbResult Enumerate(std::vector<UsbDeviceInfo>& out) override;
    UsbResult Open(const std::string& path, std::unique_ptr<UsbDevice>& out) override;

    // Adds a device; its path is "sim-N" with N counting from 1 in the order added.
    std::string AddSpeaker(std::shared_ptr<SimSpeaker> speaker);
    std::shared_ptr<SimSpeaker> Speaker(size_t index = 0) const;
    size_t SpeakerCount() const;
    // no-driver: Init, Enumerate and Open fail as if the USB stack were missing.
    void SetNoDriver(bool on);
    const std::shared_ptr<Clock>& GetClock() const { return m_pClock; }

private:
    std::shared_ptr<Clock> m_pClock;
    mutable std::mutex m_lock;
    bool m_bNoDriver = false;
    std::vector<std::shared_ptr<SimSpeaker>> m_vSpeakers;
};

// Parses the scenario, builds the simulated backend and installs it with rmSetBackend,
// together with the clock it asks for (the process-wide clock). Returns false with a message
// that names the bad key. Used by the command line's --simulate and the wizard.
bool InstallSimulatedSpeaker(const std::string& scenarioText, std::string& error);
// The backend InstallSimulatedSpeaker installed last, null before.
std::shared_ptr<SimBackend> InstalledSimBackend();
// Takes the installed speaker out again and closes its EEPROM file (Windows cannot remove a
// folder while a file in it is open).
void UninstallSimulatedSpeaker();

} // namespace dormane::sim
