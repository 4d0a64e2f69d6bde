#pragma once

#include <cstdint>

// Status codes of every engine operation. Callers compare for equality; the values are
// single bits above 0 and 1 but are never masked.
namespace dormane::status {

inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;         // bad argument, no core, no memory, no answer
inline constexpr int kNoDevice = 16;       // nothing attached, or not identified
inline constexpr int kFileOpenFailed = 32; // firmware file cannot be opened
inline constexpr int kIncompatible = 64;   // image does not belong to the attached speaker
inline constexpr int kInvalidImage = 128;  // magic word, configuration, checksum, extension
// Another program (or user) is attaching or burning this speaker; nothing was done.
inline constexpr int kSpeakerBusy = 4096;

// Burn states returned by GteUpdateProgress.
inline constexpr int kBurnIdle = 256;
inline constexpr int kBurnRunning = 512;
inline constexpr int kBurnVerified = 1024;
inline constexpr int kBurnFailed = 2048;

// Short English meaning of a status or burn-state value, for the command line.
const char* Describe(int code);

} // namespace dormane::status
