#include "CProgressEx.h"

#include <QPainter>

#include <algorithm>

namespace {

const QColor kTrackGrey(200, 200, 200);
const QColor kAccentBlue(0, 120, 215);

} // namespace

CProgressEx::CProgressEx(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
}

CProgressEx::~CProgressEx() = default;

int CProgressEx::FillWidth(int width, int lower, int upper, int position) {
    if (upper <= lower || position <= lower || width <= 0) {
        return 0;
    }
    // Measured from the lower bound, so that a range not starting at 0 still fills from
    // the left edge; for the range 0 to 100 this is position x width / 100.
    const double scale = static_cast<double>(width) / (static_cast<double>(upper) - lower);
    const double fill = (static_cast<double>(position) - lower) * scale;
    return std::clamp(static_cast<int>(fill), 0, width);
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
