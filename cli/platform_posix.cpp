#include "Platform.h"

#include "ShellQuote.h"

#include "FileSystem.h"
#include "Settings.h"

#include <unistd.h>

#include <csignal>

namespace {

constexpr const char* kRulesFile = "70-dormane.rules";
// Where udev looks for rules, in its own order of precedence.
constexpr const char* kRulesFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                         "/usr/local/lib/udev/rules.d", "/usr/lib/udev/rules.d",
                                         "/lib/udev/rules.d"};

std::string FindUdevRule() {
    for (const char* folder : kRulesFolders) {
        const std::string path = std::string(folder) + "/" + kRulesFile;
        if (access(path.c_str(), R_OK) == 0)
            return path;
    }
    return {};
}

} // namespace

std::vector<std::string> PrepareProcess(int argc, char** argv) {
    // A reader that goes away (dormane-cli status | head) makes a write fail, not the
    // program end: a burn must outlive its pipe.
    std::signal(SIGPIPE, SIG_IGN);
    return std::vector<std::string>(argv, argv + argc);
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

std::string QuoteForShell(const std::string& word) {
    return dormane::ShellQuote(word);
}

const char* AccessSetupId() {
    return "udev-rule";
}

const char* AccessSetupTitle() {
    return "udev rule";
}

AccessSetup CheckAccessSetup() {
    AccessSetup setup;
    const std::string rule = FindUdevRule();
    setup.ready = !rule.empty();
    if (setup.ready) {
        setup.detail = "installed: " + rule;
    } else {
        setup.detail =
            std::string(kRulesFile) + " is not installed: only root can open the speaker";
        setup.advice = std::string("Install the package, or copy ") + kRulesFile +
                       " to /etc/udev/rules.d and run \"udevadm control --reload-rules\"; then "
                       "unplug the speaker and plug it in again.";
    }
    return setup;
}

std::string NoAccessAdvice() {
    return "this user may not open it. Install the udev rule 70-dormane.rules (see README, "
           "\"USB access\"), then unplug the speaker and plug it in again.";
}

SettingsStoreState SettingsStore() {
    const std::string file = dormane::settings::SettingsFilePath();
    if (!dormane::files::Exists(file))
        return SettingsStoreState::Missing;
    std::string content;
    return dormane::files::ReadSmallFile(file, 1, content) ? SettingsStoreState::Readable
                                                           : SettingsStoreState::Unreadable;
}

const char* SettingsHowTo() {
    return "To switch the log on, write [General] EnableLog=1 LogType=1 into that file.";
}

const char* DebugOutputName() {
    return "the systemd journal at debug priority";
}

const char* FirmwareServerAdvice() {
    return "Check the address, a proxy (https_proxy) and, for a mirror with a certificate of its "
           "own, --ca-file.";
}

const char* TempFolderAdvice() {
    return "Set TMPDIR to a folder you can write.";
}
