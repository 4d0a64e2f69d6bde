// The sleep inhibitor: the logind lock over a stand-in logind on a private bus, held for the
// whole burn and released when it ends, and a burn that goes on where there is no logind.
#include "FakeLogind.h"

#include "FWUpdateInterface.h"
#include "ImageBuilder.h"
#include "Log.h"
#include "Sim.h"
#include "SleepInhibitor.h"
#include "Status.h"
#include "Transport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

using testsupport::FakeLogind;
using testsupport::PrivateBus;

namespace {

namespace st = dormane::status;

// Calls a hook before every control transfer of the devices it opens.
class WatchedDevice final : public dormane::UsbDevice {
public:
    WatchedDevice(std::unique_ptr<dormane::UsbDevice> inner, std::function<void()> hook)
        : m_inner(std::move(inner)), m_hook(std::move(hook)) {}
    dormane::UsbResult ControlTransfer(uint8_t type, uint8_t request, uint16_t value,
                                       uint16_t index, uint8_t* data, uint16_t length) override {
        m_hook();
        return m_inner->ControlTransfer(type, request, value, index, data, length);
    }
    dormane::UsbResult ReadString(uint8_t index, std::string& utf8) override {
        return m_inner->ReadString(index, utf8);
    }

private:
    std::unique_ptr<dormane::UsbDevice> m_inner;
    std::function<void()> m_hook;
};

class WatchedBackend final : public dormane::UsbBackend {
public:
    WatchedBackend(std::shared_ptr<dormane::UsbBackend> inner, std::function<void()> hook)
        : m_inner(std::move(inner)), m_hook(std::move(hook)) {}
    const char* Name() const override { return m_inner->Name(); }
    dormane::UsbResult Init() override { return m_inner->Init(); }
    dormane::UsbResult Enumerate(std::vector<dormane::UsbDeviceInfo>& out) override {
        return m_inner->Enumerate(out);
    }
    dormane::UsbResult Open(const std::string& path,
                            std::unique_ptr<dormane::UsbDevice>& out) override {
        std::unique_ptr<dormane::UsbDevice> device;
        const dormane::UsbResult r = m_inner->Open(path, device);
        if (device)
            out = std::make_unique<WatchedDevice>(std::move(device), m_hook);
        return r;
    }

private:
    std::shared_ptr<dormane::UsbBackend> m_inner;
    std::function<void()> m_hook;
};

// Sets environment variables for the life of the object.
class EnvOverride {
public:
    void Set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// A simulated speaker on the virtual clock under the engine, private XDG folders and a log
// of its own; Burn() writes a valid image and waits for the burn thread to end.
class BurnFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "dormane-inhibit-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        m_env.Set("XDG_CONFIG_HOME", m_folder + "/config");
        m_env.Set("XDG_STATE_HOME", m_folder + "/state");
        m_env.Set("XDG_DATA_HOME", m_folder + "/data");
    }
    void TearDown() override {
        rmSetBackend(nullptr);
        SetLogSettings(LogSettings{});
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }

    // Runs one burn to its end; hook sees every control transfer. Returns the final state.
    int Burn(std::function<void()> hook) {
        std::string error;
        if (!dormane::sim::InstallSimulatedSpeaker("fw=0813,clock=virtual", error)) {
            ADD_FAILURE() << error;
            return -1;
        }
        rmSetBackend(
            std::make_shared<WatchedBackend>(dormane::sim::InstalledSimBackend(), std::move(hook)));
        const std::string image = m_folder + "/fw0803.bin";
        dormane::imagebuilder::WriteFile(image, dormane::imagebuilder::BuildSampleImage(0x0803));

        auto engine = std::make_unique<FWUpdateInterface>();
        LogSettings log;
        log.enabled = true;
        log.filePath = m_folder + "/engine.log";
        SetLogSettings(log);
        if (engine->Init() != st::kSuccess ||
            engine->AttachDevice(0x0D8C, 0x0082) != st::kSuccess ||
            engine->UpdateFirmware(image.c_str()) != st::kSuccess) {
            ADD_FAILURE() << "the burn did not start";
            return -1;
        }
        int state = st::kBurnRunning;
        int progress = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (state == st::kBurnRunning && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            state = engine->GteUpdateProgress(&progress);
        }
        engine.reset(); // waits for the burn thread, which releases the lock as it ends
        return state;
    }

    std::vector<std::string> LogMessages(const std::string& prefix) const {
        std::vector<std::string> out;
        std::ifstream in(m_folder + "/engine.log");
        for (std::string line; std::getline(in, line);) {
            const auto close = line.find("] ");
            std::string message = close == std::string::npos ? line : line.substr(close + 2);
            if (message.rfind(prefix, 0) == 0)
                out.push_back(message);
        }
        return out;
    }

    std::string m_folder;
    EnvOverride m_env;
};

TEST(LogindInhibitor, TakesTheLockLogindGrantsAndReleasesItOnDestruction) {
    PrivateBus bus;
    ASSERT_FALSE(bus.Address().empty()) << "dbus-daemon did not start";
    FakeLogind logind(bus.Address(), FakeLogind::Answer::Grant);
    ASSERT_TRUE(logind.Ready());
    EnvOverride env;
    env.Set(dormane::kLogindBusAddressVariable, bus.Address());

    std::unique_ptr<dormane::InhibitLock> lock;
    std::string reason;
    ASSERT_EQ(dormane::MakeLogindInhibitor()->Take("Checking", lock, reason), st::kSuccess)
        << reason;
    ASSERT_NE(lock, nullptr);
    const auto calls = logind.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].what, "sleep:shutdown:idle");
    EXPECT_EQ(calls[0].who, "Dormane");
    EXPECT_EQ(calls[0].why, "Checking");
    EXPECT_EQ(calls[0].mode, "block");
    EXPECT_EQ(logind.HeldLocks(), 1);

    lock.reset();
    EXPECT_TRUE(logind.WaitUntilAllReleased());
}

TEST_F(BurnFixture, TheLockIsHeldAtEveryTransferOfTheBurnAndReleasedAfterIt) {
    PrivateBus bus;
    ASSERT_FALSE(bus.Address().empty()) << "dbus-daemon did not start";
    FakeLogind logind(bus.Address(), FakeLogind::Answer::Grant);
    ASSERT_TRUE(logind.Ready());
    m_env.Set(dormane::kLogindBusAddressVariable, bus.Address());

    // Transfers made by the burn thread, and of those the ones made while logind saw a lock.
    const std::thread::id testThread = std::this_thread::get_id();
    std::atomic<int> burnTransfers{0}, heldTransfers{0}, transfersBeforeBurn{0};
    const int state = Burn([&] {
        if (std::this_thread::get_id() == testThread) {
            if (logind.HeldLocks() == 0)
                ++transfersBeforeBurn;
            return;
        }
        ++burnTransfers;
        if (logind.HeldLocks() == 1)
            ++heldTransfers;
    });

    EXPECT_EQ(state, st::kBurnVerified);
    EXPECT_GT(transfersBeforeBurn.load(), 0); // attach and backup ran without a lock
    EXPECT_GT(burnTransfers.load(), 0);
    EXPECT_EQ(heldTransfers.load(), burnTransfers.load());
    const auto calls = logind.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].what, "sleep:shutdown:idle");
    EXPECT_EQ(calls[0].why, "Updating the speaker's firmware");
    EXPECT_EQ(calls[0].mode, "block");
    EXPECT_TRUE(logind.WaitUntilAllReleased());
    EXPECT_EQ(LogMessages("SleepInhibitor::Take"),
              std::vector<std::string>{"SleepInhibitor::Take note: logind lock "
                                       "\"sleep:shutdown:idle\" held while the burn runs"});
    EXPECT_EQ(LogMessages("SleepInhibitor::Release"),
              std::vector<std::string>{"SleepInhibitor::Release note: lock released"});
}

// Where no lock can be had, Take says why and the burn is written and verified all the same.
struct NoLockCase {
    const char* name;
    bool startBus;
    std::optional<FakeLogind::Answer> logind;
    // The bus address to use, from the private bus's address (if one runs) and a folder.
    std::function<std::string(const std::string& bus, const std::string& folder)> address;
    const char* reason;
};

void PrintTo(const NoLockCase& c, std::ostream* os) {
    *os << c.name;
}

class WithoutLogind : public BurnFixture, public ::testing::WithParamInterface<NoLockCase> {};

TEST_P(WithoutLogind, TheBurnGoesOnAndTheLogSaysWhy) {
    const NoLockCase& c = GetParam();
    std::optional<PrivateBus> bus;
    if (c.startBus) {
        bus.emplace();
        ASSERT_FALSE(bus->Address().empty()) << "dbus-daemon did not start";
    }
    std::optional<FakeLogind> logind;
    if (c.logind) {
        logind.emplace(bus->Address(), *c.logind);
        ASSERT_TRUE(logind->Ready());
    }
    m_env.Set(dormane::kLogindBusAddressVariable,
              c.address(bus ? bus->Address() : std::string(), m_folder));

    std::unique_ptr<dormane::InhibitLock> lock;
    std::string reason;
    EXPECT_EQ(dormane::MakeLogindInhibitor()->Take("Checking", lock, reason), st::kFailure);
    EXPECT_EQ(lock, nullptr);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;

    EXPECT_EQ(Burn([] {}), st::kBurnVerified);
    const auto lines = LogMessages("SleepInhibitor::");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "SleepInhibitor::Take note: no logind lock, the burn goes on without it: " + reason);
    if (logind) {
        EXPECT_EQ(logind->HeldLocks(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WithoutLogind,
    ::testing::Values(
        NoLockCase{"SwitchedOff", false, std::nullopt,
                   [](const std::string&, const std::string&) { return std::string("none"); },
                   "DORMANE_LOGIND_BUS_ADDRESS is \"none\""},
        NoLockCase{"NoBus", false, std::nullopt,
                   [](const std::string&, const std::string& folder) {
                       return "unix:path=" + folder + "/no-such-bus";
                   },
                   "the system bus cannot be reached"},
        NoLockCase{"BusWithoutLogind", true, std::nullopt,
                   [](const std::string& bus, const std::string&) { return bus; },
                   "logind is not running on the bus"},
        NoLockCase{"LogindRefuses", true, FakeLogind::Answer::Refuse,
                   [](const std::string& bus, const std::string&) { return bus; },
                   "logind refused the lock (org.freedesktop.DBus.Error.AccessDenied: Permission "
                   "denied)"}),
    [](const auto& info) { return info.param.name; });

} // namespace
