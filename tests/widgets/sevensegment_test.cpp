// Seven-segment display: layout of the cells, the codes drawn in them, the
// pixels of lit segments, sizes, clamps and change notification.
#include "iSevenSegmentAnalog.h"
#include "icolors.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The codes of a row as text: "+" / "-" sign, digits, " " blank, "." point,
// "<" / ">" arrows.
std::string codes_of(const std::vector<SevenSegmentCell>& cells)
{
    std::string s;
    for (const auto& cell : cells)
        s += char(segment_code_to_char(cell.code).unicode());
    return s;
}

SevenSegmentAnalogParams form_params(double value, int digits = 6, int precision = 3, bool sign = true)
{
    SevenSegmentAnalogParams p;
    p.value = value;
    p.digit_count = digits;
    p.precision = precision;
    p.show_sign = sign;
    p.segment_size = 2;
    return p;
}

QSize preferred(const SevenSegmentAnalogParams& p)
{
    return seven_segment_analog_size(p);
}

// A display set up like the main panel of the form.
void set_like_form(TiSevenSegmentAnalog& d)
{
    d.SetDigitCount(6);
    d.SetPrecision(3);
    d.SetSegmentSize(2);
    d.SetSegmentColor(tcolor(65408));
    d.SetShowOffSegments(false);
    d.SetBorderStyle(ibsLowered);
}

QPoint centroid(const QPolygon& poly)
{
    long x = 0, y = 0;
    for (const QPoint& pt : poly) {
        x += pt.x();
        y += pt.y();
    }
    return QPoint(int(x / poly.size()), int(y / poly.size()));
}

// The segments a digit lights on an instrument (9 without its bottom segment).
std::string lit_segments(char digit)
{
    switch (digit) {
    case '0':
        return "abcdef";
    case '1':
        return "bc";
    case '2':
        return "abdeg";
    case '3':
        return "abcdg";
    case '4':
        return "bcfg";
    case '5':
        return "acdfg";
    case '6':
        return "acdefg";
    case '7':
        return "abc";
    case '8':
        return "abcdefg";
    case '9':
        return "abcfg";
    default:
        return "";
    }
}

} // namespace

TEST(SevenSegmentLayout, RowCodesForValues)
{
    struct Case {
        double value;
        int digits, precision;
        bool sign;
        TiLeadingStyle leading;
        const char* expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        { 25.4, 6, 3, true, ilsSpaces, "+ 25.400" },
        { -3.2, 6, 3, true, ilsSpaces, "-  3.200" },
        { 999.999, 6, 3, true, ilsSpaces, "+999.999" },
        { 999.9996, 6, 3, true, ilsSpaces, "+<<<<<<" },
        { -1000, 6, 3, true, ilsSpaces, "->>>>>>" },
        { 9999, 4, 0, true, ilsSpaces, "+9999" },
        { 10000, 4, 0, true, ilsSpaces, "+<<<<" },
        { 0, 4, 4, true, ilsSpaces, "+<<<<" },
        { -0.5, 3, 5, true, ilsSpaces, "->>>" },
        { 0, 6, 3, true, ilsSpaces, "+  0.000" },
        { -0.0, 6, 3, true, ilsSpaces, "+  0.000" },
        { -3.2, 6, 3, false, ilsSpaces, "  3.200" },
        { 3.2, 6, 3, true, ilsZeros, "+003.200" },
        { 3.2, 6, 3, true, ilsNone, "+3.200" },
        { 12.3456, 5, 2, true, ilsSpaces, "+ 12.35" },
        { inf, 4, 1, true, ilsSpaces, "+<<<<" },
        { -inf, 4, 1, true, ilsSpaces, "->>>>" },
    };
    for (const Case& c : cases) {
        SevenSegmentAnalogParams p = form_params(c.value, c.digits, c.precision, c.sign);
        p.leading = c.leading;
        EXPECT_EQ(codes_of(seven_segment_analog_cells(p, preferred(p))), c.expected)
            << "value " << c.value << " digits " << c.digits << " precision " << c.precision;
    }
}

TEST(SevenSegmentLayout, CellsAndPointGeometry)
{
    const SevenSegmentAnalogParams p = form_params(25.4);
    ASSERT_EQ(preferred(p), QSize(186, 46));
    const auto cells = seven_segment_analog_cells(p, QSize(186, 46));
    ASSERT_EQ(cells.size(), 8u);
    // Seven wide cells of 20 x 36 at 26-pixel steps from x 5, y 5.
    const int xs[] = { 5, 31, 57, 83, 109, 135, 161 };
    for (int i = 0, wide = 0; i < int(cells.size()); ++i) {
        if (cells[i].code == sscPeriod)
            continue;
        EXPECT_EQ(cells[i].rect, QRect(xs[wide], 5, 20, 36)) << "cell " << i;
        ++wide;
    }
    // The point sits in the gap between the last integer digit and the first
    // decimal, without taking a cell.
    const QRect point = cells[4].rect;
    EXPECT_EQ(cells[4].code, sscPeriod);
    EXPECT_GT(point.left(), cells[3].rect.right());
    EXPECT_LT(point.right(), cells[5].rect.left());
    EXPECT_EQ(point.width(), 4);
}

TEST(SevenSegmentLayout, NarrowControlGetsNarrowerCellsNeverFewer)
{
    const SevenSegmentAnalogParams p = form_params(25.4);
    const auto cells = seven_segment_analog_cells(p, QSize(137, 41));
    EXPECT_EQ(codes_of(cells), "+ 25.400");
    EXPECT_EQ(cells[0].rect.width(), (137 - 10 - 36) / 7);
    EXPECT_EQ(cells[0].rect.height(), 31);
    const auto tiny = seven_segment_analog_cells(p, QSize(60, 20));
    EXPECT_EQ(codes_of(tiny), "+ 25.400");
}

TEST(SevenSegmentDisplay, PreferredSizeAndAutoSize)
{
    TiSevenSegmentAnalog d;
    EXPECT_EQ(d.size(), QSize(84, 28)); // four digits, sign, stroke 1
    set_like_form(d);
    EXPECT_EQ(d.size(), QSize(186, 46));
    d.SetAutoSize(false);
    d.SetDigitCount(7);
    EXPECT_EQ(d.size(), QSize(186, 46));
    d.SetAutoSize(true);
    EXPECT_EQ(d.size(), d.preferred_size());
    EXPECT_EQ(d.size(), QSize(212, 46));
}

TEST(SevenSegmentDisplay, ClampsAndDefaults)
{
    TiSevenSegmentAnalog d;
    EXPECT_EQ(d.Precision(), 2);
    EXPECT_EQ(d.DigitCount(), 4);
    EXPECT_EQ(d.SegmentSize(), 1);
    EXPECT_EQ(d.SegmentMargin(), 5);
    EXPECT_EQ(d.DigitSpacing(), 6);
    EXPECT_EQ(d.BackGroundColor(), QColor(Qt::black));
    EXPECT_EQ(d.BorderStyle(), ibsNone);

    struct Case {
        void (TiSevenSegmentAnalog::*set)(int);
        int (TiSevenSegmentAnalog::*get)() const;
        int in, stored;
    };
    const Case cases[] = {
        { &TiSevenSegmentAnalog::SetPrecision, &TiSevenSegmentAnalog::Precision, -1, 0 },
        { &TiSevenSegmentAnalog::SetPrecision, &TiSevenSegmentAnalog::Precision, 20, 13 },
        { &TiSevenSegmentAnalog::SetDigitCount, &TiSevenSegmentAnalog::DigitCount, 0, 1 },
        { &TiSevenSegmentAnalog::SetDigitCount, &TiSevenSegmentAnalog::DigitCount, 40, 32 },
        { &TiSevenSegmentAnalog::SetSegmentSize, &TiSevenSegmentAnalog::SegmentSize, 0, 1 },
        { &TiSevenSegmentAnalog::SetSegmentSize, &TiSevenSegmentAnalog::SegmentSize, 200, 100 },
        { &TiSevenSegmentAnalog::SetSegmentMargin, &TiSevenSegmentAnalog::SegmentMargin, -4, 0 },
        { &TiSevenSegmentAnalog::SetSegmentSeperation, &TiSevenSegmentAnalog::SegmentSeperation, -1, 0 },
        { &TiSevenSegmentAnalog::SetDigitSpacing, &TiSevenSegmentAnalog::DigitSpacing, -3, -3 },
    };
    for (const Case& c : cases) {
        (d.*c.set)(c.in);
        EXPECT_EQ((d.*c.get)(), c.stored) << "input " << c.in;
    }
    d.SetValue(2e15);
    EXPECT_EQ(d.Value(), 1e15);
    d.SetValue(-2e15);
    EXPECT_EQ(d.Value(), -2e15);
}

TEST(SevenSegmentDisplay, SameValueRepaintsAndNotifiesOnce)
{
    TiSevenSegmentAnalog d;
    int changes = 0;
    d.OnValueChange = [&](QObject* sender) {
        EXPECT_EQ(sender, &d);
        ++changes;
    };
    const int before = d.repaint_requests();
    d.SetValue(12.5);
    d.SetValue(12.5);
    EXPECT_EQ(d.repaint_requests() - before, 1);
    EXPECT_EQ(changes, 1);
    d.SetPrecision(2); // already 2
    d.SetSegmentColor(Qt::white); // already white
    EXPECT_EQ(d.repaint_requests() - before, 1);
    // A clamped value equal to the stored one is no change either.
    d.SetPrecision(-5);
    const int after_zero = d.repaint_requests();
    d.SetPrecision(-1);
    EXPECT_EQ(d.repaint_requests(), after_zero);
}

// Renders the form's main-panel display and checks, cell by cell, that exactly
// the segments of the expected characters are lit in the form colour and all
// others show the background.
TEST(SevenSegmentRender, LitSegmentsMatchTheDigits)
{
    const QColor on = tcolor(65408);
    ASSERT_EQ(on, QColor(128, 255, 0));
    for (const auto& [value, expected] : { std::pair<double, std::string> { 25.4, "+ 25.400" },
             std::pair<double, std::string> { -3.2, "-  3.200" } }) {
        TiSevenSegmentAnalog d;
        set_like_form(d);
        d.SetValue(value);
        const QImage img = d.render_image();
        const auto cells = seven_segment_analog_cells(d.params(), d.size());
        ASSERT_EQ(codes_of(cells), expected);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const SevenSegmentCell& cell = cells[i];
            const int w = cell.rect.width(), h = cell.rect.height();
            auto lit_at = [&](QPoint local) { return img.pixelColor(cell.rect.topLeft() + local) == on; };
            if (cell.code <= ssc9 || cell.code == sscBlank) {
                const std::string lit = lit_segments(char(segment_code_to_char(cell.code).unicode()));
                for (int seg = seg_a; seg <= seg_g; ++seg) {
                    const QPoint c = centroid(segment_polygon(SevenSegment(seg), w, h, 2, 1));
                    EXPECT_EQ(lit_at(c), lit.find(char('a' + seg)) != std::string::npos)
                        << "value " << value << " cell " << i << " segment " << char('a' + seg);
                }
            } else if (cell.code == sscPeriod) {
                EXPECT_TRUE(lit_at(QPoint(w / 2, h - 2))) << "point of " << value;
            } else {
                // Sign cell: the plus bar sits in the upper half, the minus bar in the lower.
                const bool plus = cell.code == sscPlus;
                EXPECT_EQ(lit_at(QPoint(w / 2, round_to_pixel(4.5 * h / 18))), plus) << value;
                EXPECT_EQ(lit_at(QPoint(w / 2, round_to_pixel(13.5 * h / 18))), !plus) << value;
            }
        }
        // Nothing else of the row is lit: count lit pixels outside every cell.
        int stray = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                bool inside = false;
                for (const auto& cell : cells)
                    inside = inside || cell.rect.contains(x, y);
                if (!inside && img.pixelColor(x, y) == on)
                    ++stray;
            }
        EXPECT_EQ(stray, 0) << value;
    }
}

TEST(SevenSegmentRender, OffAndPowerOffColours)
{
    TiSevenSegmentAnalog d;
    set_like_form(d);
    d.SetValue(1.0); // "+  1.000": cell 3 shows "1" with a, d, e, f, g unlit
    const auto cells = seven_segment_analog_cells(d.params(), d.size());
    const QRect one = cells[3].rect;
    const QPoint seg_b_c = one.topLeft() + centroid(segment_polygon(seg_b, one.width(), one.height(), 2, 1));
    const QPoint seg_a_c = one.topLeft() + centroid(segment_polygon(seg_a, one.width(), one.height(), 2, 1));
    const QColor on(128, 255, 0), third(42, 85, 0), grey(128, 128, 128);

    EXPECT_EQ(d.render_image().pixelColor(seg_a_c), QColor(Qt::black));
    d.SetShowOffSegments(true);
    EXPECT_EQ(d.render_image().pixelColor(seg_a_c), third);
    EXPECT_EQ(d.render_image().pixelColor(seg_b_c), on);
    d.SetAutoSegmentOffColor(false);
    EXPECT_EQ(d.render_image().pixelColor(seg_a_c), grey);
    d.SetPowerOff(true);
    EXPECT_EQ(d.render_image().pixelColor(seg_b_c), grey);
}

TEST(SevenSegmentCharacter, TextMapping)
{
    EXPECT_EQ(char_to_segment_code(u'7'), ssc7);
    EXPECT_EQ(char_to_segment_code(u'A'), sscA);
    EXPECT_EQ(char_to_segment_code(u'f'), sscF);
    EXPECT_EQ(char_to_segment_code(u'x'), sscBlank);
    EXPECT_EQ(char_to_segment_code(u'<'), sscUpArrow);
    EXPECT_EQ(segment_code_to_char(sscB), QChar(u'b'));
    EXPECT_EQ(segment_code_to_char(sscComma), QChar(u','));
    EXPECT_EQ(segment_code_to_char(26), QChar(u'?'));
    EXPECT_EQ(segment_code_to_char(-1), QChar(u'?'));
}

TEST(SevenSegmentCharacter, ArrowsPointTheRightWay)
{
    // Up arrow: tip above the base line; down arrow: below it, both kept inside the cell.
    const auto up = segment_shapes(sscUpArrow, 20, 36, 2, 1, false);
    const auto down = segment_shapes(sscDownArrow, 20, 36, 2, 1, false);
    ASSERT_EQ(up.size(), 1u);
    ASSERT_EQ(down.size(), 1u);
    EXPECT_EQ(up[0].polygon, QPolygon({ QPoint(18, 18), QPoint(0, 18), QPoint(9, 9) }));
    EXPECT_EQ(down[0].polygon, QPolygon({ QPoint(18, 18), QPoint(0, 18), QPoint(9, 27) }));
    const auto flat = segment_shapes(sscUpArrow, 40, 10, 1, 1, false);
    EXPECT_EQ(flat[0].polygon.at(2).y(), 0);
    // Plus and minus carry their companion in the off colour only with off segments shown.
    EXPECT_EQ(segment_shapes(sscPlus, 20, 36, 2, 1, false).size(), 2u);
    const auto plus = segment_shapes(sscPlus, 20, 36, 2, 1, true);
    ASSERT_EQ(plus.size(), 3u);
    EXPECT_FALSE(plus[2].lit);
}
