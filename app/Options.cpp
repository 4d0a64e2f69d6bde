#include "Options.h"

#include "CPelkoFWUpdateApp.h"

#include "Download.h"
#include "ReplayBackend.h"
#include "ShellQuote.h"
#include "SimBackend.h"
#include "UsbRecorder.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace {

using dormane::ShellQuote;

bool NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

int ParseWizardOptions(int argc, const char* const* argv, WizardOptions& options, std::ostream& out,
                       std::ostream& err) {
    CLI::App app{"dormane: the wizard that switches the auto-standby setting of the speaker "
                 "pair.\nOptions for Qt (such as -platform offscreen) are passed on."};
    app.name("dormane");
    app.set_version_flag("--version", std::string("dormane ") + DORMANE_VERSION);
    app.allow_extras();
    std::string scenario;
    auto* simulate =
        app.add_option("--simulate", scenario,
                       "Use the simulated speaker instead of the USB bus, with an optional "
                       "scenario (comma-separated key=value list)")
            ->expected(0, 1);
    app.add_option("--firmware-base-url", options.firmwareBaseUrl,
                   "Take the firmware images from this base URL instead of the maker's server "
                   "(https://, http:// or file://)");
    app.add_option("--record", options.recordFile,
                   "Write every USB request to the speaker and its answer to FILE, one JSON "
                   "line each; --simulate=replay=FILE answers from it");
    app.add_option("--ca-file", options.caFile,
                   "Trust this CA certificate (PEM) in addition to the system's")
        ->check(CLI::ExistingFile);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? 0 : 2;
    }
    if (simulate->count() > 0)
        options.scenario = scenario;
    options.platformArgs = app.remaining();
    for (const std::string& arg : options.platformArgs) {
        if (arg.rfind("--", 0) == 0) {
            err << "dormane: unknown option " << arg << "\nRun with --help for more information.\n";
            return 2;
        }
    }
    return -1;
}

bool DisplayAvailable(const WizardOptions& options) {
    if (NonEmptyEnv("QT_QPA_PLATFORM"))
        return true;
    for (const std::string& arg : options.platformArgs)
        if (arg == "-platform")
            return true;
    return NonEmptyEnv("DISPLAY") || NonEmptyEnv("WAYLAND_DISPLAY");
}

std::string NoDisplayHint(const WizardOptions& options) {
    std::string global;
    if (options.scenario)
        global += options.scenario->empty() ? " --simulate"
                                            : " --simulate=" + ShellQuote(*options.scenario);
    std::string download;
    if (!options.firmwareBaseUrl.empty())
        download += " --firmware-base-url " + ShellQuote(options.firmwareBaseUrl);
    if (!options.caFile.empty())
        download += " --ca-file " + ShellQuote(options.caFile);
    std::ostringstream text;
    text << "dormane: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the "
            "wizard cannot open its window.\n"
         << "The same with the command line tool:\n"
         << "  dormane-cli" << global << " status\n"
         << "  dormane-cli" << global << " set enable" << download << "\n"
         << "  dormane-cli" << global << " set disable" << download << "\n";
    return text.str();
}

bool ApplyWizardOptions(const WizardOptions& options, std::string& error) {
    if (options.scenario) {
        // A replay that meets a request its recording does not hold ends the program there.
        dormane::sim::SetReplayDivergenceHandler([](const std::string& message) {
            std::fprintf(stderr, "dormane: %s\n", message.c_str());
            std::fflush(nullptr);
            std::_Exit(dormane::sim::kExitReplayDiverged);
        });
        if (!dormane::sim::InstallSimulatedSpeaker(*options.scenario, error))
            return false;
    }
    if (!options.recordFile.empty() &&
        !dormane::StartRecording(options.recordFile, "dormane", DORMANE_VERSION, error)) {
        error = "--record: " + error;
        return false;
    }
    dormane::DownloadOptions download;
    if (!options.firmwareBaseUrl.empty())
        download.baseUrl = options.firmwareBaseUrl;
    download.caFile = options.caFile;
    dormane::SetDownloadOptions(download);
    return true;
}

int RunDormane(int argc, char** argv) {
    WizardOptions options;
    const int parsed = ParseWizardOptions(argc, argv, options, std::cout, std::cerr);
    if (parsed >= 0)
        return parsed;
    if (!DisplayAvailable(options)) {
        std::cerr << NoDisplayHint(options);
        return 1;
    }
    std::string error;
    if (!ApplyWizardOptions(options, error)) {
        std::cerr << "dormane: " << error << "\n";
        return 2;
    }
    // Qt sees only what was left for it.
    std::vector<std::string> qtArgs{argv[0]};
    qtArgs.insert(qtArgs.end(), options.platformArgs.begin(), options.platformArgs.end());
    std::vector<char*> qtArgv;
    for (std::string& arg : qtArgs)
        qtArgv.push_back(arg.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgs.size());
    CPelkoFWUpdateApp app(qtArgc, qtArgv.data());
    app.InitInstance();
    return app.ExitCode();
}
