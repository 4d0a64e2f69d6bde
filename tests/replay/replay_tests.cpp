// Recordings as regression tests. Every NAME.jsonl in tests/data/recordings is replayed through
// dormane-cli --simulate=replay= with the arguments its NAME.expect.json gives, and must give
// the same exit status, output, messages and diagnostic log, and, when the expectation says
// what the speaker held at the start, the same EEPROM at the end.
//
// The recordings of the simulated speaker are made again with
//   replay_tests --record-again
// which runs each case of kMade against the simulated speaker with --record and writes the
// recording and its expectation into the source folder.
#include "../engine/ShellRunner.h"
#include "../engine/TestSupport.h"

#include "Journal.h"
#include "ShellQuote.h"
#include "Sim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <iostream>
#include <regex>
#include <sstream>

namespace {

const std::string kRecordings = DORMANE_RECORDINGS_DIR;
const std::string kFirmwareDir = DORMANE_FIRMWARE_DIR;

// The recordings this suite makes from the simulated speaker: a status, a set, and a burn
// that an unplug cuts off. Arguments name the sample images as $FIRMWARE.
struct MadeCase {
    const char* name;
    const char* scenario; // of the simulated speaker it was recorded from
    const char* args;
};
const MadeCase kMade[] = {
    {"status-enabled", "fw=0813", "status"},
    {"set-enable", "fw=0803",
     "set enable --file $FIRMWARE/pm/pm_firmware/pelko_zuro/pelko_z_standby_V8.13_000E6094h.bin"},
    // The speaker goes off the bus after 7000 control transfers: the attach and about a
    // third of the burn.
    {"flash-unplugged", "fw=0813,unplug-after=7000",
     "flash $FIRMWARE/pm/pm_firmware/pelko_zuro/pelko_z_non_standby_V8.03_000E4712h.bin"},
};

using dormane::ShellQuote;

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty())
        return;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// What two runs of the same conversation may differ in, taken out: the run's own folders,
// the wall-clock time in backup names and log lines, the --simulate scenario that the
// commands it prints repeat, the lines whose number follows the wall-clock polling of the
// burn's progress rather than the conversation, and the sleep inhibitor's note, which
// depends on the machine's system bus.
std::vector<std::string> Normalised(std::string text, const std::string& dir) {
    ReplaceAll(text, dir, "$TMP");
    ReplaceAll(text, kFirmwareDir, "$FIRMWARE");
    static const std::regex backupTime("backup-[0-9]{8}-[0-9]{6}");
    text = std::regex_replace(text, backupTime, "backup-YYYYMMDD-HHMMSS");
    static const std::regex scenario("dormane-cli --simulate=('[^']*'|[^ ]+)");
    text = std::regex_replace(text, scenario, "dormane-cli --simulate=SCENARIO");
    static const std::regex logTime("^\\[[0-9]+/[0-9]+ [0-9]+:[0-9]+:[0-9]+\\] ");
    static const std::regex progress("^progress [0-9]+%$");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        line = std::regex_replace(line, logTime, "");
        if (std::regex_match(line, progress) ||
            line.find("GteUpdateProgress") != std::string::npos ||
            line.rfind("SleepInhibitor::", 0) == 0)
            continue;
        lines.push_back(line);
    }
    return lines;
}

// The EEPROM the simulated speaker of a scenario starts with.
std::vector<uint8_t> InitialEeprom(const std::string& scenarioText) {
    dormane::sim::Scenario scenario;
    std::string error;
    if (!dormane::sim::ParseScenario(scenarioText, scenario, error))
        ADD_FAILURE() << error;
    dormane::sim::SimSpeaker speaker(scenario, std::make_shared<dormane::VirtualClock>());
    return speaker.Eeprom();
}

std::string EepromDigest(const std::string& path) {
    const std::string bytes = testsupport::ReadText(path);
    return dormane::journal::DigestOf(reinterpret_cast<const uint8_t*>(bytes.data()),
                                      static_cast<uint32_t>(bytes.size()));
}

struct CliRun {
    int exitCode = -1;
    std::vector<std::string> out, err, log;
};

// One dormane-cli run in a private home with the diagnostic log on.
class Home {
public:
    Home() {
        std::filesystem::create_directories(dir_ / "config/Voxtrel");
        std::filesystem::create_directories(dir_ / "tmp");
        testsupport::WriteText(dir_ / "config/Voxtrel/FWUpdateTool.conf",
                               "[General]\nEnableLog=1\nLogType=1\n");
    }
    std::string Eeprom() const { return dir_ / "speaker.eeprom"; }
    CliRun Cli(const std::string& global, std::string args) const {
        ReplaceAll(args, "$FIRMWARE", kFirmwareDir);
        const std::string env = "XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config") +
                                " XDG_STATE_HOME=" + ShellQuote(dir_ / "state") +
                                " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") +
                                " TMPDIR=" + ShellQuote(dir_ / "tmp");
        const auto r =
            testsupport::RunCli(global + " " + args + " 2>" + ShellQuote(dir_ / "stderr"), env);
        CliRun run;
        run.exitCode = r.exitCode;
        run.out = Normalised(r.out, dir_.path());
        run.err = Normalised(testsupport::ReadText(dir_ / "stderr"), dir_.path());
        run.log = Normalised(testsupport::ReadText(dir_ / "tmp/VXFWUpdate.log"), dir_.path());
        return run;
    }

private:
    testsupport::TempDir dir_;
};

std::vector<std::string> RecordingNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kRecordings))
        if (entry.path().extension() == ".jsonl")
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

nlohmann::json Expectation(const std::string& name) {
    const std::string text = testsupport::ReadText(kRecordings + "/" + name + ".expect.json");
    return nlohmann::json::parse(text, nullptr, false);
}

class Recording : public ::testing::TestWithParam<std::string> {};

TEST_P(Recording, ReplaysToTheSameOutputLogAndEeprom) {
    const std::string name = GetParam();
    const nlohmann::json expect = Expectation(name);
    ASSERT_TRUE(expect.is_object()) << name << ".expect.json is missing or not JSON";
    Home home;
    std::string global = "--simulate=replay=" + kRecordings + "/" + name + ".jsonl";
    if (expect.contains("scenario")) {
        ASSERT_TRUE(dormane::imagebuilder::WriteFile(
            home.Eeprom(), InitialEeprom(expect["scenario"].get<std::string>())));
        global += ",eeprom-file=" + home.Eeprom();
    }
    const CliRun run = home.Cli(ShellQuote(global), expect.at("args").get<std::string>());
    EXPECT_EQ(run.exitCode, expect.at("exit").get<int>());
    const std::pair<const char*, const std::vector<std::string>*> seen[] = {
        {"stdout", &run.out}, {"stderr", &run.err}, {"log", &run.log}};
    for (const auto& [key, lines] : seen) {
        if (expect.contains(key)) {
            EXPECT_EQ(*lines, expect[key].get<std::vector<std::string>>()) << key;
        }
    }
    if (expect.contains("eeprom")) {
        EXPECT_EQ(EepromDigest(home.Eeprom()), expect["eeprom"].get<std::string>());
    }
}

INSTANTIATE_TEST_SUITE_P(Recordings, Recording, ::testing::ValuesIn(RecordingNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// The ones made from the simulated speaker are all there, and they say something.
TEST(Recordings, HoldWhatTheSimulatedSpeakerWasAsked) {
    for (const MadeCase& c : kMade) {
        SCOPED_TRACE(c.name);
        const nlohmann::json expect = Expectation(c.name);
        ASSERT_TRUE(expect.is_object());
        EXPECT_EQ(expect["scenario"], c.scenario);
        EXPECT_EQ(expect["args"], c.args);
        EXPECT_FALSE(expect["stdout"].empty() && expect["stderr"].empty());
        EXPECT_FALSE(expect["log"].empty());
    }
    EXPECT_EQ(Expectation("flash-unplugged")["exit"], 3); // the burn failed
    // A status leaves the EEPROM as it was; the set and the burn cut off do not.
    for (const auto& [name, changed] :
         {std::pair{"status-enabled", false}, std::pair{"set-enable", true},
          std::pair{"flash-unplugged", true}}) {
        SCOPED_TRACE(name);
        const nlohmann::json expect = Expectation(name);
        const std::vector<uint8_t> initial = InitialEeprom(expect["scenario"]);
        const std::string digest =
            dormane::journal::DigestOf(initial.data(), static_cast<uint32_t>(initial.size()));
        EXPECT_EQ(expect["eeprom"] != digest, changed);
    }
}

// One byte changed in a request the program sends: the replay ends at that line with
// exit status 6 and says so.
TEST(Recordings, OneChangedByteFailsNamingTheLine) {
    const std::vector<std::string> lines = [] {
        std::istringstream in(testsupport::ReadText(kRecordings + "/status-enabled.jsonl"));
        std::vector<std::string> all;
        for (std::string line; std::getline(in, line);)
            all.push_back(line);
        return all;
    }();
    // The 300th write transfer that carries data, well inside the attach.
    size_t index = 0;
    for (size_t i = 1, seen = 0; i < lines.size() && index == 0; ++i)
        if (lines[i].find("\"bmRequestType\":\"0x40\"") != std::string::npos &&
            lines[i].find("\"wLength\":16") != std::string::npos && ++seen == 300)
            index = i;
    ASSERT_NE(index, 0u);
    std::vector<std::string> changed = lines;
    const size_t out = changed[index].find("\"out\":\"") + 7;
    changed[index][out + 1] = changed[index][out + 1] == '0' ? '1' : '0';

    Home home;
    const std::string file = home.Eeprom() + ".jsonl";
    std::ostringstream text;
    for (const std::string& line : changed)
        text << line << "\n";
    testsupport::WriteText(file, text.str());
    for (const char* json : {"", "--json "}) {
        SCOPED_TRACE(json);
        const CliRun run =
            home.Cli(std::string(json) + "--simulate=replay=" + ShellQuote(file), "status");
        EXPECT_EQ(run.exitCode, 6);
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.back().rfind("dormane-cli: replay diverged at line " +
                                           std::to_string(index + 1) + " of ",
                                       0),
                  0u)
            << run.err.back();
        if (*json) {
            ASSERT_FALSE(run.out.empty());
            const auto last = nlohmann::json::parse(run.out.back());
            EXPECT_EQ(last["status"], 6);
        }
    }
}

// --record-again: records kMade from the simulated speaker into the source folder.
int RecordAgain() {
    for (const MadeCase& c : kMade) {
        Home home;
        if (!dormane::imagebuilder::WriteFile(home.Eeprom(), InitialEeprom(c.scenario)))
            return 1;
        const std::string recording = kRecordings + "/" + c.name + ".jsonl";
        const CliRun run = home.Cli(
            ShellQuote("--simulate=clock=virtual,eeprom-file=" + home.Eeprom() + "," + c.scenario) +
                " --record " + ShellQuote(recording),
            c.args);
        const nlohmann::json expect{{"scenario", c.scenario},
                                    {"args", c.args},
                                    {"exit", run.exitCode},
                                    {"stdout", run.out},
                                    {"stderr", run.err},
                                    {"log", run.log},
                                    {"eeprom", EepromDigest(home.Eeprom())}};
        testsupport::WriteText(kRecordings + "/" + c.name + ".expect.json", expect.dump(2) + "\n");
        std::cout << c.name << ": exit " << run.exitCode << "\n";
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--record-again") == 0)
        return RecordAgain();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
