#pragma once

#include "BurnModel.h"
#include "Transport.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// One burn through the engine on the simulated speaker, timed phase by phase.
namespace dormane::bench {

inline constexpr uint32_t kBenchEepromSize = 65536;

// Private settings, state and data folders for the life of the object, so that the backups
// every burn writes do not land in the user's own; removed afterwards.
class BenchFolders {
public:
    BenchFolders();
    ~BenchFolders();
    BenchFolders(const BenchFolders&) = delete;
    BenchFolders& operator=(const BenchFolders&) = delete;

    bool Ok() const { return !m_strRoot.empty(); }
    const std::string& Root() const { return m_strRoot; }

private:
    std::string m_strRoot;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_vSaved;
};

struct BurnRequest {
    uint32_t totalSize = 16384;
    TimingProfile profile;
    bool realClock = false;
    // How often the burn state is polled, in real time (the wizard's timer: 100 ms).
    std::chrono::milliseconds pollInterval{1};
};

struct MeasuredBurn {
    int updateResult = -1; // UpdateFirmware
    int state = -1;        // the final burn state
    bool contentOk = false;
    // Simulated (virtual clock) or wall time of the two phases: from the start of the burn
    // to the end of the last write access, and from there to the end of the read-back.
    Nanos writeTime{0};
    Nanos readTime{0};
    rmStats write;
    rmStats read;
    // Real time and the process's CPU time from UpdateFirmware to the final state.
    Nanos wall{0};
    Nanos cpu{0};
};

// Attaches the simulated speaker (a 64 KB EEPROM holding the sample image), burns an image of
// the requested size and reads the transport's counters per phase. False with a reason when
// the burn could not be set up; a burn that fails is reported in the result instead.
bool MeasureBurn(const BurnRequest& request, const BenchFolders& folders, MeasuredBurn& out,
                 std::string& error);

} // namespace dormane::bench
