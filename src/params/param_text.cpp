#include "param_text.h"

#include "convert.h"
#include "errors.h"
#include "param_catalogue.h"

#include <cfenv>
#include <charconv>
#include <cmath>

int decimal_digits_for(int dec_places)
{
    return dec_places == 4 ? 4 : dec_places == 3 ? 3 : 2;
}

double round_half_even(double v)
{
    // nearbyint rounds by the current mode; the default mode (to nearest)
    // sends halves to the even neighbour. Set it explicitly in case a library
    // changed it.
    const int old = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(v);
    std::fesetround(old);
    return r == 0 ? 0.0 : r;  // no "-0"
}

// Fixed-point text with a point whatever the desktop's language (printf
// would write a comma under a comma-decimal locale).
static std::string fixed_text(double value, int digits)
{
    char buf[400];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, digits);
    if (result.ec != std::errc())
        return "0";
    return std::string(buf, result.ptr);
}

std::string integer_text(double value)
{
    const double r = round_half_even(value);
    if (std::isnan(r))
        return "0";
    return fixed_text(r, 0);
}

static std::string scientific_text(double value)
{
    // 4 significant digits, exponent without padding: 1.235E+4, -2.000E+5.
    std::string mantissa = fixed_text(0.0, 3);
    int exponent = 0;
    if (value != 0) {
        exponent = static_cast<int>(std::floor(std::log10(std::fabs(value))));
        mantissa = fixed_text(value / std::pow(10.0, exponent), 3);
        // Rounding may carry to 10.000.
        if (mantissa.find("10.000") != std::string::npos) {
            ++exponent;
            mantissa = fixed_text(value / std::pow(10.0, exponent), 3);
        }
    }
    return mantissa + "E" + (exponent < 0 ? "-" : "+") + std::to_string(std::abs(exponent));
}

std::string decimal_text(double value, int digits)
{
    if (!std::isfinite(value))
        return value > 0 ? "INF" : value < 0 ? "-INF" : "NAN";
    if (value == 0)
        value = 0;  // drop the sign of -0
    const double magnitude = std::fabs(value);
    int keep = digits;
    if (magnitude > 0) {
        // Digits before the point; 4 significant digits leave 4 - that many decimals.
        const int before = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
        if (4 - before < keep)
            keep = 4 - before;
    }
    if (keep < 0)
        return scientific_text(value);
    const double scale = std::pow(10.0, keep);
    double rounded = std::round(value * scale) / scale;
    if (std::fabs(rounded) >= 10000.0)
        return scientific_text(value);
    if (rounded == 0)
        rounded = 0;
    return fixed_text(rounded, digits);
}

std::string enum_word(int code, double value)
{
    const auto& words = param_words(code);
    if (words.empty() || std::isnan(value))
        return {};
    const double r = round_half_even(value);
    if (r < 0 || r >= static_cast<double>(words.size()))
        return {};
    return words[static_cast<size_t>(r)];
}

int enum_value(int code, std::string_view text)
{
    const auto& words = param_words(code);
    for (size_t i = 0; i < words.size(); ++i)
        if (words[i] == text)
            return static_cast<int>(i);
    throw EConvertError("'" + std::string(text) + "' is not a value of parameter " + param_name(code));
}

std::string param_value_text(int code, float value, int dec_places)
{
    switch (param_text_class(code)) {
    case TextClass::Enumerated:
        return enum_word(code, value);
    case TextClass::Integer:
        return integer_text(value);
    case TextClass::ManualPower:
        return decimal_text(value, 2);
    case TextClass::Decimal:
        break;
    }
    return decimal_text(value, decimal_digits_for(dec_places));
}

float param_text_to_value(int code, std::string_view text)
{
    if (param_text_class(code) == TextClass::Enumerated)
        return static_cast<float>(enum_value(code, text));
    return static_cast<float>(str_to_float(text));
}

float clamp_param(int code, float value)
{
    const ParamRange range = param_range(code);
    if (!range.clamped)
        return value;
    if (value > range.max)
        value = range.max;
    if (value < range.min)
        value = code == 2 ? 0.0f : range.min;
    return value;
}
