#include "iSevenSegmentCharacter.h"

#include "icolors.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Rectangle from (l, t) to (r, b), right and bottom excluded, as a polygon.
QPolygon rect_polygon(int l, int t, int r, int b)
{
    if (r <= l)
        r = l + 1;
    if (b <= t)
        b = t + 1;
    return QPolygon({ QPoint(l, t), QPoint(r - 1, t), QPoint(r - 1, b - 1), QPoint(l, b - 1) });
}

QPolygon plus_bar(int w, int h, int t)
{
    return rect_polygon(round_to_pixel(2.5 * w / 10), round_to_pixel(4.5 * h / 18 - t / 2.0),
        round_to_pixel(7.5 * w / 10), round_to_pixel(4.5 * h / 18 + t / 2.0));
}

QPolygon plus_upright(int w, int h, int t)
{
    return rect_polygon(round_to_pixel(w / 2.0 - t / 2.0), round_to_pixel(2.0 * h / 18),
        round_to_pixel(w / 2.0 + t / 2.0), round_to_pixel(7.0 * h / 18));
}

QPolygon minus_bar(int w, int h, int t)
{
    return rect_polygon(round_to_pixel(2.5 * w / 10), round_to_pixel(13.5 * h / 18 - t / 2.0),
        round_to_pixel(7.5 * w / 10), round_to_pixel(13.5 * h / 18 + t / 2.0));
}

QPolygon dot(int cx, int y_top, int t)
{
    return rect_polygon(cx - t, y_top, cx + t, y_top + 2 * t);
}

QPolygon tail(int cx, int top, int bottom, int t)
{
    return QPolygon({ QPoint(cx, top), QPoint(cx + t, top), QPoint(cx, bottom) });
}

} // namespace

int round_to_pixel(double x)
{
    return int(std::nearbyint(x));
}

TSevenSegmentCharacter char_to_segment_code(QChar ch)
{
    const char16_t c = ch.unicode();
    if (c >= u'0' && c <= u'9')
        return TSevenSegmentCharacter(c - u'0');
    switch (c) {
    case u'a':
    case u'A':
        return sscA;
    case u'b':
    case u'B':
        return sscB;
    case u'c':
    case u'C':
        return sscC;
    case u'd':
    case u'D':
        return sscD;
    case u'e':
    case u'E':
        return sscE;
    case u'f':
    case u'F':
        return sscF;
    case u'.':
        return sscPeriod;
    case u':':
        return sscColon;
    case u'+':
        return sscPlus;
    case u'-':
        return sscMinus;
    case u'_':
        return sscLine;
    case u'<':
        return sscUpArrow;
    case u'>':
        return sscDownArrow;
    case u';':
        return sscSemiColon;
    case u',':
        return sscComma;
    default:
        return sscBlank;
    }
}

QChar segment_code_to_char(int code)
{
    static const char16_t table[] = u"0123456789abcdef.:+- _<>;,";
    if (code < 0 || code > sscComma)
        return QChar(u'?');
    return QChar(table[code]);
}

unsigned segment_mask(int code)
{
    static const unsigned masks[16]
        = { 0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x67, 0x77, 0x7C, 0x39, 0x5E, 0x79, 0x71 };
    if (code >= 0 && code < 16)
        return masks[code];
    return 0;
}

bool is_narrow_code(int code)
{
    return code == sscPeriod || code == sscColon || code == sscSemiColon || code == sscComma;
}

QPolygon segment_polygon(SevenSegment seg, int w, int h, int t, int s)
{
    const int W1 = w - 1, H1 = h - 1, hm = (h - 1) / 2, t2 = 2 * t;
    switch (seg) {
    case seg_a:
        return QPolygon({ QPoint(s, 0), QPoint(W1 - s, 0), QPoint(W1 - s - t2, t2), QPoint(s + t2, t2) });
    case seg_b:
        return QPolygon(
            { QPoint(W1, s), QPoint(W1, hm - s), QPoint(W1 - t2, hm - s - t2), QPoint(W1 - t2, s + t2) });
    case seg_c:
        return QPolygon({ QPoint(W1, hm + s), QPoint(W1, H1 - s), QPoint(W1 - t2, H1 - s - t2),
            QPoint(W1 - t2, hm + s + t2) });
    case seg_d:
        return QPolygon(
            { QPoint(s, H1), QPoint(W1 - s, H1), QPoint(W1 - s - t2, H1 - t2), QPoint(s + t2, H1 - t2) });
    case seg_e:
        return QPolygon(
            { QPoint(0, hm + s), QPoint(0, H1 - s), QPoint(t2, H1 - s - t2), QPoint(t2, hm + s + t2) });
    case seg_f:
        return QPolygon({ QPoint(0, s), QPoint(0, hm - s), QPoint(t2, hm - s - t2), QPoint(t2, s + t2) });
    case seg_g:
        return QPolygon({ QPoint(s, hm), QPoint(s + t, hm - t), QPoint(W1 - s - t, hm - t),
            QPoint(W1 - s, hm), QPoint(W1 - s - t, hm + t), QPoint(s + t, hm + t) });
    }
    return {};
}

std::vector<SegmentShape> segment_shapes(int code, int w, int h, int t, int s, bool show_off)
{
    std::vector<SegmentShape> shapes;
    const int cx = w / 2;
    if ((code >= ssc0 && code <= sscF) || code == sscBlank) {
        const unsigned mask = segment_mask(code);
        for (int seg = seg_a; seg <= seg_g; ++seg) {
            const bool lit = (mask >> seg) & 1u;
            if (lit || show_off)
                shapes.push_back({ segment_polygon(SevenSegment(seg), w, h, t, s), lit });
        }
        return shapes;
    }
    switch (code) {
    case sscPeriod:
        shapes.push_back({ rect_polygon(cx - t, h - 2 * t, cx + t, h), true });
        break;
    case sscColon:
        shapes.push_back({ dot(cx, round_to_pixel(5.0 * h / 18), t), true });
        shapes.push_back({ dot(cx, round_to_pixel(12.0 * h / 18), t), true });
        break;
    case sscSemiColon:
        shapes.push_back({ dot(cx, round_to_pixel(5.0 * h / 18), t), true });
        shapes.push_back(
            { rect_polygon(cx - t, round_to_pixel(11.0 * h / 18), cx + t, round_to_pixel(13.0 * h / 18)),
                true });
        shapes.push_back(
            { tail(cx, round_to_pixel(13.0 * h / 18), round_to_pixel(16.0 * h / 18), t), true });
        break;
    case sscComma:
        shapes.push_back(
            { rect_polygon(cx - t, round_to_pixel(11.0 * h / 18), cx + t, round_to_pixel(13.0 * h / 18)),
                true });
        shapes.push_back(
            { tail(cx, round_to_pixel(13.0 * h / 18), round_to_pixel(16.0 * h / 18), t), true });
        break;
    case sscPlus:
        shapes.push_back({ plus_bar(w, h, t), true });
        shapes.push_back({ plus_upright(w, h, t), true });
        if (show_off)
            shapes.push_back({ minus_bar(w, h, t), false });
        break;
    case sscMinus:
        shapes.push_back({ minus_bar(w, h, t), true });
        if (show_off) {
            shapes.push_back({ plus_bar(w, h, t), false });
            shapes.push_back({ plus_upright(w, h, t), false });
        }
        break;
    case sscLine:
        shapes.push_back({ rect_polygon(0, h - 2 * t, w, h), true });
        break;
    case sscUpArrow:
    case sscDownArrow: {
        const int k = (w - 1) / 2, cy = h / 2;
        const int tip = code == sscUpArrow ? std::max(cy - k, 0) : std::min(cy + k, h - 1);
        shapes.push_back({ QPolygon({ QPoint(k + k, cy), QPoint(k - k, cy), QPoint(k, tip) }), true });
        break;
    }
    default:
        break;
    }
    return shapes;
}

QColor TiSevenSegmentCharacter::off_color() const
{
    return AutoSegmentOffColor ? third_color(SegmentColor) : SegmentOffColor;
}

QColor TiSevenSegmentCharacter::on_color() const
{
    return PowerOff ? off_color() : SegmentColor;
}

void TiSevenSegmentCharacter::draw(QPainter& painter, int x0, int y0, int w, int h, int code) const
{
    const int iw = w - 2 * Margin, ih = h - 2 * Margin;
    if (iw <= 0 || ih <= 0)
        return;
    const QColor on = on_color(), off = off_color();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.translate(x0 + Margin, y0 + Margin);
    for (const SegmentShape& shape :
        segment_shapes(code, iw, ih, SegmentSize, SegmentSeperation, ShowOffSegments)) {
        const QColor& colour = shape.lit ? on : off;
        painter.setPen(colour);
        painter.setBrush(colour);
        painter.drawPolygon(shape.polygon);
    }
    painter.restore();
}
