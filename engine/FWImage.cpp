// The firmware image format: the checks shared by the file reader and the EEPROM reader.
#include "Log.h"
#include "Status.h"
#include "UpdateManager.h"

#include "FileSystem.h"

#include <cstdio>
#include <cstring>
#include <new>

using namespace dormane;

namespace {

inline constexpr uint32_t kListFirst = 12;
inline constexpr uint32_t kListLast = 60;
inline constexpr uint8_t kListEnd = 0x7F;
inline constexpr uint8_t kChipIdFirstByte = 0x65;
inline constexpr uint32_t kExtensionSize = 13;

uint16_t BigEndian16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

} // namespace

bool UpdateManager::CheckMagicWord(const uint8_t* header) {
    const uint16_t word = BigEndian16(header);
    const bool ok = word == kFWMagicWord;
    WriteLog("UpdateManager::CheckMagicWord MagicWord =0x%X return %d", word, ok ? 1 : 0);
    return ok;
}

bool UpdateManager::ParseEEPROMConfig(FWInfo* info, const uint8_t* header) {
    if (!info)
        return false;
    uint32_t largestStart = 0;
    info->TotalSize = 0;
    for (uint32_t offset = kListFirst; offset <= kListLast && header[offset] != kListEnd;
         offset += 4) {
        // The descriptor at offset 60 has only its first byte inside the header.
        const uint8_t b0 = header[offset];
        const uint8_t b1 = offset < kListLast ? header[offset + 1] : 0;
        const uint8_t b2 = offset < kListLast ? header[offset + 2] : 0;
        const uint8_t b3 = offset < kListLast ? header[offset + 3] : 0;
        if (!(b0 & 0x80))
            continue;
        uint32_t start = 0;
        uint32_t size = 0;
        const bool image = (b2 & 0xF0) == 0xB0;
        if (image) {
            start = ((b0 & 0x7Fu) << 6) | (b1 >> 2);
            size = ((b1 & 0x03u) << 12) | ((b2 & 0x0Fu) << 8) | b3;
            info->ImageStart = start;
            info->ImageSize = size;
        } else {
            start = ((b0 & 0x7Fu) << 8) | b1;
            size = ((b2 & 0x0Fu) << 8) | b3;
        }
        info->TotalSize += size;
        if (start > largestStart)
            largestStart = start;
    }
    info->TotalSize += largestStart;
    WriteLog("UpdateManager::ParseEEPROMConfig Image start pos 0x%X  Image size 0x%X FW total "
             "size 0x%X",
             info->ImageStart, info->ImageSize, info->TotalSize);
    return info->ImageStart != 0 && info->ImageSize != 0 && info->TotalSize != 0;
}

bool UpdateManager::VerifyCheckSum(FWInfo* info) {
    if (!info)
        return false;
    const uint64_t end = uint64_t{info->ImageStart} + info->ImageSize;
    // TotalSize always covers the image region; the bound is checked anyway so that no record
    // can make the sum read past its buffer.
    if (!info->Data || info->TotalSize == 0 || info->ImageStart == 0 || info->ImageSize == 0 ||
        end > info->TotalSize) {
        WriteLog("UpdateManager::VerifyCheckSum CalcCheckSum =0x%X InfoCheckSum =0x%X ", 0u,
                 info->InfoCheckSum);
        return false;
    }
    info->InfoCheckSum = info->Data[end - 1];
    uint8_t sum = 0;
    for (uint64_t i = info->ImageStart; i < end - 1; ++i)
        sum = static_cast<uint8_t>(sum + info->Data[i]);
    const uint8_t calculated = static_cast<uint8_t>(0x100 - sum);
    WriteLog("UpdateManager::VerifyCheckSum CalcCheckSum =0x%X InfoCheckSum =0x%X ", calculated,
             info->InfoCheckSum);
    return calculated == info->InfoCheckSum;
}

bool UpdateManager::ReadExtInfo(FWInfo* info) {
    if (!info || !info->Data || info->TotalSize == 0)
        return false;
    const uint64_t end = uint64_t{info->ImageStart} + info->ImageSize;
    if (end < kExtensionSize || end > info->TotalSize)
        return false;
    const uint8_t* ext = info->Data.get() + (end - kExtensionSize);
    info->CHIP = BigEndian16(ext);
    info->VID = BigEndian16(ext + 2);
    info->PID = BigEndian16(ext + 4);
    info->ChipVer = BigEndian16(ext + 6);
    info->FWVer = BigEndian16(ext + 8);
    const bool ok = ext[0] == kChipIdFirstByte;
    WriteLog("UpdateManager::ReadExtInfo CHIP =0x%X VID =0x%X PID =0x%X ChipVer =0x%X FWVer =0x%X "
             "return %d",
             info->CHIP, info->VID, info->PID, info->ChipVer, info->FWVer, ok ? 1 : 0);
    return ok;
}

int UpdateManager::ReadFWInfoFile(const char* path, FWInfo* info) {
    if (!path || !*path || !info)
        return status::kFailure;
    WriteLog("UpdateManager::ReadFWInfoFile FW file path %s", path);

    // A FIFO or a device given as the image cannot hang the open; a directory or a device
    // node is no firmware file.
    files::RandomAccessFile file;
    if (!file.Open(path))
        return status::kFileOpenFailed;

    info->Reset();
    uint8_t header[kFWHeaderSize] = {};
    (void)file.ReadAt(0, header, sizeof header);
    if (!CheckMagicWord(header))
        return status::kInvalidImage;
    if (!ParseEEPROMConfig(info, header))
        return status::kInvalidImage;

    info->Data.reset(new (std::nothrow) uint8_t[info->TotalSize]());
    if (!info->Data)
        return status::kFailure;
    // Every byte that is burned must come from the file: missing bytes read as zeros would
    // let a truncated download pass its checks. Bytes after TotalSize are ignored.
    const int64_t got = file.ReadAt(0, info->Data.get(), info->TotalSize);
    if (got < static_cast<int64_t>(info->TotalSize)) {
        WriteLog("UpdateManager::ReadFWInfoFile file size 0x%X shorter than FW total size 0x%X",
                 static_cast<unsigned>(got < 0 ? 0 : got), info->TotalSize);
        return status::kInvalidImage;
    }

    if (!VerifyCheckSum(info))
        return status::kInvalidImage;
    return ReadExtInfo(info) ? status::kSuccess : status::kInvalidImage;
}
