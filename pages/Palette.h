#pragma once

#include <QColor>

// The fixed colours every window of the wizard shares.
namespace dormane::palette {

inline QColor PageWhite() {
    return {255, 255, 255};
}
inline QColor TextBlack() {
    return {0, 0, 0};
}
inline QColor AccentBlue() {
    return {0, 120, 215};
} // selected, current, hover, progress
inline QColor OptionGrey() {
    return {100, 100, 100};
} // the option that is not selected
inline QColor AlertRed() {
    return {255, 0, 0};
}
inline QColor ButtonGrey() {
    return {112, 112, 112};
}
inline QColor FrameBlue() {
    return {0, 150, 215};
} // the warning dialog's border
inline QColor TrackGrey() {
    return {200, 200, 200};
}
inline QColor BarGrey() {
    return {242, 242, 242};
} // the main window's bottom bar
// The main window's thin border.
inline QColor WindowFrame() {
    return {100, 100, 100};
}

} // namespace dormane::palette
