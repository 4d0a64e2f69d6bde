// dormane-cli: the command-line companion of the wizard, on the same engine.
#include "Command.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

std::vector<RegisteredCommand>& RegisteredCommands() {
    static std::vector<RegisteredCommand> commands;
    return commands;
}

CommandRegistrar::CommandRegistrar(int order, CommandFactory factory) {
    RegisteredCommands().push_back({order, factory});
}

int main(int argc, char** argv) {
    // A reader that goes away (dormane-cli status | head) makes a write fail, not the
    // program end: a burn must outlive its pipe.
    std::signal(SIGPIPE, SIG_IGN);
    CliContext ctx;
    CLI::App app{
        "dormane-cli: read and switch the auto-standby setting of the speaker pair.\n"
        "Exit status: 0 success, 2 usage error, otherwise the engine's status code "
        "(1, 16, 32, 64, 128) or the command's own code; 5 when another program is using the "
        "speaker."};
    app.set_version_flag("--version", std::string("dormane-cli ") + DORMANE_VERSION);
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    return ctx.exitCode;
}
