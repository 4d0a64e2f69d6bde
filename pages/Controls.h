#pragma once

// The custom controls the pages and the main window are built from, and the picture lookup
// of the program's resources.
#include "CButtonST.h"
#include "CPictureEx.h"
#include "CProgressEx.h"
#include "DialogTemplates.h"
#include "Palette.h"
#include "Resources.h"

#include <QFont>
#include <QPixmap>

// A bitmap of the program's resources, loaded anew on every call; null when missing.
inline QPixmap LoadBitmap(int id) {
    return ::res::Bitmap(id);
}

// The grey flat button with a white caption that turns blue under the pointer: the
// navigation buttons of the main window and the buttons of the warning dialog.
inline void StyleGreyButton(CButtonST& button, const QFont& font) {
    button.SetButtonColor(CLR_BK_NORMAL, dormane::palette::ButtonGrey(), true);
    button.SetButtonColor(CLR_BK_HOT, dormane::palette::AccentBlue(), true);
    button.SetButtonColor(CLR_BK_FOCUS, dormane::palette::ButtonGrey(), true);
    button.SetButtonColor(CLR_FG_HOT, dormane::palette::PageWhite(), true);
    button.SetButtonColor(CLR_FG_NORMAL, dormane::palette::PageWhite(), true);
    button.SetButtonColor(CLR_FG_FOCUS, dormane::palette::PageWhite(), true);
    button.setFont(font);
    button.SetHoverCursor(dormane::res::IDR_HAND_CURSOR, true);
}
