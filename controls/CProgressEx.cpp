#include "CProgressEx.h"

#include <QPainter>

#include "ProgressFill.h"

namespace {

const QColor kTrackGrey(200, 200, 200);
const QColor kAccentBlue(0, 120, 215);

} // namespace

CProgressEx::CProgressEx(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
}

CProgressEx::~CProgressEx() = default;

int CProgressEx::FillWidth(int width, int lower, int upper, int position) {
    return dormane::controls::ProgressFillWidth(width, lower, upper, position);
}

void CProgressEx::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, kTrackGrey);
    // A bar that was reset reports a position below its range: only the track shows.
    const int fill = FillWidth(r.width(), minimum(), maximum(), value());
    if (fill > 0) {
        p.fillRect(QRect(r.left(), r.top(), fill, r.height()), kAccentBlue);
    }
}
