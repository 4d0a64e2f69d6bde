// dormane-cli as a hostile user and a flaky world meet it: two burns of one speaker at once,
// signals in the middle of a burn, a burn killed outright, a damaged speaker, images that are
// not the one asked for, and FIFOs where files belong. Burns run on the real clock here, so
// that there is a moment in the middle of one to interfere with.
#include "../engine/ShellRunner.h"
#include "../engine/TestSupport.h"
#include "TestPlatform.h"

#include "SpeakerLock.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>

using dormane::imagebuilder::Descriptor;
using dormane::imagebuilder::ImageSpec;
using testsupport::RunShell;
using testsupport::TempDir;

namespace {

const std::string kFirmwareDir = DORMANE_FIRMWARE_DIR;
constexpr uint32_t kEepromSize = 16384;

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

std::vector<uint8_t> Bytes(const std::string& path) {
    const std::string text = testsupport::ReadText(path);
    return {text.begin(), text.end()};
}

// An image of the speaker's identity with this TotalSize; the fill seed tells two apart.
std::vector<uint8_t> Image(uint32_t total, uint16_t fw, uint32_t seed, uint16_t vid = 0x0D8C) {
    ImageSpec layout;
    layout.descriptors = {Descriptor::Image(0x40, total - 0x40)};
    layout.fwVer = fw;
    layout.vid = vid;
    layout.fillSeed = seed;
    return dormane::imagebuilder::Build(layout);
}

bool StartsWith(const std::vector<uint8_t>& eeprom, const std::vector<uint8_t>& image) {
    return eeprom.size() >= image.size() && std::equal(image.begin(), image.end(), eeprom.begin());
}

// dormane-cli started in the background: standard output is a pipe the test reads line by
// line, standard error a file. Killed should the test die first.
class BackgroundCli {
public:
    BackgroundCli(const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env, const std::string& errFile) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            for (const auto& [name, value] : env)
                setenv(name.c_str(), value.c_str(), 1);
            dup2(out[1], STDOUT_FILENO);
            const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err, STDERR_FILENO);
            std::vector<char*> argv;
            std::string program = DORMANE_CLI_PATH;
            argv.push_back(program.data());
            std::vector<std::string> copy = args;
            for (std::string& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
    }
    ~BackgroundCli() {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        CloseOutput();
    }
    BackgroundCli(const BackgroundCli&) = delete;
    BackgroundCli& operator=(const BackgroundCli&) = delete;

    pid_t Pid() const { return m_pid; }

    // Reads standard output until a line starts with prefix; false at its end or after 60 s.
    bool WaitForLine(const std::string& prefix) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            size_t newline;
            while ((newline = m_buffer.find('\n')) != std::string::npos) {
                const std::string line = m_buffer.substr(0, newline);
                m_buffer.erase(0, newline + 1);
                m_lines += line + "\n";
                if (line.rfind(prefix, 0) == 0)
                    return true;
            }
            if (!ReadSome(1000))
                return false;
        }
        return false;
    }
    // The process no longer has a reader for its output: as after "| head -1".
    void CloseOutput() {
        if (m_out >= 0)
            close(m_out);
        m_out = -1;
    }
    // Reads what is left of standard output and waits for the end; the exit status, or 128
    // plus the signal that ended it.
    int Wait() {
        while (m_out >= 0 && ReadSome(60000)) {
        }
        int status = 0;
        if (waitpid(m_pid, &status, 0) != m_pid)
            return -1;
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Output() const { return m_lines + m_buffer; }

private:
    bool ReadSome(int timeoutMs) {
        if (m_out < 0)
            return false;
        pollfd p{m_out, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return false;
        char chunk[4096];
        const ssize_t n = read(m_out, chunk, sizeof chunk);
        if (n <= 0) {
            CloseOutput();
            return false;
        }
        m_buffer.append(chunk, static_cast<size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    bool m_reaped = false;
    std::string m_buffer;
    std::string m_lines;
};

// Private folders, a lock folder of the test's own, and a simulated speaker whose EEPROM is a
// file that starts with a small image of firmware 8.13.
class BurnSafety : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "locks");
        std::vector<uint8_t> content(kEepromSize, 0xFF);
        const auto start = Image(0x200, 0x0813, 99);
        std::copy(start.begin(), start.end(), content.begin());
        dormane::imagebuilder::WriteFile(eeprom_, content);
    }

    std::map<std::string, std::string> Env() const {
        return {{"XDG_CONFIG_HOME", dir_ / "config"},
                {"XDG_STATE_HOME", dir_ / "state"},
                {"XDG_DATA_HOME", dir_ / "data"},
                {"TMPDIR", dir_.path()},
                {dormane::kLockFolderVariable, dir_ / "locks"}};
    }
    std::string EnvText() const {
        std::string text;
        for (const auto& [name, value] : Env())
            text += name + "=" + Quote(value) + " ";
        return text;
    }
    // The scenario: real time (the virtual clock would end a burn before anyone can
    // interfere), or the virtual clock where the timing does not matter.
    std::string Scenario(bool realClock, const std::string& extra = "") const {
        return std::string("clock=") + (realClock ? "real" : "virtual") +
               ",eeprom-file=" + eeprom_ + (extra.empty() ? "" : "," + extra);
    }
    testsupport::CliResult Run(const std::string& args, const std::string& scenario) {
        return testsupport::RunCli("--simulate=" + Quote(scenario) + " " + args + " 2>" +
                                       Quote(dir_ / "stderr"),
                                   EnvText());
    }
    std::string Stderr(const std::string& name = "stderr") const {
        return testsupport::ReadText(dir_ / name);
    }
    std::string WriteImage(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string path = dir_ / name;
        dormane::imagebuilder::WriteFile(path, bytes);
        return path;
    }

    TempDir dir_;
    std::string eeprom_ = dir_ / "speaker.eeprom";
};

// ---------------------------------------------------------------- one burn at a time

TEST_F(BurnSafety, ASecondBurnOfTheSameSpeakerIsRefusedAndTheFirstOneWins) {
    // The burn writes in a hundred steps that cross the EEPROM's pages, byte by byte up to
    // each page boundary: 2 KB take several seconds.
    const auto first = Image(0x800, 0x0803, 1);
    const auto second = Image(0x800, 0x0803, 2);
    const std::string firstFile = WriteImage("first.bin", first);
    const std::string secondFile = WriteImage("second.bin", second);
    // Slow enough that the first burn outlasts the second one's wait for the speaker.
    BackgroundCli burning({"--simulate=" + Scenario(true, "latency-us=600"), "flash", firstFile},
                          Env(), dir_ / "first.err");
    ASSERT_TRUE(burning.WaitForLine("progress")) << burning.Output() << Stderr("first.err");

    // A second burn and a status at the same time: both wait a few seconds for the speaker,
    // then give up without touching it.
    const std::string holder = "PID " + std::to_string(burning.Pid()) + " (dormane-cli)";
    BackgroundCli flash({"--simulate=" + Scenario(true), "flash", secondFile}, Env(),
                        dir_ / "second.err");
    BackgroundCli status({"--simulate=" + Scenario(true), "status"}, Env(), dir_ / "status.err");
    EXPECT_EQ(flash.Wait(), 5) << flash.Output() << Stderr("second.err");
    EXPECT_NE(Stderr("second.err").find("busy: " + holder), std::string::npos)
        << Stderr("second.err");
    EXPECT_EQ(status.Wait(), 5) << status.Output() << Stderr("status.err");

    EXPECT_EQ(burning.Wait(), 0) << burning.Output() << Stderr("first.err");
    EXPECT_NE(burning.Output().find("written and verified"), std::string::npos);
    EXPECT_TRUE(StartsWith(Bytes(eeprom_), first));
    // Nothing of the refused image, nor a backup of it.
    std::error_code ec;
    size_t backups = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_ / "state/dormane/backups", ec)) {
        (void)e;
        ++backups;
    }
    EXPECT_EQ(backups, 1u);
}

// ---------------------------------------------------------------- signals

struct SignalCase {
    const char* name;
    int signal;       // sent in the middle of the burn; 0: none
    bool closeOutput; // the reader of standard output goes away, as "| head -1" does
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class BurnUnderSignal : public BurnSafety, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(BurnUnderSignal, FinishesTheBurnAndExitsWithItsResult) {
    const SignalCase& c = GetParam();
    const auto image = Image(0x180, 0x0803, 3);
    const std::string file = WriteImage("fw.bin", image);
    BackgroundCli cli({"--simulate=" + Scenario(true), "flash", file}, Env(), dir_ / "cli.err");
    ASSERT_TRUE(cli.WaitForLine("progress")) << cli.Output() << Stderr("cli.err");
    if (c.closeOutput)
        cli.CloseOutput();
    if (c.signal != 0) {
        ASSERT_EQ(kill(cli.Pid(), c.signal), 0);
    }

    EXPECT_EQ(cli.Wait(), 0) << cli.Output() << Stderr("cli.err");
    EXPECT_TRUE(StartsWith(Bytes(eeprom_), image));
    if (c.signal == SIGINT || c.signal == SIGTERM) {
        EXPECT_NE(Stderr("cli.err").find("cannot be stopped"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BurnUnderSignal,
                         ::testing::Values(SignalCase{"TerminalClosed", SIGHUP, false},
                                           SignalCase{"BrokenPipe", SIGPIPE, false},
                                           SignalCase{"ReaderGone", 0, true},
                                           SignalCase{"ReaderGoneThenHangUp", SIGHUP, true},
                                           SignalCase{"Quit", SIGQUIT, false},
                                           SignalCase{"PoliteKill", SIGTERM, false},
                                           SignalCase{"Interrupt", SIGINT, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- always a way back

TEST_F(BurnSafety, AKilledBurnLeavesAJournalThatNamesTheWayBack) {
    const auto before = Bytes(eeprom_);
    const std::string file = WriteImage("fw.bin", Image(0x2000, 0x0803, 4));
    {
        BackgroundCli cli({"--simulate=" + Scenario(true), "flash", file}, Env(), dir_ / "cli.err");
        ASSERT_TRUE(cli.WaitForLine("progress 5")) << cli.Output() << Stderr("cli.err");
        ASSERT_EQ(kill(cli.Pid(), SIGKILL), 0); // beyond any handler: as a power loss
        EXPECT_EQ(cli.Wait(), 128 + SIGKILL);
    }
    // Half an image: the speaker's firmware is damaged, and the last burn did not finish.
    const auto status = Run("status", Scenario(false));
    EXPECT_EQ(status.exitCode, 128) << status.out << Stderr();
    EXPECT_NE(status.out.find("firmware is damaged"), std::string::npos) << status.out;
    const std::string told = Stderr();
    EXPECT_NE(told.find("did not finish"), std::string::npos) << told;

    // The exact command it names, run as it stands, puts the speaker back as it was.
    const std::string marker = "keep the speaker on and run: ";
    const size_t at = told.find(marker);
    ASSERT_NE(at, std::string::npos) << told;
    const std::string command =
        told.substr(at + marker.size(), told.find('\n', at) - (at + marker.size()));
    EXPECT_EQ(command.rfind("dormane-cli --simulate=", 0), 0u) << command;
    const std::string restore =
        "env " + EnvText() +
        "PATH=" + Quote(std::filesystem::path(DORMANE_CLI_PATH).parent_path()) + ":\"$PATH\" " +
        command + " 2>" + Quote(dir_ / "restore.err");
    const auto restored = RunShell(restore);
    ASSERT_EQ(restored.exitCode, 0) << restored.out << Stderr("restore.err");
    EXPECT_TRUE(StartsWith(Bytes(eeprom_), {before.begin(), before.begin() + 0x200}));
    const auto again = Run("status", Scenario(false));
    EXPECT_EQ(again.exitCode, 0) << again.out << Stderr();
    EXPECT_EQ(Stderr().find("did not finish"), std::string::npos) << Stderr();
}

TEST_F(BurnSafety, AFailedBurnNamesTheRestoreAndTheSameSetWorksAgain) {
    const std::string mirror = "--firmware-base-url " + Quote("file://" + kFirmwareDir);
    // The speaker vanishes in the middle of the writing.
    const auto failed = Run("set disable " + mirror, Scenario(false, "unplug-after=2500"));
    EXPECT_EQ(failed.exitCode, 3) << failed.out << Stderr();
    const std::string told = Stderr();
    EXPECT_NE(told.find("The burn failed"), std::string::npos) << told;
    EXPECT_NE(told.find("run: dormane-cli --simulate="), std::string::npos) << told;
    EXPECT_NE(told.find(" flash " + (dir_ / "state/dormane/backups/backup-")), std::string::npos)
        << told;

    const auto repaired = Run("set disable " + mirror, Scenario(false));
    EXPECT_EQ(repaired.exitCode, 0) << repaired.out << Stderr();
    EXPECT_TRUE(
        StartsWith(Bytes(eeprom_),
                   Bytes(kFirmwareDir +
                         "/pm/pm_firmware/pelko_zuro/pelko_z_non_standby_V8.03_000E4712h.bin")));
}

TEST_F(BurnSafety, SetRepairsADamagedSpeaker) {
    const std::string mirror = "--firmware-base-url " + Quote("file://" + kFirmwareDir);
    // No valid image: the first bytes of a burn that was cut off.
    std::vector<uint8_t> damaged(kEepromSize, 0xFF);
    damaged[0] = 'V';
    damaged[1] = 'X';
    dormane::imagebuilder::WriteFile(eeprom_, damaged);
    const auto before = Run("status", Scenario(false));
    EXPECT_EQ(before.exitCode, 128) << before.out;
    EXPECT_NE(before.out.find("Repair it with: dormane-cli --simulate="), std::string::npos)
        << before.out;

    const auto r = Run("set enable " + mirror, Scenario(false));
    EXPECT_EQ(r.exitCode, 0) << r.out << Stderr();
    EXPECT_NE(r.out.find("damaged"), std::string::npos) << r.out;
    EXPECT_TRUE(StartsWith(
        Bytes(eeprom_),
        Bytes(kFirmwareDir + "/pm/pm_firmware/pelko_zuro/pelko_z_standby_V8.13_000E6094h.bin")));
    EXPECT_EQ(Run("status", Scenario(false)).exitCode, 0);
}

// ---------------------------------------------------------------- only the image asked for

struct RefusedImageCase {
    const char* name;
    const char* command; // {file} is replaced by the image's path
    bool damagedSpeaker;
    std::vector<uint8_t> (*image)();
    int exitCode;
    const char* message;
};

void PrintTo(const RefusedImageCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedImage : public BurnSafety, public ::testing::WithParamInterface<RefusedImageCase> {};

TEST_P(RefusedImage, WritesNothingAndSaysWhy) {
    const RefusedImageCase& c = GetParam();
    if (c.damagedSpeaker) {
        std::vector<uint8_t> damaged(kEepromSize, 0xFF);
        damaged[0] = 'X';
        dormane::imagebuilder::WriteFile(eeprom_, damaged);
    }
    const auto before = Bytes(eeprom_);
    std::string command = c.command;
    command.replace(command.find("{file}"), 6, Quote(WriteImage("image.bin", c.image())));
    const auto r = Run(command, Scenario(false));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << Stderr();
    EXPECT_NE(Stderr().find(c.message), std::string::npos) << Stderr();
    EXPECT_EQ(Bytes(eeprom_), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedImage,
    ::testing::Values(
        RefusedImageCase{"AlwaysOnImageForEnable", "set enable --force --file {file}", false,
                         [] { return Image(0x400, 0x0803, 5); }, 64,
                         "the image holds firmware 0803, not the 8.13 that enable needs"},
        RefusedImageCase{"StandbyImageForDisable", "set disable --file {file}", false,
                         [] { return Image(0x400, 0x0813, 5); }, 64,
                         "the image holds firmware 0813, not the 8.03 that disable needs"},
        RefusedImageCase{"WrongModeOverADamagedSpeaker", "set disable --file {file}", true,
                         [] { return Image(0x400, 0x0813, 5); }, 64, "not the 8.03"},
        RefusedImageCase{"ForeignVendorOverADamagedSpeaker", "flash {file}", true,
                         [] { return Image(0x400, 0x0803, 5, 0x1234); }, 64,
                         "built for USB vendor 1234"},
        RefusedImageCase{"TruncatedImage", "flash {file}", false,
                         [] {
                             auto bytes = Image(0x400, 0x0803, 5);
                             bytes.resize(0x3F0);
                             return bytes;
                         },
                         128, "invalid"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BurnSafety, ABackupThatCannotBeSavedStopsTheBurnAndIsNamed) {
    // A regular file where the state folder has to be: no backup folder can be made below it.
    testsupport::WriteText(dir_ / "blocker", "x");
    const auto before = Bytes(eeprom_);
    const std::string file = WriteImage("fw.bin", Image(0x400, 0x0803, 7));
    const auto r = RunShell("env " + EnvText() + "XDG_STATE_HOME=" + Quote(dir_ / "blocker") + " " +
                            Quote(DORMANE_CLI_PATH) + " --simulate=" + Quote(Scenario(false)) +
                            " flash " + Quote(file) + " 2>" + Quote(dir_ / "stderr"));
    EXPECT_EQ(r.exitCode, 1) << r.out << Stderr();
    EXPECT_NE(Stderr().find("the backup of the speaker's firmware could not be saved: cannot "
                            "create the folder " +
                            (dir_ / "blocker/dormane/backups")),
              std::string::npos)
        << Stderr();
    EXPECT_EQ(Bytes(eeprom_), before);
}

// NACKs are the EEPROM's write cycle, retried as a matter of course: a developer's
// business, shown on standard error only with --trace.
TEST_F(BurnSafety, TheTransportsNacksStayOffTheTerminalUnlessTraced) {
    const std::string file = WriteImage("fw.bin", Image(0x400, 0x0803, 8));
    const auto quiet = Run("flash " + Quote(file), Scenario(false, "nack=20"));
    EXPECT_EQ(quiet.exitCode, 0) << quiet.out << Stderr();
    EXPECT_EQ(Stderr().find("NACK!!"), std::string::npos) << Stderr();
    const auto traced = Run("--trace flash " + Quote(file), Scenario(false, "nack=20"));
    EXPECT_EQ(traced.exitCode, 0) << traced.out << Stderr();
    EXPECT_NE(Stderr().find("NACK!!"), std::string::npos);
}

TEST_F(BurnSafety, FlashSaysWhichSettingTheImageGives) {
    const std::string file = WriteImage("fw.bin", Image(0x400, 0x0803, 6));
    const auto r = Run("flash " + Quote(file), Scenario(false));
    EXPECT_EQ(r.exitCode, 0) << r.out << Stderr();
    EXPECT_NE(r.out.find("Writing auto-standby disabled (firmware 8.03: always on)"),
              std::string::npos)
        << r.out;
}

// ---------------------------------------------------------------- FIFOs where files belong

TEST_F(BurnSafety, AFifoAsTheImageIsRefusedAtOnce) {
    const std::string fifo = dir_ / "image.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto before = Bytes(eeprom_);
    // timeout ends a CLI that would wait for a writer that never comes (exit 124).
    const auto r = RunShell("env " + EnvText() + "timeout 60 " + Quote(DORMANE_CLI_PATH) +
                            " --simulate=" + Quote(Scenario(false)) + " flash " + Quote(fifo) +
                            " 2>" + Quote(dir_ / "stderr"));
    EXPECT_EQ(r.exitCode, 32) << r.out << Stderr();
    EXPECT_EQ(Bytes(eeprom_), before);
}

TEST_F(BurnSafety, AFifoAsTheLogFileCannotHangTheProgram) {
    std::filesystem::create_directories(dir_ / "config/Voxtrel");
    testsupport::WriteText(dir_ / "config/Voxtrel/FWUpdateTool.conf",
                           "[General]\nEnableLog=1\nLogType=1\n");
    const std::string fifo = dir_ / "VXFWUpdate.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto r =
        RunShell("env " + EnvText() + "timeout 60 " + Quote(DORMANE_CLI_PATH) +
                 " --simulate=" + Quote(Scenario(false)) + " status 2>" + Quote(dir_ / "stderr"));
    EXPECT_EQ(r.exitCode, 0) << r.out << Stderr();
    EXPECT_NE(r.out.find("firmware: 0813"), std::string::npos) << r.out;
}

} // namespace
