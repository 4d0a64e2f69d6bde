// The burn's safety on Linux: the flock on the lock file and who holds it, a lock file that
// is no regular file, and signals during a burn.
#include "SafetyFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

using namespace safetytest;

namespace {

// ---------------------------------------------------------------- the lock file itself

TEST_F(SafetyTest, ASecondHolderIsRefusedAndToldWhoHoldsTheSpeaker) {
    std::unique_ptr<SpeakerLock> first;
    SpeakerLockHolder holder;
    std::string reason;
    ASSERT_EQ(TakeSpeakerLock("k", 0, first, holder, reason), LockResult::Taken) << reason;

    // flock excludes another open of the file even within one process.
    std::unique_ptr<SpeakerLock> second;
    EXPECT_EQ(TakeSpeakerLock("k", 120, second, holder, reason), LockResult::Busy);
    EXPECT_FALSE(second);
    EXPECT_EQ(holder.pid, static_cast<long>(getpid()));
    EXPECT_EQ(holder.program, program_invocation_short_name);
    EXPECT_EQ(holder.Describe(),
              "PID " + std::to_string(getpid()) + " (" + program_invocation_short_name + ")");

    // Every user can lock the same file after us.
    struct stat st {};
    ASSERT_EQ(stat(SpeakerLockPath("k").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);

    first.reset();
    EXPECT_EQ(TakeSpeakerLock("k", 0, second, holder, reason), LockResult::Taken);
    // Another key is another speaker.
    std::unique_ptr<SpeakerLock> other;
    EXPECT_EQ(TakeSpeakerLock("other", 0, other, holder, reason), LockResult::Taken);
}

TEST_F(SafetyTest, ALockFileThatIsNoRegularFileIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo(SpeakerLockPath("fifo").c_str(), 0666), 0);
    std::unique_ptr<SpeakerLock> lock;
    SpeakerLockHolder holder;
    std::string reason;
    EXPECT_EQ(TakeSpeakerLock("fifo", 5000, lock, holder, reason), LockResult::Failed);
    EXPECT_NE(reason.find("not a regular file"), std::string::npos) << reason;
}

// ---------------------------------------------------------------- signals during a burn

TEST_F(SafetyTest, CaughtSignalsDuringABurnAreNotedAndTheHandlersComeBack) {
    Start("fw=0813");
    ASSERT_EQ(engine_->AttachDevice(kVid, kPid), 0);
    const auto image = SmallImage(0x0803, 0x1000);
    const std::string file = WriteFile("fw.bin", image);
    ClearArrivedSignal();
    bool sent = false;
    Speaker()->SetInterceptor([&](const sim::ControlRecord& rec) -> std::optional<UsbResult> {
        // In the middle of the writing: every signal that would end the process by default.
        if (!sent && IsWriteCommand(rec)) {
            sent = true;
            for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGUSR1})
                raise(signal);
        }
        return std::nullopt;
    });
    ASSERT_EQ(engine_->UpdateFirmware(file.c_str()), 0);
    EXPECT_EQ(WaitForBurn(*engine_), status::kBurnVerified);
    Speaker()->SetInterceptor(nullptr);
    EXPECT_TRUE(sent);
    EXPECT_EQ(ArrivedSignal(), SIGTERM); // the first one that asked the process to end
    const auto eeprom = Speaker()->Eeprom();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), eeprom.begin()));

    EXPECT_EQ(engine_->DetachDevice(), 0); // the burn thread has ended, and its shield
    for (int signal : {SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction now {};
        sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << "signal " << signal;
    }
    ClearArrivedSignal();
}

} // namespace
