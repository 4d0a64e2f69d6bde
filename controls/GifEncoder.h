#pragma once

// Writes GIF89a data: the artwork generator builds the busy animation with it, and the
// tests build small crafted files with it. Pixels are palette indices.

#include <cstdint>
#include <string>
#include <vector>

namespace gif {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// LZW-compresses palette indices as GIF image data: the code size byte followed by
// sub-blocks and the zero terminator. Every index must be below 2^minCodeSize.
std::vector<std::uint8_t> LzwEncode(const std::vector<std::uint8_t>& indices, int minCodeSize);

// Appends blocks one after another; the caller decides their order, which lets tests
// build files that are deliberately out of the ordinary.
class GifEncoder {
public:
    // Header and logical screen descriptor; the global table is written when not empty
    // and is padded to a power of two of at least 2 entries.
    GifEncoder(int width, int height, const std::vector<Rgb>& globalTable,
               std::uint8_t backgroundIndex = 0);

    void AddLoopExtension(std::uint16_t loopCount);
    void AddComment(const std::string& text);
    void AddApplication(const std::string& identifier8, const std::string& auth3,
                        const std::vector<std::uint8_t>& data);
    void AddControlExtension(unsigned disposal, std::uint16_t delay, int transparentIndex = -1);
    // An image: palette indices row by row; a non-empty local table is written and used.
    void AddImage(int left, int top, int width, int height,
                  const std::vector<std::uint8_t>& indices,
                  const std::vector<Rgb>& localTable = {});
    void AddPlainText(int left, int top, int width, int height, const std::string& text);
    void AddTrailer();
    void AddRaw(const std::vector<std::uint8_t>& bytes);

    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

    // Code size for a table of this many entries (at least 2 bits, as GIF demands).
    static int CodeSizeFor(std::size_t entries);

private:
    void Word(int value);
    void Table(const std::vector<Rgb>& table, int bits);
    void SubBlocks(const std::vector<std::uint8_t>& data);

    std::vector<std::uint8_t> m_bytes;
    int m_nGlobalBits = 0;
};

} // namespace gif
