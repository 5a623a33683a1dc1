#include "icolors.h"

QColor tcolor(TColor value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

TColor to_tcolor(const QColor& colour)
{
    return TColor(colour.red()) | (TColor(colour.green()) << 8) | (TColor(colour.blue()) << 16);
}

QColor third_color(const QColor& colour)
{
    return QColor(colour.red() / 3, colour.green() / 3, colour.blue() / 3);
}
