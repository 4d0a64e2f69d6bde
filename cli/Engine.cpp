#include "Engine.h"
#include "Platform.h"

#include "Backup.h"
#include "BurnShield.h"
#include "Discovery.h"
#include "Status.h"
#include "Transport.h"
#include "UpdateManager.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

void PrintBar(int progress) {
    constexpr int width = 40;
    const int filled = progress * width / 100;
    std::printf("\rBurning [%s%s] %3d%%", std::string(filled, '#').c_str(),
                std::string(width - filled, '.').c_str(), progress);
    std::fflush(stdout);
}

} // namespace

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

bool ParseUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end,
                          text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? 16 : 10);
    return end && *end == '\0' && errno == 0;
}

int OpenEngine(CliContext& ctx, std::unique_ptr<FWUpdateInterface>& engine) {
    if (int r = PrepareBackend(ctx); r != 0)
        return r;
    engine = std::make_unique<FWUpdateInterface>();
    const int r = engine->Init();
    if (r != dormane::status::kSuccess) {
        Complain(ctx, "the USB subsystem could not be initialised (status " + std::to_string(r) +
                          "); is USB available on this machine?");
        return r;
    }
    return 0;
}

AttachResult AttachSpeaker(FWUpdateInterface& engine, uint16_t pid, bool withDiscovery) {
    AttachResult result;
    result.pid = pid;
    result.status = engine.AttachDevice(kSpeakerVid, pid);
    // A busy speaker was found; looking for it elsewhere would only wait for it again.
    if (result.status == dormane::status::kSuccess ||
        result.status == dormane::status::kSpeakerBusy || !withDiscovery)
        return result;
    result.discoveryRan = true;
    uint16_t foundPid = 0xFFFF;
    std::string versionText;
    if (dormane::FindUsbSpeaker(foundPid, versionText) == dormane::kSpeakerFound) {
        result.versionText = versionText;
        result.pid = foundPid;
        result.status = engine.AttachDevice(kSpeakerVid, foundPid);
    }
    return result;
}

bool StartSession(CliContext& ctx, const std::string& pidText, bool withDiscovery,
                  bool requireAttached, std::unique_ptr<FWUpdateInterface>& engine,
                  AttachResult& attach) {
    uint64_t pid = kSpeakerDefaultPid;
    if (!pidText.empty() && (!ParseUnsigned(pidText, pid) || pid > 0xFFFF)) {
        Complain(ctx, "--pid takes a product ID such as 0x0082");
        ctx.exitCode = kExitUsage;
        return false;
    }
    if (int r = OpenEngine(ctx, engine); r != 0) {
        ctx.exitCode = r;
        return false;
    }
    attach = AttachSpeaker(*engine, static_cast<uint16_t>(pid), withDiscovery);
    const UpdateManager* core = engine->Core();
    // A busy speaker, or one the attach could not leave as it found it, ends every command.
    const bool mustStop = attach.status == dormane::status::kSpeakerBusy ||
                          (core && (core->RestoreFailed() || !core->LockProblem().empty()));
    if ((requireAttached || mustStop) && attach.status != dormane::status::kSuccess) {
        Complain(ctx, ExplainAttachFailure(attach, core));
        ctx.exitCode = ExitCodeOf(attach.status);
        return false;
    }
    if (core)
        ReportLeftJournal(ctx, *core);
    return true;
}

int ExitCodeOf(int engineStatus) {
    return engineStatus == dormane::status::kSpeakerBusy ? kExitSpeakerBusy : engineStatus;
}

std::string CommandLine(const CliContext& ctx, const std::string& rest) {
    std::string line = "dormane-cli";
    if (ctx.scenario)
        line +=
            ctx.scenario->empty() ? " --simulate" : " --simulate=" + QuoteForShell(*ctx.scenario);
    return line + " " + rest;
}

std::string RestoreAdvice(const CliContext& ctx, const UpdateManager& core) {
    std::string backup = core.LastBackupPath();
    if (backup.empty() ||
        !dormane::backup::FirmwareOfBackup(backup, core.AttachedVid(), core.AttachedPid())) {
        const auto newest = dormane::backup::NewestBackup(core.AttachedVid(), core.AttachedPid());
        backup = newest ? newest->path : std::string();
    }
    if (!backup.empty())
        return "To put back the firmware the speaker had before, keep it on and run: " +
               CommandLine(ctx, "flash " + QuoteForShell(backup));
    return "No backup of a valid image of this speaker is at hand; keep the speaker on and "
           "write a fresh image with: " +
           CommandLine(ctx, "set enable") + " (or: set disable)";
}

void ReportLeftJournal(CliContext& ctx, const UpdateManager& core) {
    const auto& left = core.LeftJournal();
    if (!left)
        return;
    std::string text = "The last burn of this speaker (" + left->image + ", started " +
                       left->started + ") did not finish";
    if (!left->backup.empty() && left->backupFw != 0)
        text += ". To restore the firmware it had before (" + Hex4(left->backupFw) +
                "), keep the speaker on and run: " +
                CommandLine(ctx, "flash " + QuoteForShell(left->backup));
    else
        text += ". " + RestoreAdvice(ctx, core);
    std::fprintf(stderr, "dormane-cli: %s\n", text.c_str()); // a notice, not the run's error
}

std::string DamagedAdvice(const CliContext& ctx, const UpdateManager& core) {
    std::string text = "The speaker's firmware is damaged: its EEPROM holds no valid image (a "
                       "burn that was cut off leaves it so). Repair it with: " +
                       CommandLine(ctx, "set enable") + " (or: set disable)";
    if (const auto newest = dormane::backup::NewestBackup(core.AttachedVid(), core.AttachedPid()))
        text += ", or put back the newest backup (firmware " + Hex4(newest->fwVersion) +
                ") with: " + CommandLine(ctx, "flash " + QuoteForShell(newest->path));
    return text + ".";
}

std::string SettingOf(uint16_t fwVersion) {
    if (fwVersion == 0x0813)
        return "auto-standby enabled (firmware 8.13: standby after 20 idle minutes)";
    if (fwVersion == 0x0803)
        return "auto-standby disabled (firmware 8.03: always on)";
    return "firmware " + Hex4(fwVersion) + ", which is neither of the two auto-standby settings";
}

std::string ExplainAttachFailure(const AttachResult& result, const UpdateManager* core) {
    char ids[64];
    std::snprintf(ids, sizeof ids, "%04X:%04X", kSpeakerVid, result.pid);
    if (result.status == dormane::status::kSpeakerBusy)
        return std::string("The speaker (USB ") + ids + ") is busy: " +
               (core ? core->BusyHolder().Describe() : std::string("another program")) +
               " is using it. Wait until it has finished, then try again.";
    if (core && !core->LockProblem().empty())
        return "The speaker cannot be locked against other programs (" + core->LockProblem() +
               "), so nothing was done.";
    if (core && core->RestoreFailed())
        return std::string("The speaker (USB ") + ids +
               ") answered, but its EEPROM could not be put back as it was: its first bytes "
               "could not be restored after the size probe. Its firmware is damaged now; keep "
               "it on and repair it with: dormane-cli set enable (or: set disable).";
    if (rmLastError() == dormane::UsbResult::NoPermission)
        return std::string("The speaker (USB ") + ids + ") is connected, but " + NoAccessAdvice();
    if (rmLastError() == dormane::UsbResult::Ok && rmSelectedDevice())
        return std::string("The speaker (USB ") + ids +
               ") answered, but its EEPROM or chip revision could not be identified.";
    return std::string("No speaker found (USB ") + ids +
           "). Check that it is connected and switched on.";
}

const char* AutoStandbyOf(uint16_t fwVersion) {
    if (fwVersion == 0x0813)
        return "enabled";
    if (fwVersion == 0x0803)
        return "disabled";
    return "unsupported";
}

namespace {

// Why the engine refused an image, in the user's terms.
std::string RefusalReason(int status, const UpdateManager& core, uint16_t requiredFwVer) {
    namespace st = dormane::status;
    const FWInfo& image = core.FileImage();
    if (status == st::kSpeakerBusy)
        return "the speaker is busy: " + core.BusyHolder().Describe() + " is using it";
    if (status == st::kFailure && !core.LockProblem().empty())
        return "the speaker cannot be locked against other programs (" + core.LockProblem() + ")";
    if (status == st::kFailure && !core.SaveProblem().empty())
        return core.SaveProblem();
    if (status == st::kIncompatible && requiredFwVer != 0 && image.FWVer != requiredFwVer &&
        image.ChipVer == core.DeviceImage().ChipVer && image.VID == core.AttachedVid())
        return "the image holds firmware " + Hex4(image.FWVer) + ", not the " +
               (requiredFwVer == 0x0813 ? "8.13 that enable" : "8.03 that disable") + " needs";
    if (status == st::kIncompatible && core.EepromBroken() && image.VID != core.AttachedVid())
        return "the image is built for USB vendor " + Hex4(image.VID) +
               "; after it the speaker would no longer be found";
    return st::Describe(status);
}

} // namespace

int BurnWithProgress(FWUpdateInterface& engine, const std::string& file, CliContext& ctx,
                     uint16_t requiredFwVer) {
    namespace st = dormane::status;
    dormane::ClearArrivedSignal();
    const int started = engine.UpdateFirmware(file.c_str(), requiredFwVer);
    const UpdateManager& core = *engine.Core();
    if (started != st::kSuccess) {
        const std::string reason = RefusalReason(started, core, requiredFwVer);
        Complain(ctx, "the image was refused: " + reason + " (status " + std::to_string(started) +
                          "). Nothing was written.");
        if (ctx.json)
            PrintJson(ctx, {{"event", "result"},
                            {"status", ExitCodeOf(started)},
                            {"state", nullptr},
                            {"message", reason},
                            {"error", ctx.error}});
        return ExitCodeOf(started);
    }
    const std::string backup = core.LastBackupPath();
    const uint16_t burning = core.FileImage().FWVer;
    if (ctx.json)
        PrintJson(ctx, nlohmann::json{{"event", "started"},
                                      {"backup", backup},
                                      {"fwVersion", Hex4(burning)},
                                      {"setting", SettingOf(burning)}});
    else
        std::printf("Backup of the speaker's firmware: %s\nWriting %s.\n", backup.c_str(),
                    SettingOf(burning).c_str());
    std::fflush(stdout);

    const bool terminal = !ctx.json && StdoutIsTerminal();
    int lastShown = -1;
    bool warned = false;
    int state = st::kBurnRunning;
    int progress = 0;
    for (;;) {
        state = engine.GteUpdateProgress(&progress);
        if (progress != lastShown) {
            if (ctx.json)
                PrintJson(ctx, {{"event", "progress"}, {"progress", progress}, {"state", state}});
            else if (terminal)
                PrintBar(progress);
            else
                std::printf("progress %d%%\n", progress);
            std::fflush(stdout);
            lastShown = progress;
        }
        if (state != st::kBurnRunning)
            break;
        if (dormane::ArrivedSignal() != 0 && !warned) {
            warned = true;
            std::fprintf(stderr, "\nThe burn is running and cannot be stopped. Keep the speaker "
                                 "switched on and connected; dormane-cli ends when the burn has "
                                 "finished.\n");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (terminal)
        std::printf("\n");

    const bool ok = state == st::kBurnVerified;
    if (ctx.json) {
        nlohmann::json result{{"event", "result"},
                              {"status", ok ? 0 : kExitBurnFailed},
                              {"state", state},
                              {"message", st::Describe(state)}};
        if (!ok)
            result["restore"] = RestoreAdvice(ctx, core);
        PrintJson(ctx, result);
    } else if (ok) {
        std::printf("The firmware was written and verified. Switch the speaker off and on again "
                    "to start it with the new setting.\n");
    } else {
        std::fprintf(stderr,
                     "The burn failed (state %d): the EEPROM did not read back equal to the "
                     "image. Keep the speaker on and run the same command again. %s\n",
                     state, RestoreAdvice(ctx, core).c_str());
    }
    return ok ? 0 : kExitBurnFailed;
}
