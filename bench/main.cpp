// dormane-bench: burns images of 4, 16 and 64 KB into the simulated speaker under each timing
// profile, compares the time with the protocol's lower bounds and with the designed
// algorithm's own cost, and measures the host CPU share of a burn on the real clock.
#include "BurnModel.h"
#include "BurnRun.h"
#include "QuietStderr.h"
#include "Status.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace dormane;
using namespace dormane::bench;

namespace {

// The goals a burn is held to.
constexpr double kMaxRatioToDesign = 1.05; // nothing of ours on top of the design's own cost
constexpr double kMaxReadToBound = 1.2;    // the read-back waits no longer than it must
constexpr double kMaxCpuSharePercent = 5;  // waiting gives the processor away

constexpr uint32_t kSummarySize = 16384;
constexpr uint32_t kCpuRunSize = 4096;

constexpr int kExitGoalMissed = 1;
constexpr int kExitSetup = 3;

bool QuietBurn(const BurnRequest& request, const BenchFolders& folders, MeasuredBurn& out) {
    std::string error;
    bool ok;
    {
        const QuietStderr quiet;
        ok = MeasureBurn(request, folders, out, error);
    }
    if (!ok)
        std::fprintf(stderr, "dormane-bench: %s\n", error.c_str());
    return ok;
}

double Ms(Nanos d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Ratio(Nanos a, Nanos b) {
    return b.count() > 0 ? static_cast<double>(a.count()) / static_cast<double>(b.count()) : 0;
}

std::vector<TimingProfile> AllProfiles() {
    std::vector<TimingProfile> out;
    for (uint32_t latency : {125u, 250u, 1000u})
        for (uint32_t khz : {100u, 400u})
            for (uint32_t twr : {3000u, 5000u})
                out.push_back({latency, khz, twr});
    return out;
}

bool IsDefault(const TimingProfile& p) {
    return p.latencyUs == kDefaultProfile.latencyUs && p.i2cKhz == kDefaultProfile.i2cKhz &&
           p.twrUs == kDefaultProfile.twrUs;
}

struct Row {
    uint32_t size = 0;
    TimingProfile profile;
    MeasuredBurn measured;
    PhaseCost design;
    PhaseCost designRead;
    Nanos writeBound{0};
    Nanos readBound{0};

    double WriteToDesign() const { return Ratio(measured.writeTime, design.time); }
    double WriteToBound() const { return Ratio(measured.writeTime, writeBound); }
    double ReadToBound() const { return Ratio(measured.readTime, readBound); }
    // Where the designed algorithm gets through, our write phase does exactly its transfers,
    // NACKs and 10 ms steps. Where it gives up inside the EEPROM's write cycle, ours waits
    // the cycle out, so there is nothing of the design's to compare with.
    bool DesignFails() const { return !design.ok; }
    bool CountsAsDesigned() const {
        if (DesignFails())
            return true;
        return measured.write.controlTransfers == design.controlTransfers &&
               measured.write.nacks == design.nacks &&
               measured.write.writeWaits == design.writeWaits;
    }
    bool Verified() const { return measured.state == status::kBurnVerified && measured.contentOk; }
};

void PrintHeader() {
    std::printf("| image | L us | I2C kHz | tWR ms | write ms | design ms | bound ms | w/design | "
                "w/bound | transfers | NACKs | 10 ms waits | as designed | read ms | bound ms | "
                "r/bound | design skips | state |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
}

void PrintRow(const Row& r) {
    char design[32];
    char toDesign[32];
    if (r.DesignFails()) {
        std::snprintf(design, sizeof design, "fails at %.1f", Ms(r.design.time));
        std::snprintf(toDesign, sizeof toDesign, "-");
    } else {
        std::snprintf(design, sizeof design, "%.1f", Ms(r.design.time));
        std::snprintf(toDesign, sizeof toDesign, "%.3f", r.WriteToDesign());
    }
    std::printf("| %u KB | %u | %u | %.0f | %.1f | %s | %.1f | %s | %.2f | %llu | %llu | %llu "
                "| %s | %.1f | %.1f | %.3f | %llu | %s |\n",
                r.size / 1024, r.profile.latencyUs, r.profile.i2cKhz, r.profile.twrUs / 1000.0,
                Ms(r.measured.writeTime), design, Ms(r.writeBound), toDesign, r.WriteToBound(),
                static_cast<unsigned long long>(r.measured.write.controlTransfers),
                static_cast<unsigned long long>(r.measured.write.nacks),
                static_cast<unsigned long long>(r.measured.write.writeWaits),
                r.DesignFails()        ? "-"
                : r.CountsAsDesigned() ? "yes"
                                       : "NO",
                Ms(r.measured.readTime), Ms(r.readBound), r.ReadToBound(),
                static_cast<unsigned long long>(r.designRead.skippedChunks),
                r.Verified() ? "verified" : "FAILED");
    std::fflush(stdout);
}

bool RunRow(uint32_t size, const TimingProfile& profile, const BenchFolders& folders, Row& row) {
    row.size = size;
    row.profile = profile;
    BurnRequest request;
    request.totalSize = size;
    request.profile = profile;
    if (!QuietBurn(request, folders, row.measured))
        return false;
    row.design = DesignWritePhase(size, profile);
    row.designRead = DesignReadPhase(size, profile);
    row.writeBound = WriteLowerBound(size, profile);
    row.readBound = ReadLowerBound(size, profile);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool quick = false;
    bool skipCpu = false;
    CLI::App app{
        "dormane-bench: burn timing on the simulated speaker against the protocol's "
        "lower bounds and the designed algorithm.\nExit status: 0 all goals met, 1 a "
        "goal missed or a burn did not verify, 3 the simulated speaker could not be set up."};
    app.add_flag("--quick", quick,
                 "Only the 16 KB image at the default profile, without the real-clock run");
    app.add_flag("--skip-cpu", skipCpu, "Leave out the real-clock run that measures CPU share");
    CLI11_PARSE(app, argc, argv);
    if (quick)
        skipCpu = true;

    // No sleep-inhibitor lock over the system bus for each of the many burns.
    setenv("DORMANE_LOGIND_BUS_ADDRESS", "none", 0);
    const BenchFolders folders;

    std::vector<uint32_t> sizes = {4096, 16384, 65536};
    std::vector<TimingProfile> profiles = AllProfiles();
    if (quick) {
        sizes = {kSummarySize};
        profiles = {kDefaultProfile};
    }

    bool allVerified = true;
    bool allAsDesigned = true;
    std::string unverified;
    std::optional<Row> summary;
    PrintHeader();
    for (uint32_t size : sizes) {
        for (const TimingProfile& profile : profiles) {
            Row row;
            if (!RunRow(size, profile, folders, row))
                return kExitSetup;
            PrintRow(row);
            allVerified = allVerified && row.Verified();
            if (!row.Verified())
                unverified += "  " + std::to_string(size / 1024) + " KB at " +
                              std::to_string(profile.latencyUs) + " us, " +
                              std::to_string(profile.i2cKhz) + " kHz, tWR " +
                              std::to_string(profile.twrUs) + " us\n";
            allAsDesigned = allAsDesigned && row.CountsAsDesigned();
            if (size == kSummarySize && IsDefault(profile))
                summary = row;
        }
    }

    std::optional<double> cpuShare;
    if (!skipCpu) {
        BurnRequest request;
        request.totalSize = kCpuRunSize;
        request.realClock = true;
        request.pollInterval = std::chrono::milliseconds(100);
        MeasuredBurn m;
        if (!QuietBurn(request, folders, m))
            return kExitSetup;
        cpuShare = 100.0 * Ratio(m.cpu, m.wall);
        std::printf("\nreal clock, %u KB at the default profile: wall %.0f ms (write %.0f, read "
                    "%.0f), CPU %.1f ms, %s\n",
                    kCpuRunSize / 1024, Ms(m.wall), Ms(m.writeTime), Ms(m.readTime), Ms(m.cpu),
                    m.state == status::kBurnVerified && m.contentOk ? "verified" : "FAILED");
        if (m.state != status::kBurnVerified || !m.contentOk) {
            allVerified = false;
            unverified += "  the real-clock run\n";
        }
    }

    if (!summary)
        return kExitSetup;
    const double toDesign = summary->WriteToDesign();
    const double toBound = summary->ReadToBound();
    std::printf("\nratio_to_design=%.2f ratio_to_bound=%.2f cpu_share=", toDesign, toBound);
    if (cpuShare)
        std::printf("%.1f%%\n", *cpuShare);
    else
        std::printf("n/a\n");

    bool met = allVerified && allAsDesigned;
    if (toDesign > kMaxRatioToDesign) {
        std::fprintf(stderr,
                     "goal missed: write phase %.3f x the design's own time (at most %.2f)\n",
                     toDesign, kMaxRatioToDesign);
        met = false;
    }
    if (toBound > kMaxReadToBound) {
        std::fprintf(stderr, "goal missed: read-back %.3f x its lower bound (at most %.2f)\n",
                     toBound, kMaxReadToBound);
        met = false;
    }
    if (cpuShare && *cpuShare > kMaxCpuSharePercent) {
        std::fprintf(stderr, "goal missed: CPU share %.1f%% (at most %.0f%%)\n", *cpuShare,
                     kMaxCpuSharePercent);
        met = false;
    }
    if (!allVerified)
        std::fprintf(stderr, "burns that did not end verified with the image in the EEPROM:\n%s",
                     unverified.c_str());
    if (!allAsDesigned)
        std::fprintf(stderr, "a write phase did not make the design's transfers, NACKs and "
                             "10 ms steps\n");
    return met ? 0 : kExitGoalMissed;
}
