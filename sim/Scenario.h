#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the simulated speaker looks like and how it misbehaves, chosen by one text that is
// the same everywhere (--simulate[=SCENARIO]): a comma-separated list of key=value or key.
namespace dormane::sim {

struct Scenario {
    uint16_t pid = 0x0082;               // pid=HEX
    std::optional<uint16_t> rev;         // rev=HEX: bcdDevice; the firmware word if unset
    uint16_t fw = 0x0813;                // fw=HEX: firmware version of the default image
    std::string string50 = "5023B";      // string50=TEXT
    uint32_t eepromSize = 16384;         // eeprom=BYTES (256 to 65536, a power of two)
    std::string eepromFile;              // eeprom-file=PATH: content, written back on writes
    bool absent = false;                 // absent: no speaker on the bus
    bool broken = false;                 // broken: the default image with a wrong checksum
    bool noDriver = false;               // no-driver: the backend cannot be initialised
    double nackPercent = 0;              // nack=PERCENT: I2C transfers not acknowledged
    std::optional<uint64_t> unplugAfter; // unplug-after=N: transfers after the Nth fail
    uint32_t latencyUs = 250;            // latency-us=N: per control transfer
    uint32_t i2cKhz = 100;               // i2c-khz=N: bus clock
    uint32_t twrUs = 3000;               // twr-us=N: EEPROM write cycle
    bool virtualClock = false;           // clock=real|virtual
    uint64_t seed = 1;                   // seed=N: the NACK fault's random sequence
    // replug-after-ms=N: N ms after a burn's read-back the speaker goes off the bus for a
    // power cycle and comes back running the firmware its EEPROM holds.
    std::optional<uint32_t> replugAfterMs;
    // replay=PATH: no model at all; a recording made with --record answers instead. Only
    // eeprom-file (the EEPROM the replayed writes go to) and clock go with it.
    std::string replayFile;

    uint16_t Rev() const { return rev.value_or(fw); }
};

// Parses SCENARIO text into out (starting from the defaults). On a bad item returns false
// and error names the key, for example "i2c-khz: expected a number from 1 to 3400".
bool ParseScenario(const std::string& text, Scenario& out, std::string& error);

} // namespace dormane::sim
