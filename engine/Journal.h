#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The burn journal: before its first write a burn records which speaker, which image and
// which backup, and when; the end of its read-back removes the record. A record found later
// means the burn was cut off (a killed process, power loss, an unplug) and the speaker may
// hold half an image: the programs then say so and name the way back.
//
// Records live in $XDG_STATE_HOME/dormane/journal/, one per speaker (named after the
// speaker's journal key), written whole or not at all.
namespace dormane::journal {

struct Entry {
    std::string speaker; // the speaker's journal key
    uint16_t vid = 0;    // the IDs it was attached with
    uint16_t pid = 0;
    std::string image;    // the image file burned
    uint16_t imageFw = 0; // its firmware version word
    uint32_t imageSize = 0;
    std::string imageDigest; // KeyDigest of the image bytes
    std::string backup;      // the backup saved before the burn
    uint16_t backupFw = 0;   // the firmware the backup holds; 0 for a raw EEPROM copy
    std::string started;     // local time, "YYYY-MM-DD HH:MM:SS"
};

std::string JournalFolder();
std::string JournalPath(const std::string& speakerKey);

// Writes the record (replacing one left behind); false with reason when it cannot be saved.
bool Write(const Entry& entry, std::string& reason);
// The record left behind for this speaker, if any.
std::optional<Entry> Find(const std::string& speakerKey);
void Remove(const std::string& speakerKey);

// Digest of image bytes, as Entry::imageDigest holds it.
std::string DigestOf(const uint8_t* data, uint32_t size);

} // namespace dormane::journal
