#pragma once
// A parameter set: the settings of one instrument, codes 1..410, as
// engineering values. Code 0 (the manual output) is an output, not a setting,
// and never belongs to a set. The decimal places give the set's decimal
// values their resolution.
#include <map>
#include <string>

inline constexpr int kFirstSetCode = 1;

struct ParamSet {
    int address = -1; // the instrument the set was taken from
    int decimal_places = 0;
    std::map<int, float> values; // code -> value
};

// The mnemonic of a code: the Latin letters that end its name ("LoAL" for
// "下限报警LoAL"), or the whole name when it has no Chinese part ("AI-P:P").
std::string param_mnemonic(int code);

// A value as text at its parameter's resolution, a point whatever the
// desktop's language: the word of an enumerated code (the whole number when
// the value has no word), otherwise the value rounded to whole steps of the
// parameter and written with as many decimals as one step has: "-125.00" for
// an alarm limit at two decimal places, "12.5" for a program time, "600" for
// an integer code.
std::string set_value_text(int code, float value, int dec);

// Whether two values of `code` differ at the resolution both can show (the
// fewer of the two decimal places).
bool set_values_differ(int code, float a, int dec_a, float b, int dec_b);
