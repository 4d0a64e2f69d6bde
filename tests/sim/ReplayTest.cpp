// --record and --simulate=replay= below the programs: the recorder over the simulated speaker,
// the replay answering the transport from its lines, and what it says when the program asks
// for something else.
#include "ImageBuilder.h"
#include "ReplayBackend.h"
#include "Sim.h"
#include "Transport.h"
#include "UsbRecorder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <unistd.h>

using dormane::UsbResult;
using dormane::VirtualClock;
using dormane::sim::ReplayBackend;

namespace {

std::vector<std::string> Lines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void WriteLines(const std::filesystem::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& line : lines)
        out << line << "\n";
}

std::vector<uint8_t> Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// What a short session of the engine sees of the speaker: the probe, an EEPROM read, a write
// of 16 bytes, a read of them back and the chip revision string.
struct Session {
    std::vector<uint8_t> header = std::vector<uint8_t>(61);
    std::vector<uint8_t> readBack = std::vector<uint8_t>(16);
    std::string string50;
    int started = 0, read = 0, written = 0, readAgain = 0;
};

Session RunSession() {
    Session s;
    s.started = rmInitialize() && rmDeviceStart(0x0D8C, 0x0082);
    s.read = rmEepromAccess(0, 0, s.header.data(), 61);
    std::vector<uint8_t> data(16);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(0xA0 + i);
    s.written = rmEepromAccess(1, 0x3000, data.data(), 16);
    s.readAgain = rmEepromAccess(0, 0x3000, s.readBack.data(), 16);
    if (const dormane::UsbDeviceInfo* selected = rmSelectedDevice()) {
        std::unique_ptr<dormane::UsbDevice> device;
        if (rmBackend()->Open(selected->path, device) == UsbResult::Ok)
            device->ReadString(50, s.string50);
    }
    rmDeviceStop();
    return s;
}

class Replay : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dormane-replay-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        rmSetBackend(nullptr);
        dormane::SetCurrentClock(nullptr);
        dormane::sim::SetReplayDivergenceHandler({});
        std::filesystem::remove_all(dir);
    }
    // Records RunSession on a simulated speaker whose EEPROM is a file; keeps that file's
    // content from before in "before.eeprom".
    Session Record() {
        std::string error;
        const std::string eeprom = (dir / "speaker.eeprom").string();
        EXPECT_TRUE(dormane::sim::InstallSimulatedSpeaker(
            "clock=virtual,string50=5023C,eeprom-file=" + eeprom, error))
            << error;
        std::filesystem::copy_file(eeprom, dir / "before.eeprom");
        EXPECT_TRUE(dormane::StartRecording((dir / "r.jsonl").string(), "sim_test", "0", error))
            << error;
        Session s = RunSession();
        recordedEnd = dormane::CurrentClock()->Now();
        rmSetBackend(nullptr); // closes the recording
        return s;
    }
    std::shared_ptr<ReplayBackend> Load(const std::filesystem::path& path, std::string& error) {
        clock = std::make_shared<VirtualClock>();
        auto replay = ReplayBackend::Load(path.string(), clock, error);
        if (replay) {
            replay->SetDivergenceHandler([this](const std::string& m) { messages.push_back(m); });
            dormane::SetCurrentClock(clock);
            rmSetBackend(replay);
        }
        return replay;
    }

    std::filesystem::path dir;
    dormane::Clock::Duration recordedEnd{0};
    std::shared_ptr<VirtualClock> clock;
    std::vector<std::string> messages;
};

TEST_F(Replay, EveryLineIsOneCallFlushedAsItHappens) {
    std::string error;
    ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker("clock=virtual", error)) << error;
    ASSERT_TRUE(dormane::StartRecording((dir / "r.jsonl").string(), "sim_test", "9.9", error));
    ASSERT_EQ(rmInitialize(), 1);
    ASSERT_EQ(rmDeviceStart(0x0D8C, 0x0082), 1);
    // Still open: everything so far is in the file already.
    const auto lines = Lines(dir / "r.jsonl");
    ASSERT_GE(lines.size(), 5u);
    const auto header = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(header["recording"], 1);
    EXPECT_EQ(header["program"], "sim_test");
    EXPECT_EQ(header["backend"], "simulated");
    EXPECT_EQ(nlohmann::json::parse(lines[1])["op"], "init");
    auto listed = nlohmann::json::parse(lines[2]);
    EXPECT_EQ(listed["op"], "enumerate");
    // The descriptors as the speaker sends them: the device descriptor first.
    const std::vector<uint8_t> descriptors =
        dormane::sim::InstalledSimBackend()->Speaker()->Descriptors();
    EXPECT_EQ(listed["devices"][0]["descriptors"],
              dormane::HexBytes(descriptors.data(), descriptors.size()));
    EXPECT_EQ(listed["devices"][0]["descriptors"].get<std::string>().rfind("1201100100000040"
                                                                           "8C0D82001308",
                                                                           0),
              0u);
    listed["devices"][0].erase("descriptors");
    EXPECT_EQ(listed["devices"][0], nlohmann::json({{"path", "sim-1"},
                                                    {"vid", "0x0D8C"},
                                                    {"pid", "0x0082"},
                                                    {"bcdDevice", "0x0813"},
                                                    {"classes", {1, 3}}}));
    // The probe: 16 bytes of register 0 after one transfer's latency.
    const auto probe = nlohmann::json::parse(lines[4]);
    EXPECT_EQ(probe["op"], "control");
    EXPECT_EQ(probe["bmRequestType"], "0xC0");
    EXPECT_EQ(probe["wValue"], "0x0000");
    EXPECT_EQ(probe["wLength"], 16);
    EXPECT_EQ(probe["in"], "65010D8C008201000000000000000000");
    EXPECT_EQ(probe["t"], 250);
    EXPECT_EQ(dormane::LastRecordingPath(), (dir / "r.jsonl").string());
}

TEST_F(Replay, AnswersAsTheSpeakerDidOnTheRecordedTime) {
    const Session recorded = Record();
    ASSERT_TRUE(recorded.started && recorded.read && recorded.written && recorded.readAgain);
    EXPECT_EQ(recorded.string50, "5023C");
    std::string error;
    auto replay = Load(dir / "r.jsonl", error);
    ASSERT_TRUE(replay) << error;
    const Session replayed = RunSession();
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_EQ(replayed.started, 1);
    EXPECT_EQ(replayed.header, recorded.header);
    EXPECT_EQ(replayed.readBack, recorded.readBack);
    EXPECT_EQ(replayed.string50, "5023C");
    EXPECT_EQ(replay->Answered(), replay->Events());
    // Every wait of the recorded run passed on the virtual clock, none longer (to the
    // recording's microsecond).
    EXPECT_LT(std::chrono::abs(clock->Now() - recordedEnd), std::chrono::microseconds(1))
        << (clock->Now() - recordedEnd).count() << " ns apart";
    EXPECT_GT(clock->Now(), std::chrono::milliseconds(10));
}

TEST_F(Replay, WritesTheConversationMadeIntoTheEepromFile) {
    Record();
    std::filesystem::copy_file(dir / "before.eeprom", dir / "replayed.eeprom");
    std::string error;
    auto replay = Load(dir / "r.jsonl", error);
    ASSERT_TRUE(replay) << error;
    ASSERT_TRUE(replay->SetEepromFile((dir / "replayed.eeprom").string(), error)) << error;
    RunSession();
    ASSERT_TRUE(messages.empty()) << messages.front();
    EXPECT_NE(Slurp(dir / "before.eeprom"), Slurp(dir / "speaker.eeprom"));
    EXPECT_EQ(Slurp(dir / "replayed.eeprom"), Slurp(dir / "speaker.eeprom"));
}

// One byte changed in a line the program's requests are matched against: the replay stops
// at that line, says what it expected and what came, and fails every call from there on.
TEST_F(Replay, AChangedRequestNamesItsLine) {
    Record();
    const auto lines = Lines(dir / "r.jsonl");
    struct Case {
        const char* name;
        std::string field; // a request field whose value is changed
    };
    for (const Case& c : {Case{"data sent", "out"}, Case{"register", "wValue"}}) {
        SCOPED_TRACE(c.name);
        // The first write transfer that carries data.
        size_t index = 0;
        for (size_t i = 1; i < lines.size() && index == 0; ++i) {
            const auto j = nlohmann::json::parse(lines[i]);
            if (j.value("bmRequestType", "") == "0x40" && j.value("wLength", 0) == 16)
                index = i;
        }
        ASSERT_NE(index, 0u);
        auto j = nlohmann::json::parse(lines[index]);
        std::string value = j[c.field];
        value.back() = value.back() == '0' ? '1' : '0';
        j[c.field] = value;
        std::vector<std::string> changed = lines;
        changed[index] = j.dump();
        WriteLines(dir / "changed.jsonl", changed);

        messages.clear();
        std::string error;
        ASSERT_TRUE(Load(dir / "changed.jsonl", error)) << error;
        const Session s = RunSession();
        ASSERT_EQ(messages.size(), 1u);
        const std::string& m = messages[0];
        EXPECT_NE(m.find("replay diverged at line " + std::to_string(index + 1) + " of "),
                  std::string::npos)
            << m;
        EXPECT_NE(m.find("the recording expected control on sim-1"), std::string::npos) << m;
        EXPECT_NE(m.find(value), std::string::npos) << m;
        EXPECT_NE(m.find(", but came control on sim-1"), std::string::npos) << m;
        EXPECT_EQ(s.string50, ""); // nothing was answered after the divergence
    }
}

TEST_F(Replay, ARunLongerThanTheRecordingDiverges) {
    Record();
    auto lines = Lines(dir / "r.jsonl");
    lines.resize(lines.size() - 1); // the string read is missing
    WriteLines(dir / "short.jsonl", lines);
    std::string error;
    ASSERT_TRUE(Load(dir / "short.jsonl", error)) << error;
    const Session s = RunSession();
    EXPECT_EQ(s.readAgain, 1);
    EXPECT_EQ(s.string50, "");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("ends at line " + std::to_string(lines.size()) +
                               ", but the program went on with: string 50 of sim-1"),
              std::string::npos)
        << messages[0];
}

TEST_F(Replay, AnUnreadableRecordingNamesItsLine) {
    const std::string header = R"({"recording":1,"program":"x","version":"0","backend":"libusb"})";
    const std::string init = R"({"t":0,"op":"init","result":"ok"})";
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        const char* says;
    };
    for (
        const Case& c : {
            Case{"empty", {}, "is empty"},
            Case{"another format", {R"({"recording":2})", init}, "line 1: not a recording"},
            Case{"not JSON", {header, init, "{\"t\":1,"}, "line 3: not a JSON object"},
            Case{"unknown op", {header, R"({"t":0,"op":"reset","result":"ok"})"}, "line 2"},
            Case{"unknown result", {header, R"({"t":0,"op":"init","result":"fine"})"}, "line 2"},
            Case{
                "odd hex",
                {header, init,
                 R"({"t":1,"op":"control","path":"p","bmRequestType":"0x40","bRequest":"0x01",)"
                 R"("wValue":"0x0094","wIndex":"0x0000","wLength":1,"out":"5","result":"ok","in":""})"},
                "line 3: \"out\" has an odd number of hex digits"},
            Case{
                "short answer",
                {header, init,
                 R"({"t":1,"op":"control","path":"p","bmRequestType":"0xC0","bRequest":"0x02",)"
                 R"("wValue":"0x0094","wIndex":"0x0000","wLength":2,"out":"","result":"ok","in":"00"})"},
                "line 3: \"in\" does not hold wLength bytes"},
        }) {
        SCOPED_TRACE(c.name);
        WriteLines(dir / "bad.jsonl", c.lines);
        std::string error;
        EXPECT_FALSE(ReplayBackend::Load((dir / "bad.jsonl").string(), nullptr, error));
        EXPECT_EQ(error.rfind("replay: ", 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST_F(Replay, InstalledByTheScenarioOnItsOwnVirtualClock) {
    Record();
    std::string error;
    ASSERT_TRUE(dormane::sim::InstallSimulatedSpeaker(
        "replay=" + (dir / "r.jsonl").string() + ",clock=real", error))
        << error;
    EXPECT_STREQ(rmBackend()->Name(), "replay");
    EXPECT_TRUE(std::dynamic_pointer_cast<VirtualClock>(dormane::CurrentClock()));
    EXPECT_FALSE(dormane::sim::InstalledSimBackend());
    EXPECT_FALSE(
        dormane::sim::InstallSimulatedSpeaker("replay=" + (dir / "missing.jsonl").string(), error));
    EXPECT_EQ(error, "replay: cannot open " + (dir / "missing.jsonl").string());
}

} // namespace
