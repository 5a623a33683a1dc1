#pragma once
// A circular lamp: a filled ellipse, a white gleam on the upper left and a
// two-pixel 3-D rim; the control stays square.
#include "iLed.h"

// The size a round lamp takes when asked for `requested` while it has `current`:
// a new width sets the height to it; otherwise a new height sets the width.
QSize led_round_bounds(QSize current, QSize requested);

class TiLedRound : public TiLed {
    Q_OBJECT
public:
    explicit TiLedRound(QWidget* parent = nullptr);

    void SetBounds(int left, int top, int width, int height) override;
    void paint_to(QPainter& painter, QSize size) const override;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width; }

protected:
    void resizeEvent(QResizeEvent* event) override;
};
