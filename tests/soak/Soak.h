#pragma once

#include "Sim.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The fault soak: seeded scenarios of a speaker, an image and the faults of the bus, run
// through the engine on the simulated speaker, each checked against the invariants of a burn.
namespace soak {

// Partial: what a burn that was cut off leaves, the start of an image and the rest erased.
enum class Content { Valid, Broken, Blank, Partial };
enum class ImageKind {
    Valid,
    ForeignVid,
    ForeignPid,
    ForeignChip,
    ForeignChipVer,
    Oversized,
    Truncated,
    BadChecksum,
    BadMagic,
    ErrorPage,
    WrongMode, // a valid image of the other setting than the one asked for
    // Downloads that must fail, with a valid image as their body: nothing may be burned.
    HttpError,     // the server answers 404
    ShortBody,     // the body ends before its Content-Length
    OversizedBody, // the body grows past the download's limit
    StalledBody,   // the server stops sending half-way
};

// The download kinds above: fetched from the soak's own HTTP server, and refused there.
bool IsDownloadFault(ImageKind k);

const char* Name(Content c);
const char* Name(ImageKind k);

struct ScenarioSpec {
    uint64_t seed = 0;
    uint64_t index = 0;

    bool absent = false;     // no speaker on the bus
    uint32_t eepromSize = 0; // one of the non-zero candidate sizes
    Content content = Content::Valid;
    uint32_t deviceTotal = 0;  // TotalSize of the image in the EEPROM (valid or broken)
    uint32_t partialBytes = 0; // Partial: the bytes of the image that were written
    std::string string50;      // the chip revision string

    ImageKind kind = ImageKind::Valid;
    uint32_t imageTotal = 0;  // TotalSize the image's header declares
    uint32_t fileBytes = 0;   // bytes of the file (below imageTotal when truncated)
    bool viaDownload = false; // fetched into the firmware temp file first

    double nackPercent = 0;
    std::optional<uint64_t> unplugAfter; // control transfers before the speaker vanishes
    uint32_t latencyUs = 250;
    uint32_t i2cKhz = 100;
    uint32_t twrUs = 3000;

    bool Faulty() const { return nackPercent > 0 || unplugAfter.has_value(); }
    // One line that names every choice, to reproduce it with --seed and --only.
    std::string Describe() const;
};

struct GenerateOptions {
    // EEPROMs of 2 KB take one address byte but answer the 4 KB addressing as their fifth
    // block; the attach writes into them. Left out unless asked for.
    bool twoKb = false;
};

// The scenario with this index of the sequence of this seed; the same on every machine.
ScenarioSpec Generate(uint64_t seed, uint64_t index, const GenerateOptions& options = {});

// Hooks that let a test break a burn on purpose, to see that the checks notice.
struct Sabotage {
    // At the first EEPROM write of the burn, on the burn thread (the speaker's lock is held:
    // no calls into the speaker).
    std::function<void()> atFirstWrite;
    // After the burn has ended or the image was refused, before the checks.
    std::function<void(dormane::sim::SimSpeaker&)> beforeChecks;
};

struct Outcome {
    int download = -1; // DownloadFile's result, -1 when the file was read from the disk
    int attach = -1;
    int update = -1;
    int state = -1;
    int progress = -1;
    // Broken invariants, and wrong answers that would burn or refuse the wrong image.
    std::vector<std::string> violations;
    // Work that should have succeeded on a fault-free bus but failed safely: an attach that
    // did not get through, a compatible image that did not verify.
    std::vector<std::string> findings;
    std::chrono::nanoseconds simulated{0}; // on the speaker's clock
    std::chrono::nanoseconds real{0};
};

// Runs scenarios one after the other with private settings, state and data folders below
// root (the backups and the firmware temp file land there).
class Runner {
public:
    explicit Runner(std::string root);
    ~Runner();
    Outcome Run(const ScenarioSpec& spec, const Sabotage& sabotage = {});

    // Real time a burn may take before the scenario counts as hung.
    void SetTimeout(std::chrono::milliseconds t) { m_timeout = t; }
    // Sends the engine log of every scenario to this file (empty: no log).
    void SetLogFile(std::string path) { m_strLog = std::move(path); }

private:
    std::string m_strRoot;
    std::chrono::milliseconds m_timeout{60000};
    std::string m_strLog;
    std::unique_ptr<class FaultyServer> m_pServer; // started with the first download fault
};

// What the soak counts: scenarios by kind, results, violations and the longest scenario.
class Totals {
public:
    void Add(const ScenarioSpec& spec, const Outcome& outcome);
    void Print(std::FILE* out) const;
    uint64_t Scenarios() const { return m_nScenarios; }
    uint64_t Violations() const { return m_nViolations; }
    uint64_t WithFindings() const { return m_nWithFindings; }

private:
    uint64_t m_nScenarios = 0;
    uint64_t m_nViolations = 0;
    uint64_t m_nWithFindings = 0;
    std::map<std::string, uint64_t> m_byImage;
    std::map<std::string, uint64_t> m_byDevice;
    std::map<uint32_t, uint64_t> m_bySize;
    std::map<std::string, uint64_t> m_byFault;
    std::map<std::string, uint64_t> m_byResult;
    std::map<std::string, uint64_t> m_findings;
    std::chrono::nanoseconds m_longestSimulated{0};
    std::string m_strLongestSimulated;
    std::chrono::nanoseconds m_longestReal{0};
    std::string m_strLongestReal;
    std::chrono::nanoseconds m_totalReal{0};
};

} // namespace soak
