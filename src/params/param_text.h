#pragma once
// Text forms of parameter values, in both directions, and the write clamp.
#include <string>
#include <string_view>

// Digits after the point for the decimal class: 4 and 3 decimal places keep
// theirs, every other count shows 2.
int decimal_digits_for(int dec_places);

// Whole number nearest to v, halves to the even neighbour (2.5 -> 2, -0.5 -> 0).
double round_half_even(double v);

// "-12", "9600": the value rounded half to even, plain decimal.
std::string integer_text(double value);

// The value rounded to 4 significant digits and to `digits` decimals, the
// stricter of the two, written with exactly `digits` decimals ("123.50");
// scientific with 4 significant digits when the integer part needs more than
// 4 digits ("1.235E+4").
std::string decimal_text(double value, int digits);

// Word of an enumerated code for a value (rounded half to even); empty when the
// code has no words or the value has no word.
std::string enum_word(int code, double value);

// Position of `text` in the code's word table, compared exactly. A text that is
// not a word of the table raises EConvertError naming the text and the parameter.
int enum_value(int code, std::string_view text);

// The grid text of a value of `code` at an address with `dec_places` decimals.
std::string param_value_text(int code, float value, int dec_places);

// Cell text -> value to write: enumerated codes through their word table, all
// others read as a decimal number (EConvertError otherwise). Not clamped.
float param_text_to_value(int code, std::string_view text);

// The catalogue clamp applied before a value is written (strict tests, so the
// bounds themselves pass; code 2 below -500 becomes 0).
float clamp_param(int code, float value);
