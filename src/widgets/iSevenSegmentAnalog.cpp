#include "iSevenSegmentAnalog.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

int cell_count(const SevenSegmentAnalogParams& p)
{
    return p.show_sign ? p.digit_count + 1 : p.digit_count;
}

} // namespace

QSize seven_segment_analog_size(const SevenSegmentAnalogParams& p)
{
    const int n = cell_count(p);
    const int t = p.segment_size;
    return QSize((10 * t + p.digit_spacing) * n + 2 * p.segment_margin - p.digit_spacing,
        18 * t + 2 * p.segment_margin);
}

std::vector<SevenSegmentCell> seven_segment_analog_cells(const SevenSegmentAnalogParams& p, QSize size)
{
    std::vector<SevenSegmentCell> cells;
    const int n = cell_count(p);
    const int sp = p.digit_spacing;
    const int c = (size.width() - 2 * p.segment_margin - (n - 1) * sp) / n;
    const int h = size.height() - 2 * p.segment_margin;
    int x = (size.width() + sp - n * (c + sp)) / 2;
    const int y = p.segment_margin;
    auto put = [&](int code) {
        cells.push_back({ QRect(x, y, c, h), code });
        x += c + sp;
    };

    const bool negative = p.value < 0;
    // A value that is not finite has no digits to show: it reads as an overflow.
    QString text = std::isfinite(p.value) ? QString::number(std::fabs(p.value), 'f', p.precision)
                                          : QString(p.digit_count + 2, QChar(u'9'));
    QString integer_part = text, fraction;
    QChar separator;
    for (QChar sep : { QChar(u'.'), QChar(u',') }) {
        const int at = text.indexOf(sep);
        if (at >= 0) {
            integer_part = text.left(at);
            fraction = text.mid(at + 1);
            separator = sep;
            break;
        }
    }

    if (p.show_sign)
        put(negative ? sscMinus : sscPlus);

    const int limit = p.precision > 0 ? p.digit_count + 1 : p.digit_count;
    if (text.size() > limit) {
        for (int i = 0; i < p.digit_count; ++i)
            put(p.value >= 0 ? sscUpArrow : sscDownArrow);
        return cells;
    }

    const int integer_width = p.digit_count - p.precision;
    if (p.leading != ilsNone) {
        const QChar fill = p.leading == ilsZeros ? QChar(u'0') : QChar(u' ');
        while (integer_part.size() < integer_width)
            integer_part.prepend(fill);
    }
    for (QChar ch : integer_part)
        put(char_to_segment_code(ch));

    if (p.precision > 0 && p.digit_count > 1) {
        const int point_x = x - round_to_pixel(c / 10.0 + sp / 2.0);
        cells.push_back({ QRect(point_x, y, c / 5, h), separator == u'.' ? sscPeriod : sscComma });
        fraction = fraction.left(p.precision);
        while (fraction.size() < p.precision)
            fraction.prepend(u'0');
        const int shown = std::min(p.precision, p.digit_count - 1);
        for (int i = 0; i < shown; ++i)
            put(char_to_segment_code(fraction[i]));
    }
    return cells;
}

TiSevenSegmentAnalog::TiSevenSegmentAnalog(QWidget* parent)
    : TiSevenSegmentDisplay(parent)
{
    size_changed();
}

void TiSevenSegmentAnalog::SetValue(double value)
{
    if (value > 1e15)
        value = 1e15;
    if (value == value_ || (std::isnan(value) && std::isnan(value_)))
        return;
    value_ = value;
    invalidate();
    if (OnValueChange)
        OnValueChange(this);
}

void TiSevenSegmentAnalog::SetPrecision(int precision)
{
    precision = std::clamp(precision, 0, 13);
    if (precision == precision_)
        return;
    precision_ = precision;
    size_changed();
}

void TiSevenSegmentAnalog::SetDigitCount(int count)
{
    count = std::clamp(count, 1, 32);
    if (count == digit_count_)
        return;
    digit_count_ = count;
    size_changed();
}

void TiSevenSegmentAnalog::SetShowSign(bool on)
{
    if (on == show_sign_)
        return;
    show_sign_ = on;
    size_changed();
}

void TiSevenSegmentAnalog::SetLeadingStyle(TiLeadingStyle style)
{
    if (style == leading_)
        return;
    leading_ = style;
    invalidate();
}

SevenSegmentAnalogParams TiSevenSegmentAnalog::params() const
{
    SevenSegmentAnalogParams p;
    p.value = value_;
    p.precision = precision_;
    p.digit_count = digit_count_;
    p.show_sign = show_sign_;
    p.leading = leading_;
    p.digit_spacing = DigitSpacing();
    p.segment_margin = SegmentMargin();
    p.segment_size = SegmentSize();
    return p;
}

QSize TiSevenSegmentAnalog::preferred_size() const
{
    return seven_segment_analog_size(params());
}

void TiSevenSegmentAnalog::paint_to(QPainter& painter, QSize size) const
{
    paint_background(painter, size);
    const TiSevenSegmentCharacter drawer = character();
    for (const SevenSegmentCell& cell : seven_segment_analog_cells(params(), size))
        drawer.draw(painter, cell.rect.x(), cell.rect.y(), cell.rect.width(), cell.rect.height(), cell.code);
}
