#pragma once

#include <cstdint>
#include <memory>

// The record of one firmware image, read from a file or from the speaker's EEPROM.
inline constexpr uint32_t kFWHeaderSize = 61;
inline constexpr uint16_t kFWMagicWord = 0x5658; // "VX"
inline constexpr uint16_t kChipVerUnknown = 2;

struct FWInfo {
    uint32_t TotalSize = 0;
    uint32_t ImageStart = 0;
    uint32_t ImageSize = 0;
    uint16_t CHIP = 0;
    uint16_t VID = 0;
    uint16_t PID = 0;
    uint16_t ChipVer = 0;
    uint16_t FWVer = 0;
    std::unique_ptr<uint8_t[]> Data; // TotalSize bytes, or none
    uint8_t InfoCheckSum = 0;

    // Data released, every number 0 but ChipVer, which becomes "unknown".
    void Reset() {
        Data.reset();
        TotalSize = ImageStart = ImageSize = 0;
        CHIP = VID = PID = FWVer = 0;
        ChipVer = kChipVerUnknown;
        InfoCheckSum = 0;
    }
};
