// dormane-cli on Linux: set over HTTPS from a local mirror with a CA of the test's own, and
// the support report read back with tar.
#include "../engine/ShellRunner.h"
#include "CliFixture.h"

using namespace clitest;

namespace {

// A private CA and a server certificate for 127.0.0.1, made with openssl for this test.
bool MakeCertificates(const std::string& d) {
    using dormane::test::RunProgram;
    const std::string ssl = DORMANE_TEST_OPENSSL;
    dormane::test::WriteFileBytes(d + "/server.ext",
                                  "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
    return RunProgram({ssl, "req", "-x509", "-newkey", "ec", "-pkeyopt",
                       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", d + "/ca.key", "-out",
                       d + "/ca.pem", "-days", "2", "-subj", "/CN=Dormane CLI test CA"}) == 0 &&
           RunProgram({ssl, "req", "-new", "-newkey", "ec", "-pkeyopt",
                       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", d + "/server.key",
                       "-out", d + "/server.csr", "-subj", "/CN=127.0.0.1"}) == 0 &&
           RunProgram({ssl, "x509", "-req", "-in", d + "/server.csr", "-CA", d + "/ca.pem",
                       "-CAkey", d + "/ca.key", "-set_serial", "7", "-days", "2", "-out",
                       d + "/server.pem", "-extfile", d + "/server.ext"}) == 0;
}

TEST_F(CliOnSimulator, SetDownloadsOverHttpsAndBurnsTheImage) {
    const std::string certs = dir_ / "certs";
    std::filesystem::create_directories(certs);
    ASSERT_TRUE(MakeCertificates(certs));
    dormane::test::ChildProcess server({DORMANE_TEST_PYTHON, DORMANE_TEST_SERVER_SCRIPT, "--root",
                                        kFirmwareDir, "--cert", certs + "/server.pem", "--key",
                                        certs + "/server.key"});
    ASSERT_TRUE(server.Started());
    const std::string port = server.ReadLine();
    ASSERT_FALSE(port.empty());

    const auto r =
        RunWithEnv("set disable --firmware-base-url " + Quote("https://127.0.0.1:" + port) +
                       " --ca-file " + Quote(certs + "/ca.pem"),
                   "fw=0813");
    ASSERT_EQ(r.exitCode, 0) << r.out << Stderr();
    const auto image = Bytes(kNonStandby);
    const auto eeprom = Bytes(eeprom_);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), eeprom.begin()));
    // The downloaded file is the one that was burned.
    EXPECT_EQ(Bytes(dir_ / "data/Temp/VanteqUpdate.bin"), image);

    // Without the CA the server is not trusted: a download failure, nothing written.
    const auto untrusted =
        RunWithEnv("set enable --firmware-base-url " + Quote("https://127.0.0.1:" + port));
    EXPECT_EQ(untrusted.exitCode, 4) << untrusted.out;
    EXPECT_NE(Stderr().find("The download failed: the server's certificate is not trusted"),
              std::string::npos)
        << Stderr();
    EXPECT_EQ(Bytes(eeprom_), eeprom);
}

// doctor --report: the archive holds what README lists, read back with tar.
TEST_F(CliOnSimulator, DoctorReportHoldsWhatABugReportNeeds) {
    std::filesystem::create_directories(dir_ / "config/Voxtrel");
    testsupport::WriteText(dir_ / "config/Voxtrel/FWUpdateTool.conf",
                           "[General]\nEnableLog=1\nLogType=1\n");
    // A recorded burn: a backup and a recording. A burn that was cut off leaves its journal.
    const auto burn = RunWithEnv(
        "--record " + Quote(dir_ / "burn.jsonl") + " flash " + Quote(kNonStandby), "fw=0813");
    ASSERT_EQ(burn.exitCode, 0) << burn.out << Stderr();
    const std::string journal = "burn-0123456789abcdef.txt";
    std::filesystem::create_directories(dir_ / "state/dormane/journal");
    testsupport::WriteText(dir_ / ("state/dormane/journal/" + journal),
                           "speaker=sim-eeprom:x\nstarted=2026-01-02 03:04:05\n");
    const std::string report = dir_ / "report.tar.gz";
    const auto r = RunWithEnv("--json doctor --firmware-base-url " +
                              Quote("file://" + kFirmwareDir) + " --report " + Quote(report));
    const auto doctor = nlohmann::json::parse(r.out);
    ASSERT_TRUE(doctor.contains("report")) << r.out << Stderr();
    const auto listing =
        testsupport::RunShell("tar -tzf " + Quote(report) + " | LC_ALL=C sort").out;
    EXPECT_EQ(listing, "dormane-report/VXFWUpdate.log\n"
                       "dormane-report/about.json\n"
                       "dormane-report/backups.json\n"
                       "dormane-report/doctor.json\n"
                       "dormane-report/journal/" +
                           journal +
                           "\n"
                           "dormane-report/recording/burn.jsonl\n");
    auto member = [&](const std::string& name) {
        return testsupport::RunShell("tar -xzOf " + Quote(report) + " dormane-report/" + name).out;
    };
    // doctor.json is the run's own result, without the report's note about itself.
    nlohmann::json withoutReport = doctor;
    withoutReport.erase("report");
    EXPECT_EQ(nlohmann::json::parse(member("doctor.json")), withoutReport);
    const auto about = nlohmann::json::parse(member("about.json"));
    EXPECT_EQ(about["program"], "dormane-cli");
    EXPECT_EQ(about["usbBackend"], "simulated");
    for (const char* library : {"usb", "curl", "archive"})
        EXPECT_FALSE(about["libraries"][library].get<std::string>().empty()) << library;
    // The backups are listed, not included.
    const auto backups = nlohmann::json::parse(member("backups.json"));
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0]["fwVersion"], "0813");
    EXPECT_EQ(backups[0]["bytes"],
              std::filesystem::file_size(
                  dir_ / ("state/dormane/backups/" + backups[0]["name"].get<std::string>())));
    EXPECT_EQ(member("recording/burn.jsonl"), testsupport::ReadText(dir_ / "burn.jsonl"));
    EXPECT_EQ(member("journal/" + journal),
              testsupport::ReadText(dir_ / ("state/dormane/journal/" + journal)));
    EXPECT_NE(member("VXFWUpdate.log").find("FWUpdateInterface::Init"), std::string::npos);
}

TEST_F(CliOnSimulator, DoctorReportThatCannotBeWrittenFails) {
    const std::string report = dir_ / "no/such/folder/report.tar.gz";
    const auto r = RunWithEnv("doctor --firmware-base-url " + Quote("file://" + kFirmwareDir) +
                              " --report " + Quote(report));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(Stderr().find("the support report could not be written: cannot create " + report),
              std::string::npos)
        << Stderr();
    EXPECT_FALSE(std::filesystem::exists(report));
}

} // namespace
