#pragma once

#include <algorithm>

namespace dormane::controls {

// Width in pixels of the filled part of a progress bar of the given width:
// (position - lower) x width / (upper - lower) in double precision, truncated; 0 for an
// empty range or a position at or below the lower bound, never more than the width.
// Measured from the lower bound, so that a range not starting at 0 still fills from the
// left edge; for the range 0 to 100 this is position x width / 100.
inline int ProgressFillWidth(int width, int lower, int upper, int position) {
    if (upper <= lower || position <= lower || width <= 0) {
        return 0;
    }
    const double scale = static_cast<double>(width) / (static_cast<double>(upper) - lower);
    const double fill = (static_cast<double>(position) - lower) * scale;
    return std::clamp(static_cast<int>(std::min(fill, static_cast<double>(width))), 0, width);
}

} // namespace dormane::controls
