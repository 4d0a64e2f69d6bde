#include "Discovery.h"

#include <cstddef>
#include <string_view>

namespace dormane {

namespace {

constexpr std::size_t kPrefixLength = 17; // "USB\VID_0D8C&PID_"
constexpr std::size_t kFieldLength = 4;
constexpr std::size_t kRevisionOffset = kPrefixLength + kFieldLength + 5; // + "&REV_"

// The hardware IDs are ASCII; a locale must not change how they compare.
std::string ToUpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Up to count characters from pos; what there is when the text is shorter, maybe nothing.
std::string_view Field(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos >= text.size())
        return {};
    return text.substr(pos, count);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Leading hexadecimal digits only; none give 0.
uint16_t ParseHex16(std::string_view text) {
    uint32_t value = 0;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0)
            break;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return static_cast<uint16_t>(value & 0xFFFF);
}

// "v" + major + "." + minor, where a leading zero of the major part and a trailing zero
// of the minor part are dropped: 0813 -> v8.13, 0800 -> v8.0, 1210 -> v12.1.
std::string VersionTextFromRevision(std::string_view rev) {
    std::string_view first = Field(rev, 0, 1);
    std::string_view major = first == "0" ? Field(rev, 1, 1) : Field(rev, 0, 2);
    std::string_view last = rev.empty() ? std::string_view{} : rev.substr(rev.size() - 1);
    std::string_view minor =
        last == "0" ? Field(rev, 2, 1) : rev.substr(rev.size() >= 2 ? rev.size() - 2 : 0);
    std::string text = "v";
    text += major;
    text += '.';
    text += minor;
    return text;
}

} // namespace

int FindUsbSpeakerInHardwareIds(const std::vector<std::vector<std::string>>& lists, uint16_t& pid,
                                std::string& versionText) {
    const std::string_view prefix = kSpeakerHardwareIdPrefix;
    for (const auto& list : lists) {
        if (list.empty())
            continue;
        const std::string id = ToUpperAscii(list.front());
        const std::size_t p = id.find(prefix);
        if (p == std::string::npos)
            continue;
        const std::string_view view = id;
        pid = ParseHex16(Field(view, p + kPrefixLength, kFieldLength));
        versionText = VersionTextFromRevision(Field(view, p + kRevisionOffset, kFieldLength));
        return kSpeakerFound;
    }
    return kSpeakerNotFound;
}

} // namespace dormane
