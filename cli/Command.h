#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

// Shared state of one dormane-cli run: the global options and the exit status that the
// command chosen sets.
struct CliContext {
    bool json = false;
    bool trace = false;
    std::optional<std::string> scenario; // --simulate[=SCENARIO]; empty string = defaults
    std::string recordFile;              // --record FILE; empty: no recording
    int exitCode = 0;
    std::string error;        // the last complaint, for --json
    bool jsonWritten = false; // a JSON object went to standard output
};

// Data goes to standard output: one JSON object (a line) with --json.
void PrintJson(CliContext& ctx, const nlohmann::json& object);
// Messages go to standard error, "dormane-cli: " first; the last one is the "error" of the
// JSON object that --json prints on a path that printed none.
void Complain(CliContext& ctx, const std::string& message);

inline constexpr int kExitUsage = 2;
// 6: a --simulate=replay= run met a request its recording does not hold (ReplayBackend.h).

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
