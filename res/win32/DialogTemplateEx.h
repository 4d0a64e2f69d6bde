#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DialogTemplates.h"

// Turns the dialog tables of DialogTemplates.h into in-memory extended dialog templates
// (DLGTEMPLATEEX) for the Windows dialog manager, so that the Win32 wizard and the Qt
// wizard are laid out from the same tables.
namespace dormane::res::win32 {

// The dialog font of every template.
inline constexpr wchar_t kDialogFace[] = L"MS Shell Dlg";
inline constexpr WORD kDialogPoints = 8;

// Window styles of a template: a pop-up with a thin border and a system menu but no
// caption, not visible at creation; or a child page that is a control parent.
DWORD DialogStyle(const DialogTemplate& t);
DWORD DialogExStyle(const DialogTemplate& t);

// Window class (an atom of the system's predefined classes, or a name) and style of a
// control of the table.
struct ControlClass {
    WORD atom;           // 0x0080 button, 0x0082 static; 0 when the class goes by name
    const wchar_t* name; // set when atom is 0
};
ControlClass ControlWindowClass(const ControlTemplate& c);
DWORD ControlStyle(const ControlTemplate& c);
// The control's window text: the table's text in UTF-16, or "#<id>" naming the bitmap of a
// picture.
std::wstring ControlText(const ControlTemplate& c);

// The whole template, DWORD-aligned as the dialog manager reads it; pass data() to
// CreateDialogIndirectParamW or DialogBoxIndirectParamW with the program's module, which
// holds the bitmaps the pictures name.
std::vector<std::uint8_t> BuildDialogTemplate(const DialogTemplate& t);
// Empty when no table has that identifier.
std::vector<std::uint8_t> BuildDialogTemplate(int id);

} // namespace dormane::res::win32
