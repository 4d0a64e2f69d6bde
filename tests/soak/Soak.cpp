#include "Soak.h"

#include "Backup.h"
#include "Download.h"
#include "FWUpdateInterface.h"
#include "FaultyServer.h"
#include "ImageBuilder.h"
#include "Log.h"
#include "Paths.h"
#include "SizedImage.h"
#include "Status.h"
#include "Transport.h"
#include "UpdateManager.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

namespace soak {
namespace {

namespace fs = std::filesystem;
namespace st = dormane::status;
using dormane::bench::SizedImageSpec;
using dormane::imagebuilder::ImageSpec;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kVid = 0x0D8C;
constexpr uint16_t kPid = 0x0082;
// The candidate sizes of the detection but its first, 0, which counts as no EEPROM: that
// case is the absent speaker.
constexpr uint32_t kSizes[] = {0x100, 0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000, 0x8000, 0x10000};
constexpr uint32_t kTwoByteAddressSize = 4096;
constexpr uint16_t kRegBlockTail = 0x90;
constexpr double kMaxNackPercent = 30;
constexpr uint32_t kMinLatencyUs = 125;
constexpr uint32_t kMaxLatencyUs = 1000;
constexpr uint32_t kMinTwrUs = 500;
constexpr uint32_t kMaxTwrUs = 10000;
// Every burn of the soak asks for the always-on setting; a wrong-mode image holds the other.
constexpr uint16_t kRequiredFw = 0x0803;
constexpr uint16_t kOtherFw = 0x0813;
// A stalled download gives up after this long; the download's own default is far longer.
constexpr long kSoakStallSec = 1;
// Real time to wait for a burn that was unblocked after a hang, before giving up on the
// process: a burn thread that does not end cannot be joined.
constexpr auto kUnhangGrace = std::chrono::seconds(10);

const char* const kErrorPage =
    "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n<body><h1>Not "
    "Found</h1><p>The requested URL was not found on this server.</p></body></html>\n";

// splitmix64: spreads (seed, index) over the generator's state, so that neighbouring
// scenarios share nothing.
uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Draws of our own rather than the standard distributions, whose results differ between
// standard libraries.
class Draw {
public:
    explicit Draw(uint64_t seed) : m_rng(seed) {}
    uint64_t Below(uint64_t n) { return n ? m_rng() % n : 0; }
    uint64_t In(uint64_t lo, uint64_t hi) { return hi <= lo ? lo : lo + Below(hi - lo + 1); }
    double Unit() { return static_cast<double>(m_rng() >> 11) * 0x1.0p-53; }
    bool Chance(double p) { return Unit() < p; }
    uint8_t Byte() { return static_cast<uint8_t>(m_rng() >> 56); }
    // An index into weights, drawn in proportion to them.
    size_t Weighted(std::initializer_list<unsigned> weights) {
        unsigned sum = 0;
        for (unsigned w : weights)
            sum += w;
        uint64_t r = Below(sum);
        size_t i = 0;
        for (unsigned w : weights) {
            if (r < w)
                return i;
            r -= w;
            ++i;
        }
        return 0;
    }

private:
    std::mt19937_64 m_rng;
};

uint16_t ChipVerOf(const std::string& string50) {
    if (string50 == "5023B")
        return 0;
    if (string50 == "5023C")
        return 1;
    return 2;
}

bool KnownRevision(const std::string& string50) {
    return ChipVerOf(string50) != 2;
}

uint16_t FileChipVer(const ScenarioSpec& s) {
    const uint16_t device = ChipVerOf(s.string50);
    return device == 2 ? 0 : device;
}

// The image in the EEPROM: the sample identity, fill bytes of the scenario's own.
ImageSpec DeviceImageSpec(const ScenarioSpec& s) {
    ImageSpec spec = SizedImageSpec(s.deviceTotal, static_cast<uint32_t>(Mix(s.seed + s.index)));
    spec.correctChecksum = s.content != Content::Broken;
    return spec;
}

// The image file as its kind asks: built for this speaker and then spoiled in one way.
ImageSpec FileImageSpec(const ScenarioSpec& s) {
    ImageSpec layout =
        SizedImageSpec(s.imageTotal, static_cast<uint32_t>(Mix(s.index + 7 * s.seed)));
    layout.fwVer = s.kind == ImageKind::WrongMode ? kOtherFw : kRequiredFw;
    layout.chipVer = FileChipVer(s);
    switch (s.kind) {
    case ImageKind::ForeignVid:
        layout.vid = 0x1234;
        break;
    case ImageKind::ForeignPid:
        layout.pid = 0x00A1;
        break;
    case ImageKind::ForeignChip:
        layout.chip = 0x6502; // still a valid chip id (first byte 0x65), but another chip
        break;
    case ImageKind::ForeignChipVer:
        layout.chipVer = layout.chipVer == 0 ? 1 : 0;
        break;
    case ImageKind::BadChecksum:
        layout.correctChecksum = false;
        break;
    case ImageKind::BadMagic:
        layout.magic = {'X', 'V'};
        break;
    case ImageKind::Truncated:
        layout.fileSize = s.fileBytes;
        break;
    case ImageKind::Valid:
    case ImageKind::Oversized:
    case ImageKind::ErrorPage:
    case ImageKind::WrongMode:
    case ImageKind::HttpError:
    case ImageKind::ShortBody:
    case ImageKind::OversizedBody:
    case ImageKind::StalledBody:
        break;
    }
    return layout;
}

std::vector<uint8_t> FileBytes(const ScenarioSpec& s) {
    if (s.kind == ImageKind::ErrorPage)
        return std::vector<uint8_t>(kErrorPage,
                                    kErrorPage + std::char_traits<char>::length(kErrorPage));
    std::vector<uint8_t> bytes = dormane::imagebuilder::Build(FileImageSpec(s));
    // A valid image at the start; what follows it is ignored by the checks, so only the
    // download's limit stands between this body and a burn.
    if (s.kind == ImageKind::OversizedBody)
        bytes.resize(dormane::kMaxBodyBytes + 4096, 0xA5);
    return bytes;
}

// What DownloadFile must answer for the kind, fetched from where the kind is served.
int ExpectedDownload(ImageKind k) {
    switch (k) {
    case ImageKind::HttpError:
        return dormane::kDownloadOpenUrlFailed;
    case ImageKind::ShortBody:
    case ImageKind::OversizedBody:
    case ImageKind::StalledBody:
        return dormane::kDownloadReadFailed;
    default:
        return dormane::kDownloadOk;
    }
}

Misbehaviour MisbehaviourOf(ImageKind k) {
    switch (k) {
    case ImageKind::HttpError:
        return Misbehaviour::Status404;
    case ImageKind::ShortBody:
        return Misbehaviour::CutShort;
    case ImageKind::StalledBody:
        return Misbehaviour::Stall;
    default:
        return Misbehaviour::None;
    }
}

// Whether the engine must take the file as a valid image, by the format's own rules. A file
// shorter than the TotalSize its header declares is never one, whatever its missing bytes
// would have summed to.
bool FilePassesChecks(const ScenarioSpec& s) {
    switch (s.kind) {
    case ImageKind::BadChecksum:
    case ImageKind::BadMagic:
    case ImageKind::ErrorPage:
    case ImageKind::Truncated:
        return false;
    default:
        return true;
    }
}

// Whether an attached speaker must take a valid file: the same chip revision, the same
// identity unless the EEPROM's content is invalid, and room for it in the EEPROM.
bool Compatible(const ScenarioSpec& s) {
    const ImageSpec file = FileImageSpec(s);
    const ImageSpec device = DeviceImageSpec(s);
    if (file.chipVer != ChipVerOf(s.string50))
        return false;
    const bool broken = s.content != Content::Valid;
    if (!broken && (file.vid != device.vid || file.pid != device.pid || file.chip != device.chip))
        return false;
    // Over an EEPROM without a valid image, an image of another vendor would leave a speaker
    // that nothing finds again.
    if (broken && file.vid != kVid)
        return false;
    return s.imageTotal <= s.eepromSize && file.fwVer == kRequiredFw;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        out.push_back(it->path().string());
    return out;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The first position where two byte ranges differ, for the report.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                            size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (a[i] != b[i]) {
            char text[96];
            std::snprintf(text, sizeof text, "first difference at 0x%zX: 0x%02X instead of 0x%02X",
                          i, a[i], b[i]);
            return text;
        }
    }
    return "no difference";
}

// Watches the transfers for the first EEPROM write of the burn and looks into the backup
// folder at that moment.
class FirstWriteWatch {
public:
    FirstWriteWatch(std::string folder, std::function<void()> sabotage)
        : m_strFolder(std::move(folder)), m_fnSabotage(std::move(sabotage)) {}
    void Arm() { m_bArmed.store(true); }
    void See(const dormane::sim::ControlRecord& rec) {
        if (!m_bArmed.load() || (rec.bmRequestType & 0x80) || rec.wValue != kRegBlockTail ||
            rec.data.size() != 5 || (rec.data[4] != 0xB0 && rec.data[4] != 0x90))
            return;
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bSeen)
            return;
        m_bSeen = true;
        if (m_fnSabotage)
            m_fnSabotage();
        m_nBackups = FilesIn(m_strFolder).size();
    }
    // Whether a write was seen, and the backups there were at that moment.
    bool Seen(size_t& backups) const {
        std::lock_guard<std::mutex> guard(m_lock);
        backups = m_nBackups;
        return m_bSeen;
    }

private:
    const std::string m_strFolder;
    const std::function<void()> m_fnSabotage;
    std::atomic<bool> m_bArmed{false};
    mutable std::mutex m_lock;
    bool m_bSeen = false;
    size_t m_nBackups = 0;
};

struct TransportReset {
    ~TransportReset() {
        rmSetBackend(nullptr);
        dormane::SetCurrentClock(nullptr);
    }
};

std::string Ms(std::chrono::nanoseconds d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms",
                  std::chrono::duration<double, std::milli>(d).count());
    return text;
}

} // namespace

const char* Name(Content c) {
    switch (c) {
    case Content::Valid:
        return "valid";
    case Content::Broken:
        return "broken";
    case Content::Blank:
        return "blank";
    case Content::Partial:
        return "partial";
    }
    return "?";
}

const char* Name(ImageKind k) {
    switch (k) {
    case ImageKind::Valid:
        return "valid";
    case ImageKind::ForeignVid:
        return "foreign-vid";
    case ImageKind::ForeignPid:
        return "foreign-pid";
    case ImageKind::ForeignChip:
        return "foreign-chip";
    case ImageKind::ForeignChipVer:
        return "foreign-chipver";
    case ImageKind::Oversized:
        return "oversized";
    case ImageKind::Truncated:
        return "truncated";
    case ImageKind::BadChecksum:
        return "bad-checksum";
    case ImageKind::BadMagic:
        return "bad-magic";
    case ImageKind::ErrorPage:
        return "error-page";
    case ImageKind::WrongMode:
        return "wrong-mode";
    case ImageKind::HttpError:
        return "download-404";
    case ImageKind::ShortBody:
        return "download-short";
    case ImageKind::OversizedBody:
        return "download-oversized";
    case ImageKind::StalledBody:
        return "download-stalled";
    }
    return "?";
}

bool IsDownloadFault(ImageKind k) {
    return ExpectedDownload(k) != dormane::kDownloadOk;
}

std::string ScenarioSpec::Describe() const {
    char text[400];
    std::snprintf(
        text, sizeof text,
        "#%llu (seed %llu): %s eeprom=%u content=%s/%u%s string50=\"%s\" image=%s/%u "
        "file=%u%s nack=%.2f%% unplug-after=%s latency=%uus i2c=%ukHz twr=%uus",
        static_cast<unsigned long long>(index), static_cast<unsigned long long>(seed),
        absent ? "absent" : "present", eepromSize, Name(content), deviceTotal,
        content == Content::Partial ? (" written " + std::to_string(partialBytes)).c_str() : "",
        string50.c_str(), Name(kind), imageTotal, fileBytes, viaDownload ? " downloaded" : "",
        nackPercent, unplugAfter ? std::to_string(*unplugAfter).c_str() : "-", latencyUs, i2cKhz,
        twrUs);
    return text;
}

ScenarioSpec Generate(uint64_t seed, uint64_t index, const GenerateOptions& options) {
    Draw d(Mix(seed ^ Mix(index)));
    ScenarioSpec s;
    s.seed = seed;
    s.index = index;
    s.absent = d.Chance(0.03);
    // Chips below 4 KB are not the speaker's and end at the attach: drawn a third as often.
    std::vector<uint32_t> sizes;
    for (uint32_t size : kSizes) {
        if (size == 0x800 && !options.twoKb)
            continue;
        sizes.insert(sizes.end(), size < kTwoByteAddressSize ? 1 : 3, size);
    }
    s.eepromSize = sizes[d.Below(sizes.size())];
    static const char* const kStrings[] = {"5023B", "5023C", "5023D", "5023b", ""};
    s.string50 = kStrings[d.Weighted({70, 20, 4, 3, 3})];
    s.content = static_cast<Content>(d.Weighted({60, 25, 15}));
    const uint32_t fits = std::min(s.eepromSize, dormane::bench::kMaxTotalSize);
    s.deviceTotal = static_cast<uint32_t>(d.In(dormane::bench::kMinTotalSize, fits));

    s.kind = static_cast<ImageKind>(d.Weighted({34, 8, 8, 8, 8, 8, 8, 6, 6, 6}));
    if (s.kind == ImageKind::Oversized) {
        const uint32_t room = dormane::bench::kMaxTotalSize - s.eepromSize;
        s.imageTotal =
            static_cast<uint32_t>(s.eepromSize + 1 + d.Below(std::min<uint32_t>(room, 32768)));
    } else {
        s.imageTotal = static_cast<uint32_t>(d.In(dormane::bench::kMinTotalSize, fits));
    }
    s.fileBytes = s.imageTotal;
    if (s.kind == ImageKind::Truncated) // the 61-byte header stays whole
        s.fileBytes = static_cast<uint32_t>(d.In(61, s.imageTotal - 1));
    if (s.kind == ImageKind::ErrorPage)
        s.fileBytes = static_cast<uint32_t>(std::char_traits<char>::length(kErrorPage));
    s.viaDownload = s.kind == ImageKind::ErrorPage || d.Chance(0.5);

    if (d.Chance(0.35))
        s.nackPercent = kMaxNackPercent * (1.0 - d.Unit()); // (0, 30]
    if (d.Chance(0.15)) {
        // Somewhere in the attach, the writing or the read-back: about 7 transfers per chunk
        // read, up to 8 per chunk written.
        const uint64_t readAtAttach =
            s.content == Content::Valid ? s.deviceTotal : uint64_t{s.eepromSize};
        const uint64_t estimate = 150 + 7 * readAtAttach / 16 + 15 * uint64_t{s.imageTotal} / 16;
        s.unplugAfter = d.In(1, estimate);
    }
    s.latencyUs = static_cast<uint32_t>(d.In(kMinLatencyUs, kMaxLatencyUs));
    s.i2cKhz = d.Chance(0.5) ? 100 : 400;
    s.twrUs = static_cast<uint32_t>(d.In(kMinTwrUs, kMaxTwrUs));
    // Drawn last, so that every earlier choice stays what it was for a seed and an index.
    if (d.Chance(0.10) && !s.absent) {
        // Cut off before the extension block: whatever its start sums to, it is no image.
        s.content = Content::Partial;
        const ImageSpec device = DeviceImageSpec(s);
        const uint32_t extension = dormane::imagebuilder::ImageEndOf(device) - 13;
        s.partialBytes = static_cast<uint32_t>(d.In(2, extension - 1));
    }
    if (d.Chance(0.14)) {
        constexpr ImageKind kLater[] = {ImageKind::WrongMode, ImageKind::HttpError,
                                        ImageKind::ShortBody, ImageKind::OversizedBody,
                                        ImageKind::StalledBody};
        s.kind = kLater[d.Weighted({8, 3, 3, 2, 1})];
        s.imageTotal = static_cast<uint32_t>(d.In(dormane::bench::kMinTotalSize, fits));
        s.fileBytes = s.imageTotal;
        s.viaDownload = s.kind != ImageKind::WrongMode || s.viaDownload;
    }
    return s;
}

Runner::Runner(std::string root) : m_strRoot(std::move(root)) {}

Runner::~Runner() = default;

Outcome Runner::Run(const ScenarioSpec& s, const Sabotage& sabotage) {
    Outcome out;
    const auto realStart = Clock::now();
    auto violation = [&out](const std::string& what) { out.violations.push_back(what); };

    // The speaker's EEPROM before anything happens: an image (or an erased chip) followed by
    // bytes of the scenario's own, so that a stray write after the image shows.
    Draw fill(Mix(s.seed * 31 + s.index));
    std::vector<uint8_t> original(s.eepromSize, 0xFF);
    if (s.content == Content::Partial) {
        const std::vector<uint8_t> image = dormane::imagebuilder::Build(DeviceImageSpec(s));
        std::copy_n(image.begin(), std::min<size_t>(s.partialBytes, original.size()),
                    original.begin());
    } else if (s.content != Content::Blank) {
        for (auto& b : original)
            b = fill.Byte();
        const std::vector<uint8_t> image = dormane::imagebuilder::Build(DeviceImageSpec(s));
        std::copy_n(image.begin(), std::min<size_t>(image.size(), original.size()),
                    original.begin());
    }

    // The image file, straight from the disk or through the download into the temp file.
    const std::vector<uint8_t> bytes = FileBytes(s);
    const std::string source = m_strRoot + "/source.bin";
    if (!dormane::imagebuilder::WriteFile(source, bytes)) {
        violation("setup: cannot write " + source);
        return out;
    }
    std::string path = source;
    if (s.viaDownload) {
        std::string url = "file://" + source;
        if (IsDownloadFault(s.kind)) {
            if (!m_pServer)
                m_pServer = std::make_unique<FaultyServer>();
            if (!m_pServer->Listening()) {
                violation("setup: the soak's HTTP server does not listen");
                return out;
            }
            url = m_pServer->Serve(bytes, MisbehaviourOf(s.kind));
        }
        dormane::DownloadOptions options = dormane::GetDownloadOptions();
        options.stallTimeoutSec = kSoakStallSec;
        dormane::SetDownloadOptions(options);
        std::string reason;
        out.download = dormane::DownloadFile(url, &reason);
        if (out.download != ExpectedDownload(s.kind))
            violation("the download gave " + std::to_string(out.download) + ", expected " +
                      std::to_string(ExpectedDownload(s.kind)) + " (" + reason + ")");
        path = dormane::g_strFirmwarePath;
    }
    // A failed download ends the switch before the engine sees a file, as in both programs.
    const bool burnAsked = out.download == -1 || out.download == dormane::kDownloadOk;
    const bool filePasses = FilePassesChecks(s);

    const std::string backups = dormane::backup::BackupFolder();
    std::error_code ec;
    fs::remove_all(backups, ec);

    dormane::sim::Scenario scenario;
    scenario.pid = kPid;
    scenario.string50 = s.string50;
    scenario.eepromSize = s.eepromSize;
    scenario.absent = s.absent;
    scenario.nackPercent = s.nackPercent;
    scenario.unplugAfter = s.unplugAfter;
    scenario.latencyUs = s.latencyUs;
    scenario.i2cKhz = s.i2cKhz;
    scenario.twrUs = s.twrUs;
    scenario.virtualClock = true;
    scenario.seed = Mix(s.seed + 3 * s.index);
    auto clock = std::make_shared<dormane::VirtualClock>();
    const TransportReset reset;
    dormane::SetCurrentClock(clock);
    std::string error;
    std::shared_ptr<dormane::sim::SimBackend> backend =
        dormane::sim::SimBackend::Create(scenario, clock, error);
    if (!backend) {
        violation("setup: " + error);
        return out;
    }
    rmSetBackend(backend);
    const std::shared_ptr<dormane::sim::SimSpeaker> speaker =
        s.absent ? nullptr : backend->Speaker(0);
    if (speaker)
        speaker->PokeEeprom(0, original);

    auto watch = std::make_shared<FirstWriteWatch>(backups, sabotage.atFirstWrite);
    {
        FWUpdateInterface engine;
        if (!m_strLog.empty()) {
            LogSettings log;
            log.enabled = true;
            log.filePath = m_strLog;
            SetLogSettings(log);
        }
        if (engine.Init() != st::kSuccess) {
            violation("Init failed on the simulated speaker");
            return out;
        }
        out.attach = engine.AttachDevice(kVid, kPid);
        const bool attachExpected =
            !s.absent && s.eepromSize >= kTwoByteAddressSize && KnownRevision(s.string50);
        if (out.attach != st::kSuccess && out.attach != st::kNoDevice)
            violation("AttachDevice answered " + std::to_string(out.attach));
        else if (!s.Faulty() && out.attach == st::kSuccess && !attachExpected)
            violation("AttachDevice answered 0 where no speaker can be identified");
        else if (!s.Faulty() && out.attach != st::kSuccess && attachExpected)
            out.findings.push_back("attach failed on a fault-free bus");

        if (speaker)
            speaker->SetInterceptor([watch](const dormane::sim::ControlRecord& rec) {
                watch->See(rec);
                return std::optional<dormane::UsbResult>();
            });
        watch->Arm();
        if (burnAsked)
            out.update = engine.UpdateFirmware(path.c_str(), kRequiredFw);

        // What the engine must answer to this file on this speaker.
        int expected;
        if (!burnAsked)
            expected = -1;
        else if (!filePasses)
            expected = st::kInvalidImage;
        else if (out.attach != st::kSuccess)
            expected = st::kIncompatible; // nothing is burned without an attached speaker
        else
            expected = Compatible(s) ? st::kSuccess : st::kIncompatible;
        // Of an EEPROM whose content failed the checks the backup is the whole EEPROM, read
        // at attach; when a faulty bus kept that read from getting through, there is no
        // backup and no burn.
        const bool noBackup = expected == st::kSuccess && s.content != Content::Valid &&
                              s.Faulty() && out.update == st::kFailure;
        if (out.update != expected && !noBackup)
            violation("UpdateFirmware answered " + std::to_string(out.update) + ", expected " +
                      std::to_string(expected));

        int progress = 0;
        out.state = engine.GteUpdateProgress(&progress);
        if (out.update == st::kSuccess) {
            const auto deadline = Clock::now() + m_timeout;
            while (out.state == st::kBurnRunning && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                out.state = engine.GteUpdateProgress(&progress);
            }
            if (out.state == st::kBurnRunning) {
                violation("hang: the burn was still running after " +
                          std::to_string(m_timeout.count()) + " ms of real time");
                // A vanished speaker fails every transfer: a burn that can end, ends now.
                if (speaker)
                    speaker->Unplug();
                const auto grace = Clock::now() + kUnhangGrace;
                while (engine.GteUpdateProgress(&progress) == st::kBurnRunning) {
                    if (Clock::now() > grace) {
                        std::fprintf(stdout, "VIOLATION %s\n  the burn thread does not end\n",
                                     s.Describe().c_str());
                        std::fflush(stdout);
                        std::_Exit(3);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            if (out.state != st::kBurnVerified && out.state != st::kBurnFailed)
                violation("the burn ended in state " + std::to_string(out.state));
            if (progress < 0 || progress > 100)
                violation("progress " + std::to_string(progress));
            if (engine.Core()->BurnRunning())
                violation("the burn state says burning after the burn ended");
        } else if (out.state != st::kBurnIdle || progress != 0) {
            violation("a refused image left state " + std::to_string(out.state) + " progress " +
                      std::to_string(progress));
        }
        out.progress = progress;
        if (speaker)
            speaker->SetInterceptor(nullptr);
        if (sabotage.beforeChecks && speaker)
            sabotage.beforeChecks(*speaker);

        // The burn thread has ended: detaching waits for nothing and is not refused.
        if (engine.DetachDevice() != st::kSuccess)
            violation("DetachDevice after the burn was refused");
    } // the engine's destructor joins the burn thread
    out.simulated = clock->Now();

    if (speaker) {
        const std::vector<uint8_t> after = speaker->Eeprom();
        // 1. Verified: exactly the image asked for, all of its TotalSize bytes from the file,
        // nothing after them changed.
        if (out.state == st::kBurnVerified) {
            const size_t total = std::min<size_t>(s.imageTotal, after.size());
            if (bytes.size() < total || !filePasses || !Compatible(s) || !burnAsked)
                violation(std::string("verified an image that is not the one asked for (") +
                          Name(s.kind) + ")");
            else if (!std::equal(bytes.begin(), bytes.begin() + total, after.begin()))
                violation("verified, but the EEPROM does not hold the image: " +
                          FirstDifference(after, bytes, 0, total));
            if (!std::equal(original.begin() + total, original.end(), after.begin() + total))
                violation("verified, but bytes after the image changed: " +
                          FirstDifference(after, original, total, after.size()));
        }
        // 2. Refused: the whole EEPROM as it was, the detection's probe marker taken back. A
        // speaker that vanished between the marker and its removal keeps the marker's two
        // bytes: nobody can take them back.
        if (out.update != st::kSuccess && after != original) {
            const bool markerLeft =
                speaker->Unplugged() && after.size() > 2 && after[0] == 'X' && after[1] == 'V' &&
                std::equal(after.begin() + 2, after.end(), original.begin() + 2);
            if (!markerLeft)
                violation("refused (" + std::to_string(out.update) + "), but the EEPROM changed: " +
                          FirstDifference(after, original, 0, after.size()));
        }
    }
    // 3. A backup of the device image before the first write of the burn.
    if (out.update == st::kSuccess) {
        size_t atFirstWrite = 0;
        if (watch->Seen(atFirstWrite) && atFirstWrite == 0)
            violation("the first write of the burn came before any backup");
        const std::vector<std::string> files = FilesIn(backups);
        if (files.size() != 1) {
            violation(std::to_string(files.size()) + " backups after one burn");
        } else {
            const bool raw = s.content != Content::Valid;
            const std::vector<uint8_t> saved = ReadAll(files[0]);
            const std::vector<uint8_t> want(
                original.begin(), original.begin() + (raw ? original.size() : s.deviceTotal));
            if (saved != want)
                violation("the backup " + files[0] + " is not the device's " +
                          (raw ? "whole EEPROM" : "image") + " (" + std::to_string(saved.size()) +
                          " bytes)");
            if ((files[0].find("-raw.bin") != std::string::npos) != raw)
                violation("the backup's name " + files[0] + " says the wrong kind");
        }
    }
    if (out.update == st::kSuccess && !s.Faulty() && out.state != st::kBurnVerified)
        out.findings.push_back("a compatible image did not verify on a fault-free bus");
    out.real = Clock::now() - realStart;
    return out;
}

void Totals::Add(const ScenarioSpec& s, const Outcome& o) {
    ++m_nScenarios;
    m_nViolations += o.violations.empty() ? 0 : 1;
    ++m_byImage[Name(s.kind)];
    if (s.absent) {
        ++m_byDevice["absent"];
    } else {
        ++m_byDevice[std::string("content ") + Name(s.content)];
        ++m_bySize[s.eepromSize];
    }
    std::string fault = "none";
    if (s.nackPercent > 0 && s.unplugAfter)
        fault = "nack+unplug";
    else if (s.nackPercent > 0)
        fault = "nack";
    else if (s.unplugAfter)
        fault = "unplug";
    ++m_byFault[fault];
    std::string result;
    if (o.download != -1 && o.download != dormane::kDownloadOk)
        result = "download failed " + std::to_string(o.download) + ", nothing burned";
    else if (o.attach != st::kSuccess)
        result = "attach " + std::to_string(o.attach) + ", update " + std::to_string(o.update);
    else if (o.update != st::kSuccess)
        result = "attached, refused " + std::to_string(o.update);
    else
        result = o.state == st::kBurnVerified ? "burned, verified" : "burned, failed";
    ++m_byResult[result];
    m_nWithFindings += o.findings.empty() ? 0 : 1;
    for (const std::string& f : o.findings)
        ++m_findings[f + (s.i2cKhz == 400 ? " (400 kHz)" : " (100 kHz)")];
    if (o.simulated > m_longestSimulated) {
        m_longestSimulated = o.simulated;
        m_strLongestSimulated = s.Describe();
    }
    if (o.real > m_longestReal) {
        m_longestReal = o.real;
        m_strLongestReal = s.Describe();
    }
    m_totalReal += o.real;
}

void Totals::Print(std::FILE* out) const {
    auto section = [out](const char* title, const std::map<std::string, uint64_t>& m) {
        std::fprintf(out, "%s:\n", title);
        for (const auto& [name, n] : m)
            std::fprintf(out, "  %-34s %llu\n", name.c_str(), static_cast<unsigned long long>(n));
    };
    std::fprintf(out, "scenarios: %llu, violations: %llu\n",
                 static_cast<unsigned long long>(m_nScenarios),
                 static_cast<unsigned long long>(m_nViolations));
    section("image kinds", m_byImage);
    section("speakers", m_byDevice);
    std::fprintf(out, "EEPROM sizes:\n");
    for (const auto& [size, n] : m_bySize)
        std::fprintf(out, "  %-34u %llu\n", size, static_cast<unsigned long long>(n));
    section("faults", m_byFault);
    section("results", m_byResult);
    std::fprintf(out, "scenarios with findings (failed safely on a fault-free bus): %llu\n",
                 static_cast<unsigned long long>(m_nWithFindings));
    for (const auto& [what, n] : m_findings)
        std::fprintf(out, "  %-60s %llu\n", what.c_str(), static_cast<unsigned long long>(n));
    std::fprintf(out, "longest scenario, simulated: %s\n  %s\n", Ms(m_longestSimulated).c_str(),
                 m_strLongestSimulated.c_str());
    std::fprintf(out, "longest scenario, real: %s\n  %s\n", Ms(m_longestReal).c_str(),
                 m_strLongestReal.c_str());
    std::fprintf(out, "real time of all scenarios: %s\n", Ms(m_totalReal).c_str());
}

} // namespace soak
