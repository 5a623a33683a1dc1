#pragma once
// Parameter conversions bound to the shared state: the code comes from
// cur_code, the clamped value lives in para_value.
#include <string>
#include <string_view>

// Clamps para_value by the catalogue range of cur_code.
void parachange();

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

// Word of `value` for an enumerated cur_code; empty otherwise or without word.
std::string get_com_string(float value);

// Position of `text` in cur_code's word table; EConvertError naming the text
// and the parameter when it is not a word of it.
int get_com_byte(std::string_view text);
