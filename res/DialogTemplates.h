#pragma once

#include <cstddef>
#include <span>

// The dialog layouts of the wizard, one table per template: the window size and, per
// control, its identifier, kind, text or image, rectangle and alignment. Sizes and
// rectangles are in dialog units of the 8-point dialog font; the page builder turns them
// into pixels. Texts are UTF-8.
namespace dormane::res {

enum class CtlKind {
    Text,            // static text
    Bitmap,          // static picture of a bitmap resource, at the bitmap's own size
    Button,          // push button
    Progress,        // smooth progress bar, range 0 to 100
    AnimatedPicture, // picture control that plays a GIF resource
};

enum class TextAlign {
    LeftWrap,   // left-aligned, wraps onto further lines
    LeftSingle, // left-aligned single line, centred vertically
    Center,     // single line, centred both ways
    Right,      // single line, right-aligned, centred vertically
};

// A control without an identifier of its own.
inline constexpr int kNoId = -1;

struct ControlTemplate {
    int id;
    CtlKind kind;
    const char* text; // caption or initial text; empty for pictures
    int image;        // bitmap or animation resource, 0 when none
    int x, y, cx, cy; // dialog units
    TextAlign align;
};

struct DialogTemplate {
    int id;
    int cx, cy; // dialog units
    bool popup; // a top-level window with a thin border; otherwise a child page
    std::span<const ControlTemplate> controls;
};

// Template identifiers.
inline constexpr int IDD_PAGE_START = 101;
inline constexpr int IDD_PAGE_STEP1 = 103;
inline constexpr int IDD_PAGE_STEP2 = 104;
inline constexpr int IDD_PAGE_STEP3 = 105;
inline constexpr int IDD_PAGE_STEP4 = 106;
inline constexpr int IDD_PAGE_FINISH = 107;
inline constexpr int IDD_MAIN = 111;
inline constexpr int IDD_PAGE_CHECK = 112;
inline constexpr int IDD_WARNING = 228;

// Control identifiers. Pages reuse 3052 (heading), 3053 and 1087 (texts) and 3054 (picture).
inline constexpr int IDC_CLOSE = 1070;
inline constexpr int IDC_LOGO = 1071;
inline constexpr int IDC_TITLE = 1072;
inline constexpr int IDC_BOTTOM_BAR = 1073;
inline constexpr int IDC_BRAND = 1074;
inline constexpr int IDC_BACK = 1076;
inline constexpr int IDC_NEXT = 1077;
inline constexpr int IDC_TITLE_STRIP = 1080;
inline constexpr int IDC_STEP1 = 1092;
inline constexpr int IDC_STEP2 = 1093;
inline constexpr int IDC_STEP3 = 1094;
inline constexpr int IDC_STEP4 = 1095;
inline constexpr int IDC_STEP_STRIP = 1096;

inline constexpr int IDC_HEADING = 3052;
inline constexpr int IDC_BODY = 3053;
inline constexpr int IDC_PICTURE = 3054;
inline constexpr int IDC_TEXT = 1087;
inline constexpr int IDC_ANIMATION = 1098;
inline constexpr int IDC_ENABLE = 3038;
inline constexpr int IDC_DISABLE = 1082;
inline constexpr int IDC_ENABLE_LABEL = 1083;
inline constexpr int IDC_DISABLE_LABEL = 1084;
inline constexpr int IDC_ENABLE_TEXT = 1085;
inline constexpr int IDC_DISABLE_TEXT = 1086;
inline constexpr int IDC_WARNING_ICON = 1088;
inline constexpr int IDC_PERCENT = 1090;
inline constexpr int IDC_DO_NOT_TURN_OFF = 1091;
inline constexpr int IDC_PROGRESS = 3000;
inline constexpr int IDC_POWER_PICTURE = 1104;

inline constexpr int IDC_WARN_RETRY = 1100;
inline constexpr int IDC_WARN_TITLE = 1101;
inline constexpr int IDC_WARN_BACK = 1102;
inline constexpr int IDC_WARN_MESSAGE = 1103;

// Resources the templates and the windows name.
inline constexpr int IDB_LOGO = 2009;
inline constexpr int IDB_BRAND = 241;
inline constexpr int IDB_CLOSE = 2042;
inline constexpr int IDB_SPEAKERS = 235;
inline constexpr int IDB_PANEL_LIGHT = 2010;
inline constexpr int IDB_WARNING = 2015;
inline constexpr int IDB_PANEL_POWER = 236;
inline constexpr int IDB_ENABLE_ON = 225;
inline constexpr int IDB_ENABLE_OFF = 2012;
inline constexpr int IDB_DISABLE_ON = 227;
inline constexpr int IDB_DISABLE_OFF = 2013;
inline constexpr int IDR_BUSY_GIF = 232;
inline constexpr int IDR_HAND_CURSOR = 3001;

// The template of that identifier, or null.
const DialogTemplate* FindDialogTemplate(int id);

// Every template, in identifier order.
std::span<const DialogTemplate> AllDialogTemplates();

} // namespace dormane::res
