#include "UsbBackend.h"

#include "DebugOutput.h"

#include <cstdio>
#include <cstring>

namespace dormane {

const char* UsbResultName(UsbResult r) {
    switch (r) {
    case UsbResult::Ok:
        return "ok";
    case UsbResult::NotFound:
        return "not found";
    case UsbResult::NoPermission:
        return "no permission";
    case UsbResult::Stall:
        return "stall";
    case UsbResult::Timeout:
        return "timeout";
    case UsbResult::Io:
        return "i/o error";
    case UsbResult::NotSupported:
        return "not supported";
    }
    return "unknown";
}

UsbResult UsbBackend::WaitForChange(Clock::Duration timeout) {
    CurrentClock()->SleepFor(timeout);
    return UsbResult::Ok;
}

UsbResult CompleteDataStage(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint8_t* data,
                            uint16_t length, uint16_t actual) {
    if (actual >= length)
        return UsbResult::Ok;
    if (!(bmRequestType & 0x80))
        return UsbResult::Io;
    std::memset(data + actual, 0, length - actual);
    char note[96];
    std::snprintf(note, sizeof note,
                  "short IN transfer: %u of %u bytes (request 0x%02X, value 0x%04X), the rest "
                  "reads as zero",
                  actual, length, bRequest, wValue);
    DebugOutput(note);
    return UsbResult::Ok;
}

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16Le(std::vector<uint8_t>& out, uint32_t unit) {
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
}

constexpr uint32_t kReplacement = 0xFFFD;

} // namespace

std::string Utf16LeToUtf8(const uint8_t* data, size_t bytes) {
    std::string out;
    const size_t units = bytes / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = data[2 * i] | (data[2 * i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t low = data[2 * i + 2] | (data[2 * i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            u = kReplacement;
        AppendUtf8(out, u);
    }
    return out;
}

UsbResult StringDescriptorText(const uint8_t* descriptor, size_t got, std::string& utf8) {
    constexpr uint8_t kStringDescriptorType = 0x03;
    if (got < 2 || descriptor[1] != kStringDescriptorType || descriptor[0] > got ||
        descriptor[0] < 2)
        return UsbResult::Io;
    utf8 = Utf16LeToUtf8(descriptor + 2, descriptor[0] - 2u);
    return UsbResult::Ok;
}

std::vector<uint8_t> Utf8ToUtf16Le(const std::string& utf8) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < utf8.size()) {
        const uint8_t b = static_cast<uint8_t>(utf8[i]);
        uint32_t cp = kReplacement;
        size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2, cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3, cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4, cp = b & 0x07;
        }
        bool valid = b < 0x80 || len > 1;
        for (size_t k = 1; valid && k < len; ++k) {
            if (i + k >= utf8.size() || (static_cast<uint8_t>(utf8[i + k]) & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
        }
        if (!valid || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            cp = kReplacement;
            len = 1;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendUtf16Le(out, 0xD800 + (cp >> 10));
            AppendUtf16Le(out, 0xDC00 + (cp & 0x3FF));
        } else {
            AppendUtf16Le(out, cp);
        }
    }
    return out;
}

} // namespace dormane
