#include "iSevenSegmentDisplay.h"

#include <algorithm>

TiSevenSegmentDisplay::TiSevenSegmentDisplay(QWidget* parent)
    : TiCustomComponent(parent)
{
    SetBackGroundColor(Qt::black);
}

#define STORE_AND_REPAINT(member, v)                                                                         \
    do {                                                                                                     \
        if ((member) == (v))                                                                                 \
            return;                                                                                          \
        (member) = (v);                                                                                      \
        invalidate();                                                                                        \
    } while (0)

#define STORE_AND_RESIZE(member, v)                                                                          \
    do {                                                                                                     \
        if ((member) == (v))                                                                                 \
            return;                                                                                          \
        (member) = (v);                                                                                      \
        size_changed();                                                                                      \
    } while (0)

void TiSevenSegmentDisplay::SetSegmentColor(const QColor& colour)
{
    STORE_AND_REPAINT(segment_color_, colour);
}
void TiSevenSegmentDisplay::SetSegmentOffColor(const QColor& colour)
{
    STORE_AND_REPAINT(segment_off_color_, colour);
}
void TiSevenSegmentDisplay::SetAutoSegmentOffColor(bool on)
{
    STORE_AND_REPAINT(auto_off_color_, on);
}
void TiSevenSegmentDisplay::SetShowOffSegments(bool on)
{
    STORE_AND_REPAINT(show_off_, on);
}
void TiSevenSegmentDisplay::SetPowerOff(bool on)
{
    STORE_AND_REPAINT(power_off_, on);
}
void TiSevenSegmentDisplay::SetSegmentSeperation(int gap)
{
    STORE_AND_REPAINT(separation_, std::max(gap, 0));
}
void TiSevenSegmentDisplay::SetSegmentSize(int size)
{
    STORE_AND_RESIZE(segment_size_, std::clamp(size, 1, 100));
}
void TiSevenSegmentDisplay::SetSegmentMargin(int margin)
{
    STORE_AND_RESIZE(margin_, std::max(margin, 0));
}
void TiSevenSegmentDisplay::SetDigitSpacing(int spacing)
{
    STORE_AND_RESIZE(spacing_, spacing);
}
void TiSevenSegmentDisplay::SetAutoSize(bool on)
{
    STORE_AND_RESIZE(auto_size_, on);
}

#undef STORE_AND_REPAINT
#undef STORE_AND_RESIZE

void TiSevenSegmentDisplay::size_changed()
{
    // An auto-sized display keeps its preferred size inside layouts too.
    const QSizePolicy::Policy policy = auto_size_ ? QSizePolicy::Fixed : QSizePolicy::Preferred;
    setSizePolicy(policy, policy);
    if (auto_size_)
        resize(preferred_size());
    updateGeometry();
    invalidate();
}

TiSevenSegmentCharacter TiSevenSegmentDisplay::character() const
{
    TiSevenSegmentCharacter c;
    c.SegmentColor = segment_color_;
    c.SegmentOffColor = segment_off_color_;
    c.AutoSegmentOffColor = auto_off_color_;
    c.SegmentSize = segment_size_;
    c.SegmentSeperation = separation_;
    c.ShowOffSegments = show_off_;
    c.PowerOff = power_off_;
    c.Margin = 0;
    return c;
}
