#include "iLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

namespace {
constexpr int shadow_offset = 2;
}

int label_border_width(TiLabelBorderStyle style)
{
    switch (style) {
    case ilbsNone:
        return 0;
    case ilbsSingle:
        return 1;
    default:
        return 2;
    }
}

TiLabel::TiLabel(QWidget* parent)
    : TiCustomComponent(parent)
{
    layout_changed();
}

void TiLabel::SetCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    layout_changed();
}

void TiLabel::SetAutoSize(bool on)
{
    if (on == auto_size_)
        return;
    auto_size_ = on;
    layout_changed();
}

void TiLabel::SetAlignment(TiAlignmentHorizontal alignment)
{
    if (alignment == alignment_)
        return;
    alignment_ = alignment;
    invalidate();
}

void TiLabel::SetBorderStyle(TiLabelBorderStyle style)
{
    if (style == label_border_)
        return;
    label_border_ = style;
    layout_changed();
}

void TiLabel::SetOuterMargins(int left, int top, int right, int bottom)
{
    const QMargins m(left, top, right, bottom);
    if (m == margins_)
        return;
    margins_ = m;
    layout_changed();
}

void TiLabel::SetShadowShow(bool on)
{
    if (on == shadow_)
        return;
    shadow_ = on;
    layout_changed();
}

QSize TiLabel::caption_size() const
{
    const QFontMetrics fm(font());
    const int border = label_border_width(label_border_);
    const int extra = shadow_ ? shadow_offset : 0;
    return QSize(2 * border + margins_.left() + margins_.right() + fm.horizontalAdvance(caption_) + extra,
        2 * border + margins_.top() + margins_.bottom() + fm.height() + extra);
}

void TiLabel::layout_changed()
{
    const QSizePolicy::Policy policy = auto_size_ ? QSizePolicy::Fixed : QSizePolicy::Preferred;
    setSizePolicy(policy, policy);
    if (auto_size_)
        resize(caption_size());
    updateGeometry();
    invalidate();
}

void TiLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        layout_changed();
    TiCustomComponent::changeEvent(event);
}

void TiLabel::paint_to(QPainter& painter, QSize size) const
{
    const QRect all(QPoint(0, 0), size);
    painter.fillRect(all, BackGroundColor());
    const int border = label_border_width(label_border_);
    const QRect text_rect = all.adjusted(border + margins_.left(), border + margins_.top(),
        -(border + margins_.right()), -(border + margins_.bottom()));
    int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    flags |= alignment_ == iahLeft ? Qt::AlignLeft
        : alignment_ == iahRight   ? Qt::AlignRight
                                   : Qt::AlignHCenter;
    painter.setFont(font());
    if (shadow_) {
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawText(text_rect.adjusted(shadow_offset, shadow_offset, 0, 0), flags, caption_);
    }
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(
        shadow_ ? text_rect.adjusted(0, 0, -shadow_offset, -shadow_offset) : text_rect, flags, caption_);
    switch (label_border_) {
    case ilbsSingle:
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(all.adjusted(0, 0, -1, -1));
        break;
    case ilbsLowered:
        draw_bevel(painter, all, ibsLowered, palette());
        break;
    case ilbsRaised:
        draw_bevel(painter, all, ibsRaised, palette());
        break;
    case ilbsNone:
        break;
    }
}
