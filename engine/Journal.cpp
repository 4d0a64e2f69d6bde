#include "Journal.h"

#include "Backup.h"
#include "FileSystem.h"
#include "Settings.h"
#include "SpeakerLock.h"
#include "Status.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

namespace dormane::journal {

namespace {

constexpr size_t kMaxRecord = 16 * 1024;

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

uint16_t ParseHex4(const std::string& text) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    return end && *end == '\0' && value <= 0xFFFF ? static_cast<uint16_t>(value) : 0;
}

} // namespace

std::string JournalFolder() {
    return files::JoinPath(settings::DataFolder(), "journal");
}

std::string JournalPath(const std::string& speakerKey) {
    return files::JoinPath(JournalFolder(), "burn-" + KeyDigest(speakerKey) + ".txt");
}

std::string DigestOf(const uint8_t* data, uint32_t size) {
    return KeyDigest(std::string(reinterpret_cast<const char*>(data), size));
}

bool Write(const Entry& entry, std::string& reason) {
    const std::string folder = JournalFolder();
    if (!files::MakePrivateFolders(folder)) {
        reason = "cannot create the folder " + folder + ": " + files::LastErrorText();
        return false;
    }
    std::ostringstream text;
    text << "speaker=" << entry.speaker << "\n"
         << "vid=" << Hex4(entry.vid) << "\n"
         << "pid=" << Hex4(entry.pid) << "\n"
         << "image=" << entry.image << "\n"
         << "image-fw=" << Hex4(entry.imageFw) << "\n"
         << "image-size=" << entry.imageSize << "\n"
         << "image-digest=" << entry.imageDigest << "\n"
         << "backup=" << entry.backup << "\n"
         << "backup-fw=" << Hex4(entry.backupFw) << "\n"
         << "started=" << entry.started << "\n";
    const std::string body = text.str();
    // Written beside its place and renamed over it, so that a power loss leaves the old
    // record or the new one, never half of one.
    const std::string path = JournalPath(entry.speaker);
    const std::string temp = path + ".new-" + std::to_string(files::CurrentProcessId());
    files::RemoveFile(temp);
    if (backup::WriteNewFile(temp, reinterpret_cast<const uint8_t*>(body.data()),
                             static_cast<uint32_t>(body.size()), reason) != status::kSuccess)
        return false;
    if (!files::MoveIntoPlace(temp, path, reason)) {
        files::RemoveFile(temp);
        return false;
    }
    return true;
}

std::optional<Entry> Find(const std::string& speakerKey) {
    if (speakerKey.empty())
        return std::nullopt;
    std::string record;
    if (!files::ReadSmallFile(JournalPath(speakerKey), kMaxRecord, record))
        return std::nullopt;
    std::istringstream in(record);
    Entry entry;
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "speaker")
            entry.speaker = value;
        else if (key == "vid")
            entry.vid = ParseHex4(value);
        else if (key == "pid")
            entry.pid = ParseHex4(value);
        else if (key == "image")
            entry.image = value;
        else if (key == "image-fw")
            entry.imageFw = ParseHex4(value);
        else if (key == "image-size")
            entry.imageSize = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        else if (key == "image-digest")
            entry.imageDigest = value;
        else if (key == "backup")
            entry.backup = value;
        else if (key == "backup-fw")
            entry.backupFw = ParseHex4(value);
        else if (key == "started")
            entry.started = value;
    }
    // A record of another speaker whose key has the same digest is not this one's.
    if (entry.speaker != speakerKey)
        return std::nullopt;
    return entry;
}

void Remove(const std::string& speakerKey) {
    if (!speakerKey.empty())
        files::RemoveFile(JournalPath(speakerKey));
}

} // namespace dormane::journal
