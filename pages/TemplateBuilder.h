#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <map>

class CDialogEx;
class QWidget;

namespace dormane::res {
struct DialogTemplate;
struct ControlTemplate;
} // namespace dormane::res

// Turns dialog templates into Qt widgets.
namespace dormane::ui {

// Dialog units become pixels with the base units of the 8-point dialog font: 1.5 pixels per
// horizontal and 1.625 per vertical unit at 96 pixels per inch, scaled by the logical
// resolution. Each coordinate is rounded on its own, so a rectangle's right edge is the
// rounded x + width.
int DialogUnitsToPixelsX(int units, double dpi);
int DialogUnitsToPixelsY(int units, double dpi);
QRect DialogRectToPixels(int x, int y, int cx, int cy, double dpi);
QSize DialogUnitsToPixels(int cx, int cy, double dpi);
// The same at the primary screen's resolution.
QRect DialogRectToPixels(int x, int y, int cx, int cy);
QSize DialogUnitsToPixels(int cx, int cy);
double ScreenDpi();

// The templates' dialog font, 8 points: what a text control is drawn with when its dialog
// does not choose a font.
QFont TemplateFont();

// Creates the template's controls as children of the dialog, in template order, placed at
// their pixel rectangles shifted by origin (the dialog's frame). Returns them by identifier;
// controls without an identifier are created but not listed.
std::map<int, QWidget*> BuildControls(CDialogEx& dialog, const res::DialogTemplate& t,
                                      QPoint origin);

} // namespace dormane::ui
