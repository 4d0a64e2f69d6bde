#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// The wizard's command line: the same meaning as the command line tool's options.
struct WizardOptions {
    std::optional<std::string> scenario;   // --simulate[=SCENARIO]; empty string: the defaults
    std::string firmwareBaseUrl;           // --firmware-base-url; empty: the maker's server
    std::string caFile;                    // --ca-file
    std::string recordFile;                // --record FILE; empty: no recording
    std::vector<std::string> platformArgs; // what is left for Qt (-platform offscreen, ...)
};

// Parses argv. Returns -1 when the wizard should start, otherwise the exit status after
// --help, --version (0) or a usage error (2), with the text written to out or err.
int ParseWizardOptions(int argc, const char* const* argv, WizardOptions& options, std::ostream& out,
                       std::ostream& err);

// Whether Qt can open a window: a platform was chosen (QT_QPA_PLATFORM or -platform), or an
// X11 or Wayland display is set.
bool DisplayAvailable(const WizardOptions& options);

// What to say where there is no display: the same switch with the command line tool.
std::string NoDisplayHint(const WizardOptions& options);

// Chooses the USB backend (the simulated speaker for --simulate) and the download settings,
// before the engine starts. False with error set when the scenario is not valid.
bool ApplyWizardOptions(const WizardOptions& options, std::string& error);

// The whole program: options, the application object, the wizard. Returns the exit status.
int RunDormane(int argc, char** argv);
