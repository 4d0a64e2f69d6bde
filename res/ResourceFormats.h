#pragma once

// The binary forms in which the program carries its pictures: headerless 24-bit DIBs for
// bitmaps, icon files for the application icon and a cursor file for the hand cursor.
// The artwork generator writes them and the resource lookup reads them back.

#include <QByteArray>
#include <QImage>
#include <QList>

namespace res {

// A 40-byte information header and bottom-up rows of 24-bit pixels (blue, green, red),
// each row padded to a multiple of 4 bytes; no file header, no colour table.
QByteArray EncodeDib24(const QImage& image);
// Reads 24- and 32-bit uncompressed DIBs of either row order; a null image for anything
// else or for data too short for the size it declares.
QImage DecodeDib(const QByteArray& dib);

// One image of an icon file.
enum class IconDepth { Colors16, Colors256, Argb32, Png };
struct IconEntry {
    QImage image; // square, 1 to 256 pixels
    IconDepth depth = IconDepth::Argb32;
};
QByteArray EncodeIcon(const QList<IconEntry>& entries);
// Every image the file holds, converted to ARGB32, in file order, with the depth it was
// stored in; empty when malformed.
QList<IconEntry> DecodeIcon(const QByteArray& ico);

// A monochrome cursor: every pixel is one of these.
enum class CursorPixel : char { Transparent = '.', Black = '#', White = 'o' };
struct MonoCursor {
    int width = 0;
    int height = 0;
    int hotX = 0;
    int hotY = 0;
    QList<CursorPixel> pixels; // row by row, top row first
};
// A cursor file with one 1-bit image (colour table black, white; XOR and AND masks).
QByteArray EncodeCursor(const MonoCursor& cursor);
// Reads what EncodeCursor writes; width 0 when malformed.
MonoCursor DecodeCursor(const QByteArray& cur);

} // namespace res
