#pragma once

// The custom controls the pages and the main window are built from, and the picture lookup
// of the program's resources.
#include "CButtonST.h"
#include "CPictureEx.h"
#include "CProgressEx.h"
#include "Resources.h"

#include <QPixmap>

// A bitmap of the program's resources, loaded anew on every call; null when missing.
inline QPixmap LoadBitmap(int id) {
    return ::res::Bitmap(id);
}
