#include "param_value.h"

#include "convert.h"
#include "errors.h"
#include "frame_codec.h"
#include "param_catalogue.h"
#include "param_text.h"

#include <charconv>

ParamValueRange param_value_range(int code, int dec)
{
    const ParamRange catalogue = param_range(code);
    if (catalogue.clamped)
        return { catalogue.min, catalogue.max };
    const WriteLimits limits = write_limits(code, dec);
    return { limits.min, limits.max };
}

static std::string shortest_text(double v)
{
    // Shortest fixed-point text that reads back as the same float, with a
    // point whatever the desktop's language: 99.99f is "99.99", not
    // "99.98999786", and 0.0001f is "0.0001", not "1e-04".
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v), std::chars_format::fixed);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("?");
}

std::string param_range_text(const ParamValueRange& range)
{
    return shortest_text(range.min) + " .. " + shortest_text(range.max);
}

float grid_write_value(int code, std::string_view text, int dec)
{
    double value = 0;
    bool parsed = false;
    if (param_text_class(code) == TextClass::Enumerated) {
        try {
            value = enum_value(code, text);
            parsed = true;
        } catch (const EConvertError&) {
            // Not a word: a number typed in its place is taken as it is.
        }
    }
    if (!parsed)
        value = str_to_float(text);
    const ParamValueRange range = param_value_range(code, dec);
    // The single-precision value is what goes out, so the bounds are compared
    // as floats too (99.99 typed for a bound of 99.99f passes).
    const float single = static_cast<float>(value);
    if (!(single >= static_cast<float>(range.min) && single <= static_cast<float>(range.max)))
        throw EConvertError("'" + std::string(text) + "' 超出范围 " + param_range_text(range));
    return single;
}
