#include "GifEncoder.h"

#include <algorithm>
#include <array>

namespace gif {

namespace {

constexpr int kMaxCodes = 4096;

class BitWriter {
public:
    void Put(unsigned code, int bits) {
        m_acc |= static_cast<std::uint32_t>(code) << m_nBits;
        m_nBits += bits;
        while (m_nBits >= 8) {
            m_out.push_back(static_cast<std::uint8_t>(m_acc & 0xFF));
            m_acc >>= 8;
            m_nBits -= 8;
        }
    }
    std::vector<std::uint8_t> Finish() {
        if (m_nBits > 0) {
            m_out.push_back(static_cast<std::uint8_t>(m_acc & 0xFF));
        }
        m_acc = 0;
        m_nBits = 0;
        return std::move(m_out);
    }

private:
    std::vector<std::uint8_t> m_out;
    std::uint32_t m_acc = 0;
    int m_nBits = 0;
};

// Number of bits that hold 0 .. entries-1, padded to a power of two table.
int BitsFor(std::size_t entries) {
    int bits = 1;
    while ((std::size_t{1} << bits) < entries) {
        ++bits;
    }
    return bits;
}

} // namespace

std::vector<std::uint8_t> LzwEncode(const std::vector<std::uint8_t>& indices, int minCodeSize) {
    const unsigned clear = 1u << minCodeSize;
    const unsigned end = clear + 1;
    // child[code * 256 + byte] = code of the string "code + byte", 0 when absent (no
    // string ever gets code 0 because codes below clear are single pixels).
    std::vector<std::uint16_t> child(static_cast<std::size_t>(kMaxCodes) * 256, 0);
    BitWriter bits;
    int codeSize = minCodeSize + 1;
    unsigned next = end + 1;
    bits.Put(clear, codeSize);
    if (!indices.empty()) {
        unsigned prefix = indices[0];
        for (std::size_t i = 1; i < indices.size(); ++i) {
            const std::uint8_t k = indices[i];
            const std::size_t slot = static_cast<std::size_t>(prefix) * 256 + k;
            if (child[slot] != 0) {
                prefix = child[slot];
                continue;
            }
            bits.Put(prefix, codeSize);
            if (next < kMaxCodes) {
                child[slot] = static_cast<std::uint16_t>(next);
                // The decoder learns this code one step later, so it widens its codes
                // once the code after this one no longer fits.
                if (next == (1u << codeSize) && codeSize < 12) {
                    ++codeSize;
                }
                ++next;
            } else {
                bits.Put(clear, codeSize);
                std::fill(child.begin(), child.end(), 0);
                codeSize = minCodeSize + 1;
                next = end + 1;
            }
            prefix = k;
        }
        bits.Put(prefix, codeSize);
    }
    bits.Put(end, codeSize);
    std::vector<std::uint8_t> packed = bits.Finish();

    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>(minCodeSize));
    for (std::size_t pos = 0; pos < packed.size(); pos += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - pos);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), packed.begin() + static_cast<long>(pos),
                   packed.begin() + static_cast<long>(pos + n));
    }
    out.push_back(0);
    return out;
}

int GifEncoder::CodeSizeFor(std::size_t entries) {
    return std::max(2, BitsFor(entries));
}

GifEncoder::GifEncoder(int width, int height, const std::vector<Rgb>& globalTable,
                       std::uint8_t backgroundIndex) {
    const char* header = "GIF89a";
    m_bytes.assign(header, header + 6);
    Word(width);
    Word(height);
    std::uint8_t packed = 0;
    if (!globalTable.empty()) {
        m_nGlobalBits = BitsFor(globalTable.size());
        packed = static_cast<std::uint8_t>(0x80 | ((m_nGlobalBits - 1) << 4) | (m_nGlobalBits - 1));
    }
    m_bytes.push_back(packed);
    m_bytes.push_back(backgroundIndex);
    m_bytes.push_back(0); // square pixels
    if (!globalTable.empty()) {
        Table(globalTable, m_nGlobalBits);
    }
}

void GifEncoder::Word(int value) {
    m_bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    m_bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void GifEncoder::Table(const std::vector<Rgb>& table, int bits) {
    const std::size_t entries = std::size_t{1} << bits;
    for (std::size_t i = 0; i < entries; ++i) {
        const Rgb c = i < table.size() ? table[i] : Rgb{};
        m_bytes.push_back(c.r);
        m_bytes.push_back(c.g);
        m_bytes.push_back(c.b);
    }
}

void GifEncoder::SubBlocks(const std::vector<std::uint8_t>& data) {
    for (std::size_t pos = 0; pos < data.size(); pos += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - pos);
        m_bytes.push_back(static_cast<std::uint8_t>(n));
        m_bytes.insert(m_bytes.end(), data.begin() + static_cast<long>(pos),
                       data.begin() + static_cast<long>(pos + n));
    }
    m_bytes.push_back(0);
}

void GifEncoder::AddLoopExtension(std::uint16_t loopCount) {
    AddApplication("NETSCAPE", "2.0",
                   {1, static_cast<std::uint8_t>(loopCount & 0xFF),
                    static_cast<std::uint8_t>(loopCount >> 8)});
}

void GifEncoder::AddApplication(const std::string& identifier8, const std::string& auth3,
                                const std::vector<std::uint8_t>& data) {
    m_bytes.push_back(0x21);
    m_bytes.push_back(0xFF);
    m_bytes.push_back(11);
    std::string id = (identifier8 + std::string(8, ' ')).substr(0, 8);
    std::string auth = (auth3 + std::string(3, ' ')).substr(0, 3);
    m_bytes.insert(m_bytes.end(), id.begin(), id.end());
    m_bytes.insert(m_bytes.end(), auth.begin(), auth.end());
    SubBlocks(data);
}

void GifEncoder::AddComment(const std::string& text) {
    m_bytes.push_back(0x21);
    m_bytes.push_back(0xFE);
    SubBlocks(std::vector<std::uint8_t>(text.begin(), text.end()));
}

void GifEncoder::AddControlExtension(unsigned disposal, std::uint16_t delay, int transparentIndex) {
    m_bytes.push_back(0x21);
    m_bytes.push_back(0xF9);
    m_bytes.push_back(4);
    std::uint8_t packed = static_cast<std::uint8_t>((disposal & 7) << 2);
    if (transparentIndex >= 0) {
        packed |= 1;
    }
    m_bytes.push_back(packed);
    Word(delay);
    m_bytes.push_back(static_cast<std::uint8_t>(transparentIndex >= 0 ? transparentIndex : 0));
    m_bytes.push_back(0);
}

void GifEncoder::AddImage(int left, int top, int width, int height,
                          const std::vector<std::uint8_t>& indices,
                          const std::vector<Rgb>& localTable) {
    m_bytes.push_back(0x2C);
    Word(left);
    Word(top);
    Word(width);
    Word(height);
    int bits = m_nGlobalBits;
    if (!localTable.empty()) {
        bits = BitsFor(localTable.size());
        m_bytes.push_back(static_cast<std::uint8_t>(0x80 | (bits - 1)));
        Table(localTable, bits);
    } else {
        m_bytes.push_back(0);
    }
    const std::vector<std::uint8_t> data = LzwEncode(indices, std::max(2, bits));
    m_bytes.insert(m_bytes.end(), data.begin(), data.end());
}

void GifEncoder::AddPlainText(int left, int top, int width, int height, const std::string& text) {
    m_bytes.push_back(0x21);
    m_bytes.push_back(0x01);
    m_bytes.push_back(12);
    Word(left);
    Word(top);
    Word(width);
    Word(height);
    m_bytes.push_back(8);  // cell width
    m_bytes.push_back(16); // cell height
    m_bytes.push_back(1);  // foreground index
    m_bytes.push_back(0);  // background index
    SubBlocks(std::vector<std::uint8_t>(text.begin(), text.end()));
}

void GifEncoder::AddTrailer() {
    m_bytes.push_back(0x3B);
}

void GifEncoder::AddRaw(const std::vector<std::uint8_t>& bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

} // namespace gif
