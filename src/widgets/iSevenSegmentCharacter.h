#pragma once
// One seven-segment cell: the character codes, the segment patterns and the
// shapes of every code, and the drawer the displays use for each cell.
#include <QColor>
#include <QPolygon>
#include <QString>

#include <vector>

class QPainter;

enum TSevenSegmentCharacter {
    ssc0,
    ssc1,
    ssc2,
    ssc3,
    ssc4,
    ssc5,
    ssc6,
    ssc7,
    ssc8,
    ssc9,
    sscA,
    sscB,
    sscC,
    sscD,
    sscE,
    sscF,
    sscPeriod,
    sscColon,
    sscPlus,
    sscMinus,
    sscBlank,
    sscLine,
    sscUpArrow,
    sscDownArrow,
    sscSemiColon,
    sscComma
};

// Segment bits: bit 0 = a (top) ... bit 6 = g (middle).
enum SevenSegment { seg_a, seg_b, seg_c, seg_d, seg_e, seg_f, seg_g };

// Text character -> code; every character not listed is sscBlank.
TSevenSegmentCharacter char_to_segment_code(QChar ch);
// Code -> its (lower-case) text character; "?" for an unknown code.
QChar segment_code_to_char(int code);
// Segment pattern of codes 0..15 and blank; 0 for codes drawn as other shapes.
unsigned segment_mask(int code);
// Period, colon, semicolon and comma use a narrow cell (2 x size wide).
bool is_narrow_code(int code);

// The corner points of segment seg in a cell of w x h with stroke unit t and
// separation s, relative to the cell's origin.
QPolygon segment_polygon(SevenSegment seg, int w, int h, int t, int s);

// One filled shape of a cell: lit in the on colour, or drawn in the off colour.
struct SegmentShape {
    QPolygon polygon;
    bool lit;
};

// Every shape drawn for a code in a cell of w x h: lit shapes, and with
// show_off the unlit segments (and the companion of plus / minus) as off shapes.
std::vector<SegmentShape> segment_shapes(int code, int w, int h, int t, int s, bool show_off);

// R(x): nearest integer, halves to even.
int round_to_pixel(double x);

// The drawer of one cell with the display's colours and stroke settings.
class TiSevenSegmentCharacter {
public:
    QColor SegmentColor = Qt::white;
    QColor SegmentOffColor = QColor(128, 128, 128);
    bool AutoSegmentOffColor = true;
    int SegmentSize = 1;
    int SegmentSeperation = 1;
    bool ShowOffSegments = true;
    bool PowerOff = false;
    int Margin = 0;

    // The colour of lit segments (the off colour while PowerOff).
    QColor on_color() const;
    // The colour of unlit segments (thirds of SegmentColor when automatic).
    QColor off_color() const;

    // Draws code in the cell at (x0, y0) of w x h, inset by Margin.
    void draw(QPainter& painter, int x0, int y0, int w, int h, int code) const;
};
