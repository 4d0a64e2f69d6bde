// dormane-soak: seeded fault scenarios against the engine on the simulated speaker, each
// checked against the invariants of a burn. Exit status 0 when no scenario broke one.
#include "FileSystem.h"
#include "Soak.h"
#include "TestPlatform.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>

namespace {

// Settings, backups, the firmware temp file and the engine's log go below one private
// folder, removed at the end: the soak must not touch the user's own.
class PrivateFolders {
public:
    PrivateFolders() {
        if (m_dir.Path().empty())
            return;
        m_folders.emplace(m_dir.Path());
        // The engine's log on Linux goes to the temp folder.
        const std::string temp = m_dir.Path() + "/TMPDIR";
        std::filesystem::create_directories(dormane::files::U8Path(temp));
        dormane::test::SetEnv("TMPDIR", temp);
    }
    const std::string& Root() const { return m_dir.Path(); }

private:
    dormane::test::TempDir m_dir;
    std::optional<dormane::test::PrivateUserFolders> m_folders;
};

} // namespace

int main(int argc, char** argv) {
    uint64_t scenarios = 300;
    uint64_t seed = 1;
    std::optional<uint64_t> only;
    uint64_t timeoutMs = 60000;
    std::string logFile;
    bool verbose = false;
    bool strict = false;
    soak::GenerateOptions options;
    CLI::App app{"dormane-soak: seeded fault scenarios against the engine on the simulated "
                 "speaker.\nExit status: 0 no violation, 1 violations, 2 usage error."};
    app.add_option("--scenarios", scenarios, "Number of scenarios (default 300)");
    app.add_option("--seed", seed, "Seed of the scenario sequence (default 1)");
    app.add_option("--only", only, "Run only the scenario with this index of the sequence");
    app.add_option("--timeout-ms", timeoutMs,
                   "Real time a burn may take before it counts as hung (default 60000)");
    app.add_option("--log", logFile, "Write the engine's log of every scenario to this file");
    app.add_flag("--verbose", verbose, "One line per scenario");
    app.add_flag("--include-2k", options.twoKb,
                 "Draw 2 KB EEPROMs too (the attach writes into them: a known fault)");
    app.add_flag("--strict", strict,
                 "Count findings (work that failed safely on a fault-free bus) as violations");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    // No sleep-inhibitor lock over the system bus for each of the many burns.
    if (!dormane::test::GetEnv("DORMANE_LOGIND_BUS_ADDRESS"))
        dormane::test::SetEnv("DORMANE_LOGIND_BUS_ADDRESS", "none");
    const PrivateFolders folders;
    if (folders.Root().empty()) {
        std::fprintf(stderr, "dormane-soak: cannot create a private temp folder\n");
        return 2;
    }
    soak::Runner runner(folders.Root());
    runner.SetTimeout(std::chrono::milliseconds(timeoutMs));
    runner.SetLogFile(logFile);

    soak::Totals totals;
    const uint64_t first = only.value_or(0);
    const uint64_t end = only ? *only + 1 : scenarios;
    for (uint64_t i = first; i < end; ++i) {
        const soak::ScenarioSpec spec = soak::Generate(seed, i, options);
        const soak::Outcome outcome = runner.Run(spec);
        totals.Add(spec, outcome);
        const char* verdict = !outcome.violations.empty() ? "VIOLATION"
                              : !outcome.findings.empty() ? "FINDING"
                                                          : "ok";
        if (verbose || !outcome.violations.empty() || (strict && !outcome.findings.empty()))
            std::printf("%s %s -> attach %d, update %d, state %d, progress %d\n", verdict,
                        spec.Describe().c_str(), outcome.attach, outcome.update, outcome.state,
                        outcome.progress);
        for (const std::string& v : outcome.violations)
            std::printf("  - %s\n", v.c_str());
        if (verbose || strict)
            for (const std::string& f : outcome.findings)
                std::printf("  - finding: %s\n", f.c_str());
        std::fflush(stdout);
    }
    std::printf("\nseed %llu, scenarios %llu to %llu\n", static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(first), static_cast<unsigned long long>(end - 1));
    totals.Print(stdout);
    if (!options.twoKb)
        std::printf("2 KB EEPROMs left out (--include-2k draws them)\n");
    const bool failed = totals.Violations() != 0 || (strict && totals.WithFindings() != 0);
    return failed ? 1 : 0;
}
