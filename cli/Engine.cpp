#include "Engine.h"

#include "Discovery.h"
#include "Status.h"
#include "Transport.h"
#include "UpdateManager.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

// While the burn runs, Ctrl-C and a polite kill only note the wish to stop: the burn cannot
// be cancelled, and leaving now would leave the speaker half-written.
class InterruptGuard {
public:
    InterruptGuard() {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
        g_interrupted = 0;
    }
    ~InterruptGuard() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

void PrintBar(int progress) {
    constexpr int width = 40;
    const int filled = progress * width / 100;
    std::printf("\rBurning [%s%s] %3d%%", std::string(filled, '#').c_str(),
                std::string(width - filled, '.').c_str(), progress);
    std::fflush(stdout);
}

} // namespace

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
        std::fprintf(stderr,
                     "dormane-cli: the USB subsystem could not be initialised (status %d); is "
                     "USB available on this machine?\n",
                     r);
        return r;
    }
    return 0;
}

AttachResult AttachSpeaker(FWUpdateInterface& engine, uint16_t pid, bool withDiscovery) {
    AttachResult result;
    result.pid = pid;
    result.status = engine.AttachDevice(kSpeakerVid, pid);
    if (result.status == dormane::status::kSuccess || !withDiscovery)
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
        std::fprintf(stderr, "dormane-cli: --pid takes a product ID such as 0x0082\n");
        ctx.exitCode = kExitUsage;
        return false;
    }
    if (int r = OpenEngine(ctx, engine); r != 0) {
        ctx.exitCode = r;
        return false;
    }
    attach = AttachSpeaker(*engine, static_cast<uint16_t>(pid), withDiscovery);
    if (requireAttached && attach.status != dormane::status::kSuccess) {
        std::fprintf(stderr, "dormane-cli: %s\n", ExplainAttachFailure(attach).c_str());
        ctx.exitCode = attach.status;
        return false;
    }
    return true;
}

std::string ExplainAttachFailure(const AttachResult& result) {
    char ids[64];
    std::snprintf(ids, sizeof ids, "%04X:%04X", kSpeakerVid, result.pid);
    if (rmLastError() == dormane::UsbResult::NoPermission)
        return std::string("The speaker (USB ") + ids +
               ") is connected, but this user may not open it. Install the udev rule "
               "70-dormane.rules (see README, \"USB access\"), then unplug the speaker and plug "
               "it in again.";
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

int BurnWithProgress(FWUpdateInterface& engine, const std::string& file, CliContext& ctx) {
    namespace st = dormane::status;
    InterruptGuard guard;
    const int started = engine.UpdateFirmware(file.c_str());
    if (started != st::kSuccess) {
        if (ctx.json) {
            std::printf("%s\n", nlohmann::json{{"event", "result"},
                                               {"status", started},
                                               {"state", nullptr},
                                               {"message", st::Describe(started)}}
                                    .dump()
                                    .c_str());
        } else {
            std::fprintf(
                stderr,
                "dormane-cli: the image was refused: %s (status %d). Nothing was written.\n",
                st::Describe(started), started);
        }
        return started;
    }
    const std::string backup = engine.Core() ? engine.Core()->LastBackupPath() : std::string();
    if (ctx.json)
        std::printf("%s\n",
                    nlohmann::json{{"event", "started"}, {"backup", backup}}.dump().c_str());
    else
        std::printf("Backup of the speaker's firmware: %s\n", backup.c_str());
    std::fflush(stdout);

    const bool terminal = !ctx.json && isatty(STDOUT_FILENO);
    int lastShown = -1;
    bool warned = false;
    int state = st::kBurnRunning;
    int progress = 0;
    for (;;) {
        state = engine.GteUpdateProgress(&progress);
        if (progress != lastShown) {
            if (ctx.json)
                std::printf(
                    "%s\n",
                    nlohmann::json{{"event", "progress"}, {"progress", progress}, {"state", state}}
                        .dump()
                        .c_str());
            else if (terminal)
                PrintBar(progress);
            else
                std::printf("progress %d%%\n", progress);
            std::fflush(stdout);
            lastShown = progress;
        }
        if (state != st::kBurnRunning)
            break;
        if (g_interrupted && !warned) {
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
        std::printf("%s\n", nlohmann::json{{"event", "result"},
                                           {"status", ok ? 0 : kExitBurnFailed},
                                           {"state", state},
                                           {"message", st::Describe(state)}}
                                .dump()
                                .c_str());
    } else if (ok) {
        std::printf("The firmware was written and verified. Switch the speaker off and on again "
                    "to start it with the new setting.\n");
    } else {
        std::printf("The burn failed (state %d): the EEPROM did not read back equal to the "
                    "image. Keep the speaker on and run the same command again; the backup "
                    "above holds the previous firmware.\n",
                    state);
    }
    return ok ? 0 : kExitBurnFailed;
}
