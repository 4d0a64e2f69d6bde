#include "DebugOutput.h"
#include "Log.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using testsupport::LogCapture;
using testsupport::ReadText;
using testsupport::TempDir;
using testsupport::WriteText;

namespace {

struct LineCase {
    const char* name;
    int month, day, hour, minute, second;
    const char* expected;
};

class LogLineFormat : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogLineFormat, HasNoLeadingZeros) {
    const LineCase& c = GetParam();
    std::tm t{};
    t.tm_mon = c.month - 1;
    t.tm_mday = c.day;
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    t.tm_sec = c.second;
    EXPECT_EQ(FormatLogLine(t, "msg"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, LogLineFormat,
    ::testing::Values(LineCase{"July", 7, 3, 9, 5, 3, "[7/3 9:5:3] msg\n"},
                      LineCase{"NewYearsEve", 12, 31, 23, 59, 59, "[12/31 23:59:59] msg\n"},
                      LineCase{"Midnight", 1, 1, 0, 0, 0, "[1/1 0:0:0] msg\n"}),
    [](const auto& info) { return info.param.name; });

TEST(LogTruncation, CountsCharactersNotBytes) {
    EXPECT_EQ(TruncateLogMessage(std::string(259, 'a')).size(), 259u);
    EXPECT_EQ(TruncateLogMessage(std::string(300, 'a')).size(), 259u);
    std::string accented;
    for (int i = 0; i < 300; ++i)
        accented += "\xC3\xA9"; // é, two bytes
    const std::string cut = TruncateLogMessage(accented);
    EXPECT_EQ(cut.size(), 2u * 259u) << "a character must never be split";
}

TEST(WriteLog, AppendsTimestampedLinesToTheFile) {
    LogCapture log;
    WriteLog("first %d", 1);
    WriteLog("second 0x%X", 0x40u);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{"first 1", "second 0x40"}));
}

TEST(WriteLog, LongMessageIsCutTo259Characters) {
    LogCapture log;
    WriteLog("%s", std::string(400, 'x').c_str());
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(log.Messages()[0].size(), 259u);
}

TEST(WriteLog, DisabledWritesNothing) {
    TempDir dir;
    const LogSettings previous = GetLogSettings();
    SetLogSettings({false, true, dir / "x.log"});
    WriteLog("nothing");
    SetLogSettings(previous);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.log"));
}

// LogType 0: the debugger output, which a user never sees on the terminal unless asked.
TEST(WriteLog, DebuggerOutputModeWritesTheMessageAloneAndNoFile) {
    TempDir dir;
    const LogSettings previous = GetLogSettings();
    SetLogSettings({true, false, dir / "x.log"});
    ::testing::internal::CaptureStderr();
    WriteLog("UpdateManager::Initialize  return 0x%X", 0u);
    const std::string quiet = ::testing::internal::GetCapturedStderr();
    dormane::SetDebugOutputEcho(true);
    ::testing::internal::CaptureStderr();
    WriteLog("UpdateManager::Initialize  return 0x%X", 0u);
    const std::string echoed = ::testing::internal::GetCapturedStderr();
    dormane::SetDebugOutputEcho(false);
    SetLogSettings(previous);
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(echoed, "UpdateManager::Initialize  return 0x0\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "x.log"));
}

TEST(WriteLog, LinesFromTwoThreadsStayWhole) {
    LogCapture log;
    auto writer = [](char c) {
        const std::string text(200, c);
        for (int i = 0; i < 200; ++i)
            WriteLog("%s", text.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const auto lines = log.Messages();
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines)
        EXPECT_TRUE(line == std::string(200, 'a') || line == std::string(200, 'b')) << line;
}

} // namespace
