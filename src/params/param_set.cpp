#include "param_set.h"

#include "frame_codec.h"
#include "param_catalogue.h"
#include "param_text.h"

#include <algorithm>
#include <cstdlib>

std::string param_mnemonic(int code)
{
    const std::string name = param_name(code);
    size_t start = name.size();
    while (start > 0 && static_cast<unsigned char>(name[start - 1]) < 0x80)
        --start;
    return start < name.size() ? name.substr(start) : name;
}

// Whole units written with `digits` decimals, exactly (no binary fraction
// in between): -12500 with 2 digits is "-125.00".
static std::string units_text(long long units, int digits)
{
    const bool negative = units < 0;
    std::string text = std::to_string(negative ? -units : units);
    if (digits > 0) {
        if (text.size() <= static_cast<size_t>(digits))
            text.insert(0, static_cast<size_t>(digits) + 1 - text.size(), '0');
        text.insert(text.size() - static_cast<size_t>(digits), 1, '.');
    }
    return negative ? "-" + text : text;
}

std::string set_value_text(int code, float value, int dec)
{
    if (param_text_class(code) == TextClass::Enumerated) {
        const std::string word = enum_word(code, value);
        if (!word.empty())
            return word;
    }
    return units_text(write_units(code, value, dec), unit_digits(code, dec));
}

bool set_values_differ(int code, float a, int dec_a, float b, int dec_b)
{
    const int dec = std::min(dec_a, dec_b);
    return set_value_text(code, a, dec) != set_value_text(code, b, dec);
}
