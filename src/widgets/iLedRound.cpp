#include "iLedRound.h"

#include <QPainter>
#include <QResizeEvent>

QSize led_round_bounds(QSize current, QSize requested)
{
    if (requested.width() != current.width())
        return QSize(requested.width(), requested.width());
    if (requested.height() != current.height())
        return QSize(requested.height(), requested.height());
    return requested;
}

TiLedRound::TiLedRound(QWidget* parent)
    : TiLed(parent)
{
}

void TiLedRound::SetBounds(int left, int top, int width, int height)
{
    const QSize s = led_round_bounds(size(), QSize(width, height));
    setGeometry(left, top, s.width(), s.height());
}

void TiLedRound::resizeEvent(QResizeEvent* event)
{
    // A layout or a plain resize() may hand a non-square size: square it the
    // same way as SetBounds does.
    const QSize s = led_round_bounds(event->oldSize(), event->size());
    if (s != event->size())
        resize(s);
    TiLed::resizeEvent(event);
}

void TiLedRound::paint_to(QPainter& painter, QSize size) const
{
    const int w = size.width(), h = size.height();
    painter.fillRect(QRect(0, 0, w, h), BackGroundColor());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);

    // The body; with a rim it stays two pixels inside it.
    const QColor colour = lamp_color();
    const QRectF body = BevelStyle() == ibsNone ? QRectF(0, 0, w, h) : QRectF(2, 2, w - 4, h - 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(body);

    // Reflection: a quarter arc from the top to the left of an inner ellipse,
    // twice, one pixel apart.
    if (ShowReflection()) {
        const int q = w / 4;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, 1.2));
        painter.drawArc(QRectF(q + 0.5, q + 0.5, w - 2 * q - 1, h - 2 * q - 1), 90 * 16, 90 * 16);
        painter.drawArc(QRectF(q + 1.5, q + 1.5, w - 2 * q - 3, h - 2 * q - 3), 90 * 16, 90 * 16);
    }

    // Rim, two pixels on the full rectangle: upper-left half and lower-right half.
    if (BevelStyle() != ibsNone) {
        const QPalette& pal = palette();
        QColor upper_left = pal.color(QPalette::Dark);
        QColor lower_right = pal.color(QPalette::Light);
        if (BevelStyle() == ibsRaised)
            std::swap(upper_left, lower_right);
        painter.setBrush(Qt::NoBrush);
        for (double inset : { 0.5, 1.5 }) {
            const QRectF r(inset, inset, w - 2 * inset, h - 2 * inset);
            painter.setPen(QPen(upper_left, 1.0));
            painter.drawArc(r, 45 * 16, 180 * 16);
            painter.setPen(QPen(lower_right, 1.0));
            painter.drawArc(r, 225 * 16, 180 * 16);
        }
    }
    painter.restore();
}
