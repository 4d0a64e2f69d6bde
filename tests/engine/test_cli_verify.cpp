#include "CliRunner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using testsupport::RunCliArgs;
using testsupport::TempDir;
using testsupport::WriteImage;

namespace {

const std::string kStandbySample = std::string(DORMANE_FIRMWARE_DIR) +
                                   "/pm/pm_firmware/pelko_zuro/pelko_z_standby_V8.13_000E6094h.bin";

TEST(CliVerify, JsonReportsTheRecordOfTheSampleImage) {
    const auto r = RunCliArgs({"verify", "--json", kStandbySample});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["status"], 0);
    EXPECT_EQ(j["FWVer"], 0x0813);
    EXPECT_EQ(j["VID"], 0x0D8C);
    EXPECT_EQ(j["PID"], 0x0082);
    EXPECT_EQ(j["CHIP"], 0x6501);
    EXPECT_EQ(j["ChipVer"], 0);
    EXPECT_EQ(j["TotalSize"], 0x3240);
    EXPECT_EQ(j["ImageStart"], 0x240);
    EXPECT_EQ(j["ImageSize"], 0x2E00);
    for (const char* key : {"status", "TotalSize", "ImageStart", "ImageSize", "CHIP", "VID", "PID",
                            "ChipVer", "FWVer", "InfoCheckSum"})
        EXPECT_TRUE(j.contains(key) && j[key].is_number_integer()) << key;
    EXPECT_EQ(j.size(), 10u);
}

struct ExitCase {
    const char* name;
    std::function<std::string(const TempDir&)> file;
    int exitCode;
};

class CliVerifyExit : public ::testing::TestWithParam<ExitCase> {};

TEST_P(CliVerifyExit, ExitStatusIsTheReadersStatus) {
    TempDir dir;
    const std::string file = GetParam().file(dir);
    const auto r = RunCliArgs({"verify", "--json", file});
    EXPECT_EQ(r.exitCode, GetParam().exitCode);
    const auto j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    EXPECT_EQ(j["status"], GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CliVerifyExit,
    ::testing::Values(ExitCase{"Valid", [](const TempDir&) { return kStandbySample; }, 0},
                      ExitCase{"Missing", [](const TempDir& d) { return d / "missing.bin"; }, 32},
                      ExitCase{"BadChecksum",
                               [](const TempDir& d) {
                                   return WriteImage(
                                       d, "b.bin",
                                       dormane::imagebuilder::BuildSampleImageBroken(0x0803));
                               },
                               128},
                      ExitCase{"Empty", [](const TempDir& d) { return WriteImage(d, "e.bin", {}); },
                               128}),
    [](const auto& info) { return info.param.name; });

TEST(CliVerify, PlainOutputEndsWithTheStatus) {
    const auto r = RunCliArgs({"verify", kStandbySample});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("FWVer: 0813\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("status: 0 (valid firmware image)\n"), std::string::npos) << r.out;
}

TEST(CliVerify, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunCliArgs({"verify"}).exitCode, 2);
    EXPECT_EQ(RunCliArgs({"no-such-command"}).exitCode, 2);
    EXPECT_EQ(RunCliArgs({}).exitCode, 2);
    const auto help = RunCliArgs({"verify", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("FILE"), std::string::npos);
}

} // namespace
