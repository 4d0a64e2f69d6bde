// The global options that choose and watch the USB backend: --simulate[=SCENARIO], --trace,
// --record FILE.
#include "Command.h"

#include "DebugOutput.h"
#include "ReplayBackend.h"
#include "SimBackend.h"
#include "Transport.h"
#include "UsbRecorder.h"

#include <cstdio>
#include <cstdlib>

namespace {

// --simulate is a flag that may carry a value (--simulate=SCENARIO), so that it never takes
// the next word of the command line as its scenario.
struct SimulateOption {
    CLI::Option* option = nullptr;
    std::string value;
};

SimulateOption& Simulate() {
    static SimulateOption simulate;
    return simulate;
}

} // namespace

void AddBackendOptions(CLI::App& app, CliContext& ctx) {
    SimulateOption& simulate = Simulate();
    simulate.option = app.add_flag("--simulate{}", simulate.value,
                                   "Use the simulated speaker instead of USB; SCENARIO is a "
                                   "comma-separated list such as fw=0x0803,nack=5,clock=virtual "
                                   "(write it as --simulate=SCENARIO)");
    app.add_option("--record", ctx.recordFile,
                   "Write every USB request to the speaker and its answer to FILE, one JSON "
                   "line each (docs/RECORDING.md); --simulate=replay=FILE answers from it");
    app.add_flag("--trace", ctx.trace,
                 "Print each I2C transfer block sent to the speaker, and the transport's "
                 "debug messages, on standard error");
}

int PrepareBackend(CliContext& ctx) {
    SimulateOption& simulate = Simulate();
    if (simulate.option != nullptr && simulate.option->count() > 0)
        ctx.scenario = simulate.value;
    if (ctx.scenario) {
        // A replay that meets a request its recording does not hold ends the run there: what
        // follows would only be the program's reaction to an answer nobody gave.
        const bool json = ctx.json;
        dormane::sim::SetReplayDivergenceHandler([json](const std::string& message) {
            std::fprintf(stderr, "dormane-cli: %s\n", message.c_str());
            if (json)
                std::printf("%s\n", nlohmann::json{{"status", dormane::sim::kExitReplayDiverged},
                                                   {"error", message}}
                                        .dump()
                                        .c_str());
            std::fflush(nullptr);
            std::_Exit(dormane::sim::kExitReplayDiverged);
        });
        std::string error;
        if (!dormane::sim::InstallSimulatedSpeaker(*ctx.scenario, error)) {
            Complain(ctx, "--simulate: " + error);
            return kExitUsage;
        }
    }
    if (!ctx.recordFile.empty()) {
        std::string reason;
        if (!dormane::StartRecording(ctx.recordFile, "dormane-cli", DORMANE_VERSION, reason)) {
            Complain(ctx, "--record: " + reason);
            return kExitUsage;
        }
    }
    if (ctx.trace) {
        rmSetTraceSink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
        dormane::SetDebugOutputEcho(true);
    }
    return 0;
}
