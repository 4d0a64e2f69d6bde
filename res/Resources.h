#pragma once

// The program's embedded resources, looked up by type and number: "BITMAP" (headerless
// 24-bit DIBs), "GIF" (the busy animation 232), "CURSOR" (the hand 3001, a cursor file)
// and "ICON" (201, an icon file). Types are matched without regard to case. The dialog
// templates live as C++ tables in DialogTemplates.h, not here.

#include <QByteArray>
#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

namespace res {

// Raw bytes of a resource; empty when there is none of that type and number.
QByteArray Data(const QString& type, int id);

// A "BITMAP" resource as an image; null when missing. Safe on any thread.
QImage BitmapImage(int id);
// A "BITMAP" resource for drawing on screen; null when missing.
QPixmap Bitmap(int id);

// A "CURSOR" resource with its own hot spot (the hand 3001 points at (5, 0)); the arrow
// cursor when missing.
QCursor Cursor(int id);

// The program icon 201 in all its sizes.
QIcon AppIcon();

} // namespace res
