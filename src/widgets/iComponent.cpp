#include "iComponent.h"

#include <QPainter>
#include <QPalette>
#include <QtGlobal>

#include <exception>

namespace {

std::function<void(const QString&)>& error_handler()
{
    static std::function<void(const QString&)> handler;
    return handler;
}

void report(const QString& message)
{
    if (error_handler())
        error_handler()(message);
    else
        qCritical("%s", qUtf8Printable(message));
}

// One-pixel L-shaped edges of a rectangle: upper-left and lower-right.
void edge_pair(QPainter& p, const QRect& r, const QColor& upper_left, const QColor& lower_right)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const int l = r.left(), t = r.top(), rt = r.right(), b = r.bottom();
    p.setPen(upper_left);
    p.drawLine(l, b - 1, l, t);
    p.drawLine(l, t, rt - 1, t);
    p.setPen(lower_right);
    p.drawLine(rt, t, rt, b);
    p.drawLine(l, b, rt, b);
}

} // namespace

void set_widget_error_handler(std::function<void(const QString& message)> handler)
{
    error_handler() = std::move(handler);
}

void run_widget_guarded(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        report(QString::fromUtf8(e.what()));
    } catch (...) {
        report(QStringLiteral("未知错误"));
    }
}

int bevel_width(TiBevelStyle style)
{
    return style == ibsNone ? 0 : 2;
}

void draw_bevel(QPainter& painter, const QRect& rect, TiBevelStyle style, const QPalette& palette)
{
    if (style == ibsNone)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    const QColor shadow = palette.color(QPalette::Dark);
    const QColor dark_shadow = palette.color(QPalette::Shadow);
    const QColor highlight = palette.color(QPalette::Light);
    const QColor light = palette.color(QPalette::Midlight);
    const QRect inner = rect.adjusted(1, 1, -1, -1);
    if (style == ibsLowered) {
        edge_pair(painter, rect, shadow, highlight);
        edge_pair(painter, inner, dark_shadow, light);
    } else {
        edge_pair(painter, rect, light, dark_shadow);
        edge_pair(painter, inner, highlight, shadow);
    }
    painter.restore();
}

TiComponent::TiComponent(QWidget* parent)
    : QWidget(parent)
    , background_(palette().color(QPalette::Button))
{
    // The whole control is painted by paint_to(); nothing shows through.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TiComponent::SetBackGroundColor(const QColor& colour)
{
    if (colour == background_)
        return;
    background_ = colour;
    invalidate();
}

void TiComponent::SetBorderStyle(TiBevelStyle style)
{
    if (style == border_)
        return;
    border_ = style;
    invalidate();
}

void TiComponent::SetBounds(int left, int top, int width, int height)
{
    setGeometry(left, top, width, height);
}

void TiComponent::paint_background(QPainter& painter, QSize size) const
{
    painter.fillRect(QRect(QPoint(0, 0), size), background_);
    draw_bevel(painter, QRect(QPoint(0, 0), size), border_, palette());
}

void TiComponent::paint_to(QPainter& painter, QSize size) const
{
    paint_background(painter, size);
}

QImage TiComponent::render_image() const
{
    QImage image(size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint_to(painter, size());
    return image;
}

void TiComponent::invalidate()
{
    ++repaint_requests_;
    update();
}

void TiComponent::paintEvent(QPaintEvent*)
{
    // Drawing must never throw out of a paint event; a failure leaves the
    // control blank and is reported once per paint.
    QPainter painter(this);
    run_widget_guarded([&] { paint_to(painter, size()); });
}
