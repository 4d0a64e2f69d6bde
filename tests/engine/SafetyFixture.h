#pragma once

// The burn-safety tests' fixture: lock files in a folder of the test's own, the simulated
// speaker's EEPROM in a file, so that it has a lock key and a journal key.
#include "SimFixture.h"

#include "BurnShield.h"
#include "FileSystem.h"
#include "Journal.h"
#include "SpeakerLock.h"

#include <filesystem>
#include <optional>

namespace safetytest {

using namespace dormane;
using testsupport::SimEngineTest;
using testsupport::WaitForBurn;

constexpr int kVid = 0x0D8C;
constexpr int kPid = 0x0082;
constexpr uint16_t kRegBlockTail = 0x90;
constexpr uint8_t kCmdWrite2 = 0xB0;

inline std::vector<uint8_t> SmallImage(uint16_t fw, uint32_t total = 0x400) {
    return testsupport::ImageOfSize(total, fw);
}

// The EEPROM write commands of the transport: the transfer that ends a block with the
// byte count (0x93) and the write command (0x94).
inline bool IsWriteCommand(const sim::ControlRecord& rec, uint8_t* count = nullptr) {
    if ((rec.bmRequestType & 0x80) || rec.wValue != kRegBlockTail || rec.data.size() != 5 ||
        rec.data[4] != kCmdWrite2)
        return false;
    if (count)
        *count = rec.data[3];
    return true;
}

// Lock files in a folder of the test's own; the simulated speaker's EEPROM in a file, so
// that it has a lock key and a journal key.
class SafetyTest : public SimEngineTest {
protected:
    void SetUp() override {
        SimEngineTest::SetUp();
        std::filesystem::create_directories(dir_ / "locks");
        lockFolder_.emplace(kLockFolderVariable, (dir_ / "locks").c_str());
    }
    void TearDown() override {
        SimEngineTest::TearDown();
        lockFolder_.reset();
    }
    void StartWithFile(const std::string& extra = "") {
        Start("eeprom-file=" + eeprom_ + (extra.empty() ? "" : "," + extra));
    }
    // The key the simulated speaker gives its file: the file's one canonical spelling.
    std::string Key() const { return "sim-eeprom:" + files::CanonicalPath(eeprom_); }

    std::string eeprom_ = dir_ / "speaker.eeprom";
    std::optional<dormane::test::ScopedEnv> lockFolder_;
};

} // namespace safetytest
