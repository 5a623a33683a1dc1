#include "iLed.h"

#include "icolors.h"

TiLed::TiLed(QWidget* parent)
    : TiCustomComponent(parent)
{
    resize(20, 20);
}

void TiLed::SetActive(bool on)
{
    if (on == active_)
        return;
    active_ = on;
    invalidate();
    if (OnChange)
        OnChange(this);
}

void TiLed::SetActiveColor(const QColor& colour)
{
    if (colour == active_color_)
        return;
    active_color_ = colour;
    invalidate();
}

void TiLed::SetAutoInactiveColor(bool on)
{
    if (on == auto_inactive_)
        return;
    auto_inactive_ = on;
    invalidate();
}

void TiLed::SetInactiveColor(const QColor& colour)
{
    if (colour == inactive_color_)
        return;
    inactive_color_ = colour;
    invalidate();
}

void TiLed::SetBevelStyle(TiBevelStyle style)
{
    if (style == bevel_)
        return;
    bevel_ = style;
    invalidate();
}

void TiLed::SetShowReflection(bool on)
{
    if (on == show_reflection_)
        return;
    show_reflection_ = on;
    invalidate();
}

QColor TiLed::lamp_color() const
{
    if (active_)
        return active_color_;
    return auto_inactive_ ? third_color(active_color_) : inactive_color_;
}
