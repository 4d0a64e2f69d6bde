// The global options that choose and watch the USB backend: --simulate[=SCENARIO], --trace.
#include "Command.h"

#include "DebugOutput.h"
#include "SimBackend.h"
#include "Transport.h"

#include <cstdio>

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
    app.add_flag("--trace", ctx.trace,
                 "Print each I2C transfer block sent to the speaker, and the transport's "
                 "debug messages, on standard error");
}

int PrepareBackend(CliContext& ctx) {
    SimulateOption& simulate = Simulate();
    if (simulate.option != nullptr && simulate.option->count() > 0)
        ctx.scenario = simulate.value;
    if (ctx.scenario) {
        std::string error;
        if (!dormane::sim::InstallSimulatedSpeaker(*ctx.scenario, error)) {
            Complain(ctx, "--simulate: " + error);
            return kExitUsage;
        }
    }
    if (ctx.trace) {
        rmSetTraceSink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
        dormane::SetDebugOutputEcho(true);
    }
    return 0;
}
