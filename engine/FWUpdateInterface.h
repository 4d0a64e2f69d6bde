#pragma once

#include <cstdint>
#include <memory>

class UpdateManager;

// The single entry point through which the wizard and the command line drive the engine.
// Every operation after Init returns 1 at once, without a log line, while the core is missing.
class FWUpdateInterface {
public:
    // Reads the log switches, builds the log path and deletes the previous run's log.
    FWUpdateInterface();
    virtual ~FWUpdateInterface();

    FWUpdateInterface(const FWUpdateInterface&) = delete;
    FWUpdateInterface& operator=(const FWUpdateInterface&) = delete;

    int Init();
    int AttachDevice(int vid, int pid);
    int GetFWVersion(uint16_t* version);
    int UpdateFirmware(const char* path);
    // A burn for one setting: the image must hold firmware requiredFwVer, or it is refused
    // with 64 before anything is written.
    int UpdateFirmware(const char* path, uint16_t requiredFwVer);
    int GteUpdateProgress(int* progress);
    int DetachDevice();

    // The core, for the command line's diagnostics (status, backup); null before Init.
    UpdateManager* Core() { return m_pCore.get(); }

private:
    std::unique_ptr<UpdateManager> m_pCore;
};
