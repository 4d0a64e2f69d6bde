#pragma once

#include <QProgressBar>

// The thin flat progress bar of the progress page: a grey track with the filled part in
// the accent blue, nothing else (no border, no text, no style). Range and position are
// the progress bar's own.
class CProgressEx : public QProgressBar {
    Q_OBJECT
public:
    explicit CProgressEx(QWidget* parent = nullptr);
    ~CProgressEx() override;

    // Width in pixels of the blue part for a bar of the given width:
    // (position - lower) x width / (upper - lower), truncated; 0 for an empty range or a
    // position below the range, the full width at or above the upper bound.
    static int FillWidth(int width, int lower, int upper, int position);

protected:
    void paintEvent(QPaintEvent* event) override;
};
