// dormane-cli: the command-line companion of the wizard, on the same engine.
#include "Command.h"
#include "Platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

std::vector<RegisteredCommand>& RegisteredCommands() {
    static std::vector<RegisteredCommand> commands;
    return commands;
}

CommandRegistrar::CommandRegistrar(int order, CommandFactory factory) {
    RegisteredCommands().push_back({order, factory});
}

void PrintJson(CliContext& ctx, const nlohmann::json& object) {
    std::printf("%s\n", object.dump().c_str());
    std::fflush(stdout);
    ctx.jsonWritten = true;
}

void Complain(CliContext& ctx, const std::string& message) {
    std::fprintf(stderr, "dormane-cli: %s\n", message.c_str());
    ctx.error = message;
}

namespace {

// With --json, every run ends with a JSON object on standard output: the paths that had
// nothing of their own to print give their status and the last complaint.
int Finish(CliContext& ctx, int code) {
    if (ctx.json && !ctx.jsonWritten)
        PrintJson(ctx, {{"status", code},
                        {"error",
                         ctx.error.empty() ? nlohmann::json(nullptr) : nlohmann::json(ctx.error)}});
    return code;
}

// The first word that is not an option: the command (every global option is a flag or
// written --option=value, but --record FILE).
std::string CommandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--record") == 0)
            ++i;
        else if (argv[i][0] != '-')
            return argv[i];
    }
    return {};
}

bool HasFlag(int argc, char** argv, const char* flag) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], flag) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char** rawArgv) {
    std::vector<std::string> args = PrepareProcess(argc, rawArgv);
    std::vector<char*> argvList;
    for (std::string& arg : args)
        argvList.push_back(arg.data());
    argvList.push_back(nullptr);
    argc = static_cast<int>(args.size());
    char** argv = argvList.data();
    CliContext ctx;
    CLI::App app{
        "dormane-cli: read and switch the auto-standby setting of the speaker pair.\n"
        "Exit status: 0 success, 2 usage error, otherwise the engine's status code "
        "(1, 16, 32, 64, 128) or the command's own code; 5 when another program is using the "
        "speaker; 6 when a --simulate=replay= run diverged from its recording; 7 when set or "
        "flash --wait-replug did not see the speaker come back running the new firmware."};
    app.set_version_flag("--version", std::string("dormane-cli ") + DORMANE_VERSION);
    // Options are spelt --name on every platform, so that a path such as /tmp/fw.bin stays an
    // argument on Windows too (the commands made below inherit this).
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.fallthrough(); // global options may follow the command too
    app.add_flag("--json", ctx.json, "Print one JSON object (or JSON lines while burning)");
    AddBackendOptions(app, ctx);

    auto commands = RegisteredCommands();
    std::sort(
        commands.begin(), commands.end(),
        [](const RegisteredCommand& a, const RegisteredCommand& b) { return a.order < b.order; });
    for (const auto& command : commands)
        command.factory(app, ctx);

    ctx.json = HasFlag(argc, argv, "--json"); // known before a usage error ends the parse
    const std::string command = CommandWord(argc, argv);
    const CLI::App& constApp = app;
    const auto all = constApp.get_subcommands([](const CLI::App*) { return true; });
    const bool known = std::any_of(all.begin(), all.end(),
                                   [&](const CLI::App* sub) { return sub->check_name(command); });
    if (!command.empty() && !known) {
        std::string names;
        for (const CLI::App* sub : all)
            names += (names.empty() ? "" : ", ") + sub->get_name();
        Complain(ctx, "unknown command '" + command + "'; the commands are " + names +
                          " (--help says more)");
        return Finish(ctx, kExitUsage);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        if (ctx.json)
            Complain(ctx, e.what());
        else
            app.exit(e);
        return Finish(ctx, kExitUsage);
    }
    return Finish(ctx, ctx.exitCode);
}
