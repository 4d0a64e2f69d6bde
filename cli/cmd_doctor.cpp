// doctor: checks everything a firmware update needs on this machine, one verdict per check
// with what to do about it. It only reads from the speaker, never writes to it.
#include "Engine.h"

#include "Backup.h"
#include "Discovery.h"
#include "Download.h"
#include "FWInfo.h"
#include "FileSystem.h"
#include "Journal.h"
#include "Network.h"
#include "Paths.h"
#include "Platform.h"
#include "Settings.h"
#include "SleepInhibitor.h"
#include "Status.h"
#include "SupportReport.h"
#include "Transport.h"
#include "UpdateManager.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace st = dormane::status;

enum class Verdict { Ok, Warn, Fail, Skip };

const char* VerdictName(Verdict v) {
    switch (v) {
    case Verdict::Ok:
        return "ok";
    case Verdict::Warn:
        return "warn";
    case Verdict::Fail:
        return "fail";
    case Verdict::Skip:
        return "skip";
    }
    return "fail";
}

struct Check {
    std::string id;
    std::string title;
    Verdict verdict = Verdict::Ok;
    std::string message;
    std::string advice; // empty when there is nothing to do
};

struct DoctorOptions {
    std::string baseUrl = dormane::kFirmwareBaseUrl;
    std::string caFile;
    std::string report; // --report FILE.tar.gz
};

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
    return text;
}

// Creates, writes and removes a file in folder: the honest test, which also sees read-only
// mounts and full disks that access() does not.
bool ProbeWritable(const std::string& folder, std::string& why) {
    static int probes = 0;
    const std::string probe = dormane::files::JoinPath(
        folder, ".dormane-doctor-" + std::to_string(dormane::files::CurrentProcessId()) + "-" +
                    std::to_string(++probes));
    const uint8_t byte = 'x';
    if (!dormane::files::CreateNewFile(probe, &byte, 1, why))
        return false;
    dormane::files::RemoveFile(probe);
    return true;
}

// A private scratch folder in the system temp folder, removed with its content.
class ScratchFolder {
public:
    ScratchFolder() {
        namespace files = dormane::files;
        const std::string stem =
            files::JoinPath(dormane::settings::SystemTempFolder(),
                            "dormane-doctor-" + std::to_string(files::CurrentProcessId()));
        for (int n = 0; n < 100 && m_path.empty(); ++n) {
            const std::string candidate = stem + "-" + std::to_string(n);
            if (!files::Exists(candidate) && files::MakePrivateFolders(candidate))
                m_path = candidate;
        }
    }
    ~ScratchFolder() {
        if (m_path.empty())
            return;
        std::error_code ec;
        std::filesystem::remove_all(dormane::files::U8Path(m_path), ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// The download writes to g_strFirmwarePath; the doctor points it at a scratch file for as
// long as it lives, so that it never replaces an image a burn is about to read.
class FirmwarePathOverride {
public:
    explicit FirmwarePathOverride(const std::string& path) : m_saved(dormane::g_strFirmwarePath) {
        dormane::g_strFirmwarePath = path;
    }
    ~FirmwarePathOverride() { dormane::g_strFirmwarePath = m_saved; }
    FirmwarePathOverride(const FirmwarePathOverride&) = delete;
    FirmwarePathOverride& operator=(const FirmwarePathOverride&) = delete;

private:
    std::string m_saved;
};

class Doctor {
public:
    Doctor(const DoctorOptions& options, const CliContext& ctx) : m_options(options), m_ctx(ctx) {}

    std::vector<Check> Run() {
        CheckUsb();
        CheckSpeaker();
        CheckAccess();
        CheckFirmware();
        CheckAccessSetupStep();
        CheckSettings();
        CheckTempFolder();
        CheckBackupFolder();
        CheckNetwork();
        CheckFirmwareServer();
        CheckSleepInhibitor();
        return m_checks;
    }

private:
    Check& Add(const char* id, const char* title, Verdict verdict, std::string message,
               std::string advice = {}) {
        m_checks.push_back({id, title, verdict, std::move(message), std::move(advice)});
        return m_checks.back();
    }

    void CheckUsb() {
        m_usbUp = rmInitialize() != 0;
        const std::string backend = rmBackend()->Name();
        if (m_usbUp) {
            Add("usb", "USB subsystem", Verdict::Ok, "reachable (" + backend + " backend)");
            return;
        }
        const dormane::UsbResult why = rmLastError();
        if (why == dormane::UsbResult::NotSupported)
            Add("usb", "USB subsystem", Verdict::Fail,
                "there is no USB subsystem on this machine (" + backend + " backend)",
                "Run Dormane on a machine with USB. In a container or a virtual machine, pass "
                "the host's USB bus (/dev/bus/usb) through.");
        else
            Add("usb", "USB subsystem", Verdict::Fail,
                std::string("the USB subsystem cannot be initialised (") +
                    dormane::UsbResultName(why) + ")",
                "Check that /dev/bus/usb exists and can be read, then run doctor again.");
    }

    void CheckSpeaker() {
        if (!m_usbUp) {
            Add("speaker", "Speaker", Verdict::Skip, "not looked for: USB is not reachable");
            return;
        }
        std::vector<dormane::UsbDeviceInfo> devices;
        const dormane::UsbResult r = rmBackend()->Enumerate(devices);
        if (r != dormane::UsbResult::Ok) {
            Add("speaker", "Speaker", Verdict::Fail,
                std::string("the USB devices cannot be listed (") + dormane::UsbResultName(r) + ")",
                "Check that /dev/bus/usb can be read, then run doctor again.");
            return;
        }
        uint16_t pid = 0;
        std::string versionText;
        if (dormane::FindUsbSpeakerInHardwareIds(dormane::HardwareIdLists(devices), pid,
                                                 versionText) == dormane::kSpeakerFound) {
            m_speakerFound = true;
            m_pid = pid;
            Add("speaker", "Speaker", Verdict::Ok,
                "USB " + Hex4(kSpeakerVid) + ":" + Hex4(pid) + ", release " + versionText);
            return;
        }
        bool otherDevice = false;
        for (const auto& d : devices)
            otherDevice = otherDevice || d.vid == kSpeakerVid;
        if (otherDevice)
            Add("speaker", "Speaker", Verdict::Fail,
                "a device of vendor " + Hex4(kSpeakerVid) +
                    " is connected, but it has no audio interface: it is not the speaker",
                "Connect the speaker itself by USB and switch it on.");
        else
            Add("speaker", "Speaker", Verdict::Fail,
                "no device of vendor " + Hex4(kSpeakerVid) + " on the USB bus",
                "Connect the speaker by USB, switch it on, and run doctor again.");
    }

    void CheckAccess() {
        if (!m_speakerFound) {
            Add("access", "Speaker access", Verdict::Skip, "not tried: no speaker found");
            return;
        }
        // Opens each matching device and reads one register: no write reaches the speaker.
        if (rmSelectAudioDevice(kSpeakerVid, m_pid) > 0) {
            m_accessOk = true;
            Add("access", "Speaker access", Verdict::Ok,
                "the speaker can be opened and answers vendor requests");
            return;
        }
        const dormane::UsbResult why = rmLastError();
        if (why != dormane::UsbResult::NoPermission) {
            Add("access", "Speaker access", Verdict::Fail,
                std::string("the speaker does not answer vendor requests (") +
                    dormane::UsbResultName(why) + ")",
                "Unplug the speaker, plug it in again, switch it on and run doctor again.");
            return;
        }
        const AccessSetup setup = CheckAccessSetup();
        Add("access", "Speaker access", Verdict::Fail,
            "this user may not open the speaker" +
                (setup.ready ? ", although the access setup is in place (" + setup.detail + ")"
                             : std::string(": ") + setup.detail),
            setup.ready ? "Unplug the speaker and plug it in again. On Linux the rule gives "
                          "access to the user logged in at this machine's seat, not to a remote "
                          "(SSH) session."
                        : setup.advice);
    }

    // Reads the image on the EEPROM with the engine's own checks; unlike an attach it never
    // writes (no size probe), so it reads with the transport's initial addressing.
    void CheckFirmware() {
        if (!m_accessOk) {
            Add("firmware", "Speaker firmware", Verdict::Skip,
                "not read: the speaker cannot be opened");
            return;
        }
        if (rmDeviceStart(kSpeakerVid, m_pid) == 0) {
            Add("firmware", "Speaker firmware", Verdict::Fail, "the speaker could not be selected",
                "Unplug the speaker, plug it in again, switch it on and run doctor again.");
            return;
        }
        const dormane::UsbDeviceInfo* selected = rmSelectedDevice();
        const std::string journalKey = selected ? selected->journalKey : std::string();
        UpdateManager reader;
        FWInfo info;
        const int r = reader.ReadFWInfoDevice(&info);
        rmDeviceStop();
        const auto left = dormane::journal::Find(journalKey);
        if (r == st::kFailure) {
            Add("firmware", "Speaker firmware", Verdict::Fail,
                "the speaker's EEPROM could not be read",
                "Keep the speaker switched on, unplug it and plug it in again, then run doctor "
                "again.");
            return;
        }
        if (r != st::kSuccess) {
            std::string advice =
                "Repair it with: " + CommandLine(m_ctx, "set enable") + " (or: set disable).";
            if (const auto newest = dormane::backup::NewestBackup(kSpeakerVid, m_pid))
                advice += " Or put back the newest backup (firmware " + Hex4(newest->fwVersion) +
                          ") with: " + CommandLine(m_ctx, "flash " + QuoteForShell(newest->path));
            Add("firmware", "Speaker firmware", Verdict::Fail,
                "the speaker's firmware is damaged: its EEPROM holds no valid image", advice);
            return;
        }
        if (left &&
            dormane::journal::DigestOf(info.Data.get(), info.TotalSize) != left->imageDigest) {
            Add("firmware", "Speaker firmware", Verdict::Fail,
                "firmware " + Hex4(info.FWVer) + ", but the last burn (" + left->image +
                    ", started " + left->started + ") did not finish",
                left->backupFw != 0 ? "Restore the firmware it had before with: " +
                                          CommandLine(m_ctx, "flash " + QuoteForShell(left->backup))
                                    : "Write a whole image again with: " +
                                          CommandLine(m_ctx, "set enable") + " (or: set disable).");
            return;
        }
        Add("firmware", "Speaker firmware", Verdict::Ok,
            "firmware " + Hex4(info.FWVer) + ": " + SettingOf(info.FWVer));
    }

    void CheckAccessSetupStep() {
        const AccessSetup setup = CheckAccessSetup();
        if (setup.ready)
            Add(AccessSetupId(), AccessSetupTitle(), Verdict::Ok, setup.detail);
        else
            Add(AccessSetupId(), AccessSetupTitle(), Verdict::Warn, setup.detail, setup.advice);
    }

    void CheckSettings() {
        namespace settings = dormane::settings;
        const std::string file = settings::SettingsLocation();
        const SettingsStoreState store = SettingsStore();
        if (store == SettingsStoreState::Missing) {
            Add("settings", "Settings and log", Verdict::Ok,
                "no settings yet (" + file + "); the diagnostic log is off", SettingsHowTo());
            return;
        }
        if (store == SettingsStoreState::Unreadable) {
            Add("settings", "Settings and log", Verdict::Warn,
                file + " cannot be read; the diagnostic log stays off",
                "Make it a readable file of yours, or delete it (it is created anew).");
            return;
        }
        const auto enable = settings::ReadSetting("EnableLog");
        const auto type = settings::ReadSetting("LogType");
        if (!enable || *enable == 0) {
            Add("settings", "Settings and log", Verdict::Ok,
                file + ": the diagnostic log is off (EnableLog " +
                    (enable ? std::to_string(*enable) : std::string("not set")) + ")");
            return;
        }
        if (type && *type == 0) {
            Add("settings", "Settings and log", Verdict::Ok,
                file + ": the diagnostic log is on, to " + DebugOutputName() +
                    " (LogType 0; --trace shows it on standard error)");
            return;
        }
        // The log refuses a file in its place that is not a regular file of this user.
        const std::string log = settings::LogFilePath();
        if (dormane::files::Exists(log) && !dormane::files::IsOwnRegularFile(log)) {
            Add("settings", "Settings and log", Verdict::Warn,
                "the diagnostic log is on, but " + log +
                    " is not a regular file of this user, so no log is written",
                "Delete " + log + ", or set TMPDIR to a folder of your own.");
            return;
        }
        std::string why;
        if (!ProbeWritable(settings::SystemTempFolder(), why)) {
            Add("settings", "Settings and log", Verdict::Warn,
                "the diagnostic log is on, but " + settings::SystemTempFolder() +
                    " cannot be written (" + why + ")",
                TempFolderAdvice());
            return;
        }
        Add("settings", "Settings and log", Verdict::Ok,
            file + ": the diagnostic log is on, written to " + log);
    }

    void CheckFolder(const char* id, const char* title, const std::string& folder, bool made,
                     const char* use) {
        std::string why;
        if (!made)
            Add(id, title, Verdict::Fail, folder + " cannot be created",
                std::string("Make sure the folder above it can be written; ") + use + ".");
        else if (!ProbeWritable(folder, why))
            Add(id, title, Verdict::Fail, folder + " cannot be written (" + why + ")",
                std::string("Make the folder writable for this user; ") + use + ".");
        else
            Add(id, title, Verdict::Ok, folder + " is writable");
    }

    void CheckTempFolder() {
        // Made as the wizard makes it at start-up.
        const bool made = dormane::InitLocalAppPaths() != 0;
        CheckFolder("temp-folder", "Temp folder", dormane::TempFolder(), made,
                    "the downloaded firmware image is kept there");
    }

    void CheckBackupFolder() {
        const std::string folder = dormane::backup::BackupFolder();
        CheckFolder("backup-folder", "Backup folder", folder,
                    dormane::MakeFolders(folder, 0700) != 0,
                    "a backup of the speaker's firmware is written there before every burn");
    }

    void CheckNetwork() {
        if (dormane::IsNetworkAlive() == dormane::kNetworkAlive)
            Add("network", "Network", Verdict::Ok, "a network interface is up");
        else
            Add("network", "Network", Verdict::Fail,
                "no network interface other than loopback is up",
                "Connect to a network. Without one, \"dormane-cli flash FILE\" still burns an "
                "image file you already have.");
    }

    void CheckFirmwareServer() {
        const std::string& base = m_options.baseUrl;
        const char* advice = FirmwareServerAdvice();
        ScratchFolder scratch;
        if (scratch.path().empty()) {
            Add("firmware-server", "Firmware server", Verdict::Fail,
                "no scratch folder for the test download in " +
                    dormane::settings::SystemTempFolder(),
                "Set TMPDIR to a folder you can write.");
            return;
        }
        dormane::SetDownloadOptions({base, m_options.caFile});
        const FirmwarePathOverride target(scratch.path() + "/" + dormane::kFirmwareFileName);
        UpdateManager reader;
        std::string found;
        for (const bool enable : {true, false}) {
            const uint16_t expected = enable ? 0x0813 : 0x0803;
            const std::string url = dormane::FirmwareUrl(enable, base);
            const int code = dormane::DownloadFile(url);
            if (code != dormane::kDownloadOk) {
                Add("firmware-server", "Firmware server", Verdict::Fail,
                    url + " cannot be fetched: " + dormane::DescribeDownloadResult(code) +
                        " (code " + std::to_string(code) + ")",
                    advice);
                return;
            }
            FWInfo info;
            const int status = reader.ReadFWInfoFile(dormane::g_strFirmwarePath.c_str(), &info);
            if (status != st::kSuccess) {
                Add("firmware-server", "Firmware server", Verdict::Fail,
                    url + " answers, but not with a valid firmware image (" + st::Describe(status) +
                        ")",
                    advice);
                return;
            }
            if (info.FWVer != expected) {
                Add("firmware-server", "Firmware server", Verdict::Fail,
                    url + " holds firmware " + Hex4(info.FWVer) + ", not " + Hex4(expected),
                    "The server or mirror holds the wrong images; use the maker's server.");
                return;
            }
            found += (found.empty() ? "" : " and ") + Hex4(info.FWVer);
        }
        Add("firmware-server", "Firmware server", Verdict::Ok,
            base + " answers with both images (firmware " + found + ")");
    }

    void CheckSleepInhibitor() {
        const auto inhibitor = dormane::CurrentSleepInhibitor();
        std::unique_ptr<dormane::InhibitLock> lock;
        std::string reason;
        if (inhibitor->Take("Checking that a firmware update can keep the machine awake", lock,
                            reason) == st::kSuccess)
            Add("sleep-inhibitor", "Sleep inhibitor", Verdict::Ok,
                std::string(inhibitor->Name()) +
                    " grants the lock that keeps the machine awake during a burn");
        else
            Add("sleep-inhibitor", "Sleep inhibitor", Verdict::Warn,
                std::string("no ") + inhibitor->Name() + " lock: " + reason +
                    "; a burn goes on without it",
                "Keep the machine from sleeping or shutting down while a burn runs.");
    }

    const DoctorOptions& m_options;
    const CliContext& m_ctx;
    bool m_accessOk = false;
    std::vector<Check> m_checks;
    bool m_usbUp = false;
    bool m_speakerFound = false;
    uint16_t m_pid = kSpeakerDefaultPid;
};

void RunDoctor(const DoctorOptions& options, CliContext& ctx) {
    if (int r = PrepareBackend(ctx); r != 0) {
        ctx.exitCode = r;
        return;
    }
    const std::vector<Check> checks = Doctor(options, ctx).Run();
    int failed = 0;
    int warned = 0;
    for (const Check& c : checks) {
        failed += c.verdict == Verdict::Fail;
        warned += c.verdict == Verdict::Warn;
    }
    ctx.exitCode = failed ? st::kFailure : 0;

    nlohmann::json list = nlohmann::json::array();
    for (const Check& c : checks)
        list.push_back(
            {{"id", c.id},
             {"title", c.title},
             {"verdict", VerdictName(c.verdict)},
             {"message", c.message},
             {"advice", c.advice.empty() ? nlohmann::json(nullptr) : nlohmann::json(c.advice)}});
    nlohmann::json result{
        {"status", ctx.exitCode}, {"failed", failed}, {"warnings", warned}, {"checks", list}};
    ReportResult report;
    if (!options.report.empty()) {
        report = WriteSupportReport(options.report, result);
        if (report.written) {
            result["report"] = {{"path", options.report}, {"files", report.files}};
        } else {
            Complain(ctx, "the support report could not be written: " + report.reason);
            ctx.exitCode = st::kFailure;
            result["status"] = ctx.exitCode;
            result["error"] = ctx.error;
        }
    }

    if (ctx.json) {
        PrintJson(ctx, result);
        return;
    }
    for (const Check& c : checks) {
        const char* mark = c.verdict == Verdict::Ok     ? " ok "
                           : c.verdict == Verdict::Warn ? "warn"
                           : c.verdict == Verdict::Fail ? "FAIL"
                                                        : "skip";
        std::printf("[%s] %s: %s\n", mark, c.title.c_str(), c.message.c_str());
        if (!c.advice.empty() && (c.verdict == Verdict::Fail || c.verdict == Verdict::Warn))
            std::printf("       what to do: %s\n", c.advice.c_str());
    }
    if (failed == 0 && warned == 0)
        std::printf("Everything a firmware update needs is in place.\n");
    else
        std::printf("%d problem(s), %d warning(s).\n", failed, warned);
    if (report.written)
        std::printf("Support report written to %s (%zu files); attach it to your bug report.\n",
                    options.report.c_str(), report.files.size());
}

void AddDoctor(CLI::App& app, CliContext& ctx) {
    auto options = std::make_shared<DoctorOptions>();
    CLI::App* cmd = app.add_subcommand(
        "doctor", "Check what a firmware update needs: USB, the speaker and the permission to "
                  "open it (udev rule), the settings and log, the temp and backup folders, the "
                  "network, the firmware server and the sleep inhibitor; each with a verdict "
                  "and what to do. Nothing is written to the speaker. Exit status: 0 no "
                  "problem (warnings allowed), 1 a check failed or the report could not be "
                  "written.");
    cmd->add_option("--firmware-base-url", options->baseUrl,
                    "Firmware server, mirror or file:// folder to try (default " +
                        std::string(dormane::kFirmwareBaseUrl) + ")");
    cmd->add_option("--ca-file", options->caFile, "Also trust this CA certificate (PEM)");
    cmd->add_option("--report", options->report,
                    "Also write a support report to FILE.tar.gz: doctor's JSON, versions of "
                    "the program, the system and its libraries, the diagnostic log, the newest "
                    "recording, the burn journal and the list of backups (README says more)");
    cmd->callback([options, &ctx] { RunDoctor(*options, ctx); });
}

CommandRegistrar registrar(70, &AddDoctor);

} // namespace
