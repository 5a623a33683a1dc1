#pragma once
// What a parameter may be set to: the range of values a cell of a code may
// hold, and a cell's text turned into the value to write.
#include <string>
#include <string_view>

// The values a grid cell of `code` may hold at an address with `dec` decimal
// places: the catalogue's range where it has one, otherwise what the write
// frame carries without folding.
struct ParamValueRange {
    double min = 0;
    double max = 0;
};
ParamValueRange param_value_range(int code, int dec);
// "-3000 .. 9999", "0.0001 .. 99.99".
std::string param_range_text(const ParamValueRange& range);

// A grid text of `code` as the value to write: an enumerated code takes its
// word or a number in its place, every other code a decimal number. Throws
// EConvertError when the text is no such value, or when the value lies
// outside param_value_range (the message then names the text and the range).
float grid_write_value(int code, std::string_view text, int dec);
