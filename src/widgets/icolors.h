#pragma once
// Colours as the form stores them: a 32-bit value with red in the low byte,
// then green, then blue (top byte 0). tcolor() turns one into a QColor.
#include <QColor>

using TColor = unsigned;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSkyBlue = 0xF0CAA6;

// Red from bits 0..7, green from 8..15, blue from 16..23; the top byte is ignored.
QColor tcolor(TColor value);

// The inverse of tcolor() for an opaque colour.
TColor to_tcolor(const QColor& colour);

// Each RGB channel divided by 3 (integer division): the dim "off" look of a
// lamp or segment derived from its lit colour.
QColor third_color(const QColor& colour);
