#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

// Shared state of one dormane-cli run: the global options and the exit status that the
// command chosen sets.
struct CliContext {
    bool json = false;
    bool trace = false;
    std::optional<std::string> scenario; // --simulate[=SCENARIO]; empty string = defaults
    int exitCode = 0;
};

inline constexpr int kExitUsage = 2;

// Each command lives in a file of its own and registers itself with a static
// CommandRegistrar; main() adds them in their order.
using CommandFactory = void (*)(CLI::App& app, CliContext& ctx);

struct CommandRegistrar {
    CommandRegistrar(int order, CommandFactory factory);
};

struct RegisteredCommand {
    int order;
    CommandFactory factory;
};
std::vector<RegisteredCommand>& RegisteredCommands();

// Adds the global options that choose and watch the USB backend (--simulate, --trace).
void AddBackendOptions(CLI::App& app, CliContext& ctx);

// Chooses the USB backend the way --simulate asks, before any engine call. Returns 0, or an
// exit status after printing why it could not.
int PrepareBackend(CliContext& ctx);
