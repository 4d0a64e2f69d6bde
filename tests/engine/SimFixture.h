#pragma once

#include "FWUpdateInterface.h"
#include "FileSystem.h"
#include "Sim.h"
#include "Status.h"
#include "TestSupport.h"
#include "Transport.h"
#include "UpdateManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace testsupport {

// An image of the sample identity whose TotalSize is exactly `total` (at least 0x40 + 13).
inline std::vector<uint8_t> ImageOfSize(uint32_t total, uint16_t fw = 0x0803) {
    dormane::imagebuilder::ImageSpec layout;
    layout.descriptors = {dormane::imagebuilder::Descriptor::Image(0x40, total - 0x40)};
    layout.fwVer = fw;
    layout.fillSeed = total;
    return dormane::imagebuilder::Build(layout);
}

// Polls the burn until it leaves the burning state; real time bounded so a hang fails.
inline int WaitForBurn(FWUpdateInterface& engine, int* progressOut = nullptr,
                       std::vector<int>* statesSeen = nullptr) {
    int progress = 0;
    int state = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    do {
        state = engine.GteUpdateProgress(&progress);
        if (statesSeen)
            statesSeen->push_back(state);
        if (state != dormane::status::kBurnRunning)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < deadline);
    if (progressOut)
        *progressOut = progress;
    return state;
}

// A simulated speaker on the virtual clock, the engine on top, and private XDG folders for
// the settings, the backups and the log.
class SimEngineTest : public ::testing::Test {
protected:
    void TearDown() override {
        engine_.reset();
        rmSetBackend(nullptr);
    }

    // Installs the scenario (always on the virtual clock) and starts the engine.
    void Start(const std::string& scenario) {
        std::string error;
        const std::string text = scenario.empty() ? "clock=virtual" : scenario + ",clock=virtual";
        ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker(text, error)) << error;
        engine_ = std::make_unique<FWUpdateInterface>();
        log_.Clear(); // the facade's constructor applies the (empty) settings file
        // Keep logging into our capture: the constructor replaced the settings.
        LogSettings s;
        s.enabled = true;
        s.filePath = logPath_;
        SetLogSettings(s);
        ASSERT_EQ(engine_->Init(), 0);
    }

    std::shared_ptr<dormane::sim::SimSpeaker> Speaker() {
        return dormane::sim::InstalledSimBackend()->Speaker(0);
    }
    UpdateManager& Core() { return *engine_->Core(); }

    std::vector<std::string> Log() const {
        std::vector<std::string> out;
        std::ifstream in(logPath_);
        std::string line;
        while (std::getline(in, line)) {
            auto close = line.find("] ");
            out.push_back(close == std::string::npos ? line : line.substr(close + 2));
        }
        return out;
    }
    std::vector<std::string> LogMatching(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& m : Log())
            if (m.rfind(prefix, 0) == 0)
                out.push_back(m);
        return out;
    }
    void ClearLog() { std::ofstream(logPath_, std::ios::trunc); }

    std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        return WriteImage(dir_, name, bytes);
    }
    std::string BackupFolder() const {
        return dormane::files::JoinPath(dormane::test::PrivateUserFolders::DataFolder(dir_.path()),
                                        "backups");
    }
    std::vector<std::string> Backups() const {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& e :
             std::filesystem::directory_iterator(dormane::files::U8Path(BackupFolder()), ec))
            out.push_back(dormane::files::U8String(e.path()));
        return out;
    }

    TempDir dir_;
    LogCapture log_;
    std::string logPath_ = dir_ / "engine.log";
    dormane::test::PrivateUserFolders folders_{dir_.path()};
    std::unique_ptr<FWUpdateInterface> engine_;
};

} // namespace testsupport
