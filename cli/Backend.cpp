#include "Command.h"

#include <cstdio>

void AddBackendOptions(CLI::App&, CliContext&) {}

int PrepareBackend(CliContext& ctx) {
    if (ctx.scenario) {
        std::fprintf(stderr, "dormane-cli: --simulate is not available in this build\n");
        return kExitUsage;
    }
    return 0;
}
