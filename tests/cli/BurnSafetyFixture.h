#pragma once

// dormane-cli's burn safety end to end: the fixture and helpers the tests share. Burns run on
// the real clock here, so that there is a moment in the middle of one to interfere with.
#include "../engine/CliRunner.h"
#include "../engine/TestSupport.h"
#include "FileSystem.h"
#include "SpeakerLock.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace burnsafety {

using dormane::imagebuilder::Descriptor;
using dormane::imagebuilder::ImageSpec;
using testsupport::TempDir;

inline const std::string kFirmwareDir = DORMANE_FIRMWARE_DIR;
inline constexpr uint32_t kEepromSize = 16384;

inline std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

inline std::vector<uint8_t> Bytes(const std::string& path) {
    const std::string text = testsupport::ReadText(path);
    return {text.begin(), text.end()};
}

// An image of the speaker's identity with this TotalSize; the fill seed tells two apart.
inline std::vector<uint8_t> Image(uint32_t total, uint16_t fw, uint32_t seed,
                                  uint16_t vid = 0x0D8C) {
    ImageSpec layout;
    layout.descriptors = {Descriptor::Image(0x40, total - 0x40)};
    layout.fwVer = fw;
    layout.vid = vid;
    layout.fillSeed = seed;
    return dormane::imagebuilder::Build(layout);
}

inline bool StartsWith(const std::vector<uint8_t>& eeprom, const std::vector<uint8_t>& image) {
    return eeprom.size() >= image.size() && std::equal(image.begin(), image.end(), eeprom.begin());
}

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

    testsupport::Environment Env() const {
        auto env = dormane::test::PrivateUserFolders::Variables(dir_.path());
        env.emplace_back("TMPDIR", dir_.path());
        env.emplace_back(dormane::kLockFolderVariable, dir_ / "locks");
        return env;
    }
    std::string BackupFolder() const {
        return dormane::files::JoinPath(dormane::test::PrivateUserFolders::DataFolder(dir_.path()),
                                        "backups");
    }
    // The scenario: real time (the virtual clock would end a burn before anyone can
    // interfere), or the virtual clock where the timing does not matter.
    std::string Scenario(bool realClock, const std::string& extra = "") const {
        return std::string("clock=") + (realClock ? "real" : "virtual") +
               ",eeprom-file=" + eeprom_ + (extra.empty() ? "" : "," + extra);
    }
    // The arguments as one line, single quotes around those with blanks (see SplitArgs);
    // standard error goes to the file "stderr".
    dormane::test::ProgramResult Run(const std::string& args, const std::string& scenario,
                                     const testsupport::Environment& more = {}) {
        std::vector<std::string> argv = {"--simulate=" + scenario};
        for (auto& arg : testsupport::SplitArgs(args))
            argv.push_back(std::move(arg));
        auto env = Env();
        env.insert(env.end(), more.begin(), more.end()); // the later setting wins
        auto result = testsupport::RunCliArgs(argv, env);
        testsupport::WriteText(dir_ / "stderr", result.err);
        return result;
    }
    // dormane-cli in the background, its standard error in the named file.
    std::unique_ptr<dormane::test::BackgroundProcess>
    Background(const std::vector<std::string>& args, const std::string& errName) const {
        std::vector<std::string> argv = {DORMANE_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<dormane::test::BackgroundProcess>(argv, Env(), dir_ / errName);
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

} // namespace burnsafety
