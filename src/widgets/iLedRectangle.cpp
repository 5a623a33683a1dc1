#include "iLedRectangle.h"

#include <QPainter>

TiLedRectangle::TiLedRectangle(QWidget* parent)
    : TiLed(parent)
{
}

void TiLedRectangle::SetCenterLabelText(const QString& text)
{
    if (text == center_label_)
        return;
    center_label_ = text;
    invalidate();
}

void TiLedRectangle::paint_to(QPainter& painter, QSize size) const
{
    const QRect r(QPoint(0, 0), size);
    painter.fillRect(r, lamp_color());
    draw_bevel(painter, r, BevelStyle(), palette());
    if (ShowReflection()) {
        painter.setPen(Qt::white);
        painter.drawLine(3, 3, 4, 3);
    }
    if (!center_label_.trimmed().isEmpty()) {
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, center_label_);
    }
}
