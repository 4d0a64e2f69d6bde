#pragma once

// The program's artwork, drawn with QPainter. Every picture is drawn for its own pixel
// size; none is scaled from another.

#include <QImage>
#include <QList>

#include <cstdint>
#include <vector>

#include "ResourceFormats.h"

namespace artwork {

struct Bitmap {
    int id;
    QImage image;
};

// The bitmaps, in resource-number order, each at the size the layouts expect.
QList<Bitmap> Bitmaps();

// The busy animation: 75 frames of dots circling on white.
std::vector<std::uint8_t> BusyAnimation();

// The pointing hand with its hot spot at the finger tip.
res::MonoCursor HandCursor();

// The program icon at one size.
QImage Icon(int size);

} // namespace artwork
