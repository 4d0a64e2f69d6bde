#pragma once

#include "Command.h"

#include "FWUpdateInterface.h"

#include <cstdint>
#include <memory>
#include <string>

inline constexpr uint16_t kSpeakerVid = 0x0D8C;
inline constexpr uint16_t kSpeakerDefaultPid = 0x0082;
inline constexpr int kExitBurnFailed = 3;
inline constexpr int kExitDownloadFailed = 4;

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
std::string ExplainAttachFailure(const AttachResult& result);

// "enabled" (0x0813), "disabled" (0x0803), or "unsupported".
const char* AutoStandbyOf(uint16_t fwVersion);

// Starts the burn of file, shows its progress until it ends and reports the result.
// Returns the exit status: 0 burned and verified, the refusal's status, or 3.
int BurnWithProgress(FWUpdateInterface& engine, const std::string& file, CliContext& ctx);

// Parses decimal or 0x-prefixed hex; false when the text is not such a number.
bool ParseUnsigned(const std::string& text, uint64_t& value);
