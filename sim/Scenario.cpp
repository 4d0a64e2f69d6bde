#include "Scenario.h"

#include "Eeprom24C.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace dormane::sim {
namespace {

bool ParseHexWord(std::string_view v, uint16_t& out) {
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X'))
        v.remove_prefix(2);
    if (v.empty() || v.size() > 4)
        return false;
    unsigned value = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value, 16);
    if (ec != std::errc() || end != v.data() + v.size())
        return false;
    out = static_cast<uint16_t>(value);
    return true;
}

// Decimal, or hexadecimal with a 0x prefix.
bool ParseUnsigned(std::string_view v, uint64_t& out) {
    int base = 10;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        v.remove_prefix(2);
        base = 16;
    }
    if (v.empty())
        return false;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out, base);
    return ec == std::errc() && end == v.data() + v.size();
}

bool ParseRange(std::string_view v, uint64_t lo, uint64_t hi, uint64_t& out) {
    return ParseUnsigned(v, out) && out >= lo && out <= hi;
}

bool ParsePercent(std::string_view v, double& out) {
    if (v.empty())
        return false;
    const std::string text(v);
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(out) && out >= 0 && out <= 100;
}

std::string Bad(std::string_view key, std::string_view what) {
    return std::string(key) + ": " + std::string(what);
}

bool ApplyItem(std::string_view key, std::optional<std::string_view> value, Scenario& s,
               std::string& error) {
    // Keys that stand alone.
    if (key == "absent" || key == "broken" || key == "no-driver") {
        if (value) {
            error = Bad(key, "takes no value");
            return false;
        }
        (key == "absent" ? s.absent : key == "broken" ? s.broken : s.noDriver) = true;
        return true;
    }
    static constexpr std::string_view kValued[] = {
        "pid",         "rev",   "fw",           "string50",        "eeprom",
        "eeprom-file", "nack",  "unplug-after", "latency-us",      "i2c-khz",
        "twr-us",      "clock", "seed",         "replug-after-ms", "replay"};
    bool known = false;
    for (std::string_view k : kValued)
        known = known || k == key;
    if (!known) {
        error = Bad(key, "unknown key");
        return false;
    }
    if (!value) {
        error = Bad(key, "needs a value (" + std::string(key) + "=...)");
        return false;
    }
    const std::string_view v = *value;
    uint64_t n = 0;
    if (key == "pid" || key == "rev" || key == "fw") {
        uint16_t word = 0;
        if (!ParseHexWord(v, word)) {
            error = Bad(key, "expected a hex word such as 0x0813");
            return false;
        }
        if (key == "pid")
            s.pid = word;
        else if (key == "rev")
            s.rev = word;
        else
            s.fw = word;
    } else if (key == "string50") {
        if (v.size() > 126) { // a string descriptor holds at most 126 UTF-16 units
            error = Bad(key, "longer than a string descriptor can hold");
            return false;
        }
        s.string50 = std::string(v);
    } else if (key == "eeprom") {
        if (!ParseUnsigned(v, n) || n > 65536 || !Eeprom24C::ValidSize(static_cast<uint32_t>(n))) {
            error = Bad(key, "expected a power of two from 256 to 65536");
            return false;
        }
        s.eepromSize = static_cast<uint32_t>(n);
    } else if (key == "eeprom-file") {
        if (v.empty()) {
            error = Bad(key, "expected a path");
            return false;
        }
        s.eepromFile = std::string(v);
    } else if (key == "nack") {
        if (!ParsePercent(v, s.nackPercent)) {
            error = Bad(key, "expected a percentage from 0 to 100");
            return false;
        }
    } else if (key == "unplug-after") {
        if (!ParseUnsigned(v, n)) {
            error = Bad(key, "expected a number of control transfers");
            return false;
        }
        s.unplugAfter = n;
    } else if (key == "latency-us") {
        if (!ParseRange(v, 0, 1000000, n)) {
            error = Bad(key, "expected microseconds from 0 to 1000000");
            return false;
        }
        s.latencyUs = static_cast<uint32_t>(n);
    } else if (key == "i2c-khz") {
        // Up to the fastest I2C mode; 0 would never finish a transfer.
        if (!ParseRange(v, 1, 3400, n)) {
            error = Bad(key, "expected a number from 1 to 3400");
            return false;
        }
        s.i2cKhz = static_cast<uint32_t>(n);
    } else if (key == "twr-us") {
        if (!ParseRange(v, 0, 1000000, n)) {
            error = Bad(key, "expected microseconds from 0 to 1000000");
            return false;
        }
        s.twrUs = static_cast<uint32_t>(n);
    } else if (key == "clock") {
        if (v != "real" && v != "virtual") {
            error = Bad(key, "expected real or virtual");
            return false;
        }
        s.virtualClock = v == "virtual";
    } else if (key == "replug-after-ms") {
        if (!ParseRange(v, 0, 3600000, n)) {
            error = Bad(key, "expected milliseconds from 0 to 3600000");
            return false;
        }
        s.replugAfterMs = static_cast<uint32_t>(n);
    } else if (key == "replay") {
        if (v.empty()) {
            error = Bad(key, "expected the path of a recording");
            return false;
        }
        s.replayFile = std::string(v);
    } else if (key == "seed") {
        if (!ParseUnsigned(v, n)) {
            error = Bad(key, "expected a number");
            return false;
        }
        s.seed = n;
    }
    return true;
}

} // namespace

bool ParseScenario(const std::string& text, Scenario& out, std::string& error) {
    Scenario s;
    std::string_view rest(text);
    std::string_view modelKey; // the first key that describes the model, which a replay has not
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (item.empty())
            continue;
        const size_t eq = item.find('=');
        std::string_view key = item.substr(0, eq);
        std::optional<std::string_view> value;
        if (eq != std::string_view::npos)
            value = item.substr(eq + 1);
        if (key.empty()) {
            error = "'" + std::string(item) + "': missing key";
            return false;
        }
        if (!ApplyItem(key, value, s, error))
            return false;
        if (modelKey.empty() && key != "replay" && key != "eeprom-file" && key != "clock")
            modelKey = key;
    }
    if (!s.replayFile.empty() && !modelKey.empty()) {
        error = Bad("replay", "cannot be combined with " + std::string(modelKey) +
                                  ": the recording is the speaker");
        return false;
    }
    out = s;
    error.clear();
    return true;
}

} // namespace dormane::sim
