// dormane-cli on Linux as a hostile world meets it: signals in the middle of a burn, and
// FIFOs where files belong.
#include "../engine/ShellRunner.h"
#include "BurnSafetyFixture.h"

#include <sys/stat.h>

#include <csignal>

using namespace burnsafety;
using testsupport::RunShell;

namespace {

// The fixture's variables as env(1) takes them, for the runs that need a shell.
std::string EnvText(const testsupport::Environment& env) {
    std::string text;
    for (const auto& [name, value] : env)
        if (value)
            text += name + "=" + Quote(*value) + " ";
    return text;
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
    const auto cli = Background({"--simulate=" + Scenario(true), "flash", file}, "cli.err");
    ASSERT_TRUE(cli->WaitForLine("progress")) << cli->Output() << Stderr("cli.err");
    if (c.closeOutput)
        cli->CloseOutput();
    if (c.signal != 0) {
        ASSERT_EQ(kill(cli->Id(), c.signal), 0);
    }

    EXPECT_EQ(cli->Wait(), 0) << cli->Output() << Stderr("cli.err");
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

// ---------------------------------------------------------------- FIFOs where files belong

TEST_F(BurnSafety, AFifoAsTheImageIsRefusedAtOnce) {
    const std::string fifo = dir_ / "image.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto before = Bytes(eeprom_);
    // timeout ends a CLI that would wait for a writer that never comes (exit 124).
    const auto r = RunShell("env " + EnvText(Env()) + "timeout 60 " + Quote(DORMANE_CLI_PATH) +
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
        RunShell("env " + EnvText(Env()) + "timeout 60 " + Quote(DORMANE_CLI_PATH) +
                 " --simulate=" + Quote(Scenario(false)) + " status 2>" + Quote(dir_ / "stderr"));
    EXPECT_EQ(r.exitCode, 0) << r.out << Stderr();
    EXPECT_NE(r.out.find("firmware: 0813"), std::string::npos) << r.out;
}

} // namespace
