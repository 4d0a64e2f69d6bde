#pragma once

#include "Command.h"

#include "FWUpdateInterface.h"
#include "UpdateManager.h"

#include <cstdint>
#include <memory>
#include <string>

inline constexpr uint16_t kSpeakerVid = 0x0D8C;
inline constexpr uint16_t kSpeakerDefaultPid = 0x0082;
inline constexpr int kExitBurnFailed = 3;
inline constexpr int kExitDownloadFailed = 4;
inline constexpr int kExitSpeakerBusy = 5; // another program is attaching or burning it
// --wait-replug: the burn was verified, but the speaker did not come back running it.
inline constexpr int kExitNotInEffect = 7;

// Chooses the backend, creates the engine and initialises it. Returns 0, or the exit status
// after telling the user why the engine could not start.
int OpenEngine(CliContext& ctx, std::unique_ptr<FWUpdateInterface>& engine);

struct AttachResult {
    int status = 1;   // AttachDevice's result
    uint16_t pid = 0; // the product ID it was attached with
    bool discoveryRan = false;
    std::string versionText; // from discovery, when it ran and found the speaker
};

// Attaches the speaker as the wizard's check does: VID 0x0D8C with the given product ID and,
// when that fails and discovery is allowed, with the product ID that discovery finds.
AttachResult AttachSpeaker(FWUpdateInterface& engine, uint16_t pid, bool withDiscovery);

// What every speaker command does first: parses --pid (empty: 0x0082), opens the engine and
// attaches the speaker. Returns false with ctx.exitCode set when the command cannot go on:
// a bad --pid, an engine that did not start, or (with requireAttached) no speaker attached,
// which is explained on standard error.
bool StartSession(CliContext& ctx, const std::string& pidText, bool withDiscovery,
                  bool requireAttached, std::unique_ptr<FWUpdateInterface>& engine,
                  AttachResult& attach);

// A sentence telling the user why no speaker could be attached.
std::string ExplainAttachFailure(const AttachResult& result, const UpdateManager* core = nullptr);

// The exit status for an engine status: 5 for a busy speaker, the status itself otherwise.
int ExitCodeOf(int engineStatus);

// The command line that repeats this run's global options (--simulate) before rest, quoted
// for a POSIX shell: what the user types to do rest on the same speaker.
std::string CommandLine(const CliContext& ctx, const std::string& rest);

// The way back after a burn that did not end verified: the command that restores the best
// backup there is (the one saved before this burn when it holds a valid image, else the
// newest valid backup of this speaker), or the command that downloads an image afresh.
std::string RestoreAdvice(const CliContext& ctx, const UpdateManager& core);

// Tells the user (standard error) when the attach found the journal of a burn of this
// speaker that did not finish, with the command that restores the backup saved before it.
void ReportLeftJournal(CliContext& ctx, const UpdateManager& core);

// The sentence for a speaker whose EEPROM holds no valid image, with the way to repair it.
std::string DamagedAdvice(const CliContext& ctx, const UpdateManager& core);

// "enabled" (0x0813), "disabled" (0x0803), or "unsupported".
const char* AutoStandbyOf(uint16_t fwVersion);

// "enable (firmware 8.13: standby after 20 idle minutes)" for 0x0813 and the like; a word
// of neither build gives "no auto-standby setting this tool knows".
std::string SettingOf(uint16_t fwVersion);

// Starts the burn of file, shows its progress until it ends and reports the result. A
// requiredFwVer other than 0 refuses an image of another firmware (the setting asked for).
// Returns the exit status: 0 burned and verified, the refusal's status, 5 busy, or 3.
int BurnWithProgress(FWUpdateInterface& engine, const std::string& file, CliContext& ctx,
                     uint16_t requiredFwVer = 0);

// A firmware version word or USB ID as four upper-case hex digits ("0813").
std::string Hex4(uint16_t value);

// Parses decimal or 0x-prefixed hex; false when the text is not such a number.
bool ParseUnsigned(const std::string& text, uint64_t& value);
