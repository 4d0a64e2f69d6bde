#pragma once

// dormane-cli end to end on the simulated speaker: the fixture the command tests share.
#include "../engine/CliRunner.h"
#include "../engine/TestSupport.h"
#include "FileSystem.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace clitest {

using testsupport::TempDir;

const std::string kFirmwareDir = DORMANE_FIRMWARE_DIR;
const std::string kStandby =
    kFirmwareDir + "/pm/pm_firmware/pelko_zuro/pelko_z_standby_V8.13_000E6094h.bin";
const std::string kNonStandby =
    kFirmwareDir + "/pm/pm_firmware/pelko_zuro/pelko_z_non_standby_V8.03_000E4712h.bin";

inline std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

inline std::vector<uint8_t> Bytes(const std::string& path) {
    const std::string text = testsupport::ReadText(path);
    return {text.begin(), text.end()};
}

inline std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            lines.push_back(nlohmann::json::parse(line));
    return lines;
}

// Every command runs with private per-user and temp folders and a simulated speaker whose
// EEPROM is a file, on the virtual clock.
class CliOnSimulator : public ::testing::Test {
protected:
    testsupport::Environment Env() const {
        auto env = dormane::test::PrivateUserFolders::Variables(dir_.path());
        env.emplace_back("TMPDIR", dir_.path());
        return env;
    }
    std::string Sim(const std::string& extra = "") const {
        return "--simulate=clock=virtual,eeprom-file=" + eeprom_ +
               (extra.empty() ? "" : "," + extra);
    }
    // The arguments as one line, single quotes around those with blanks (see SplitArgs).
    dormane::test::ProgramResult RunWithEnv(const std::string& args,
                                            const std::string& extra = "") {
        std::vector<std::string> argv = {Sim(extra)};
        for (auto& arg : testsupport::SplitArgs(args))
            argv.push_back(std::move(arg));
        auto result = testsupport::RunCliArgs(argv, Env());
        stderr_ = result.err;
        return result;
    }
    // The standard error of the last run.
    std::string Stderr() const { return stderr_; }
    // Where the engine keeps its backups and journal for these runs.
    std::string DataFile(const std::string& name) const {
        return dormane::files::JoinPath(dormane::test::PrivateUserFolders::DataFolder(dir_.path()),
                                        name);
    }

    TempDir dir_;
    std::string eeprom_ = dir_ / "speaker.eeprom";
    std::string stderr_;
};

} // namespace clitest
