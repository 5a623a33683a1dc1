#pragma once
// A rectangular lamp: filled with the lamp colour, a 3-D border, a small
// white gleam and an optional centre label.
#include "iLed.h"

class TiLedRectangle : public TiLed {
    Q_OBJECT
public:
    explicit TiLedRectangle(QWidget* parent = nullptr);

    QString CenterLabelText() const { return center_label_; }
    void SetCenterLabelText(const QString& text);

    void paint_to(QPainter& painter, QSize size) const override;

private:
    QString center_label_;
};
